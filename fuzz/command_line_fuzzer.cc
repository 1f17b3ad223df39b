// Quoting an argument list and splitting the line gives the list back. The
// lists come from splitting the input as a UTF-16 command line, and from the
// input as NUL-separated WTF-8 arguments.
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "platform/command_line.h"
#include "platform/windows_command_line.h"
#include "platform/wtf8.h"

namespace {

void checkSplitsBack(const std::vector<std::string>& argv, const std::string& line) {
  auto wide = wexlo::wtf8ToWtf16(line);
  FUZZ_CHECK(wide);
  FUZZ_CHECK(wexlo::splitCommandLine(*wide) == argv);
}

std::vector<std::string> splitAtNul(std::string_view bytes) {
  std::vector<std::string> pieces;
  for (std::size_t end; (end = bytes.find('\0')) != std::string_view::npos;) {
    pieces.emplace_back(bytes.substr(0, end));
    bytes.remove_prefix(end + 1);
  }
  pieces.emplace_back(bytes);
  return pieces;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // What the splitter gives holds no NUL and no quote in argument 0.
  const auto split = wexlo::splitCommandLine(wexlo::fuzz::utf16Units(data, size));
  auto line = wexlo::quoteCommandLine(split);
  FUZZ_CHECK(line);
  checkSplitsBack(split, *line);

  const auto argv = splitAtNul({reinterpret_cast<const char*>(data), size});
  for (const auto& argument : argv) {
    if (!wexlo::wtf8ToWtf16(argument)) return 0;
  }
  if (auto quoted = wexlo::quoteCommandLine(argv)) checkSplitsBack(argv, *quoted);
  return 0;
}
