#include "platform/path.h"

namespace wexlo {

namespace {

bool isSeparator(char c) {
#ifdef _WIN32
  return c == '/' || c == '\\';
#else
  return c == '/';
#endif
}

}  // namespace

bool isPlainPathComponent(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

std::string joinPath(std::initializer_list<std::string_view> pieces) {
  std::string path;
  bool first = true;
  for (std::string_view piece : pieces) {
    if (piece.empty()) continue;
    if (first) {
      path = piece;
      first = false;
      continue;
    }
    bool left = isSeparator(path.back());
    bool right = isSeparator(piece.front());
    if (left && right) {
      piece.remove_prefix(1);
    } else if (!left && !right) {
      path += kPathSeparator;
    }
    path += piece;
  }
  return path;
}

}  // namespace wexlo
