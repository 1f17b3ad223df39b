#include "metadata/payload_digest.h"

namespace wexlo {

std::optional<std::string_view> payloadDigestIn(std::string_view options) {
  bool next = false;
  while (!options.empty()) {
    const auto start = options.find_first_not_of(' ');
    if (start == std::string_view::npos) break;
    options.remove_prefix(start);
    const auto end = options.find(' ');
    const std::string_view word = options.substr(0, end);
    if (next) return word;
    next = word == kPayloadDigestOption;
    options.remove_prefix(word.size());
  }
  return std::nullopt;
}

}  // namespace wexlo
