#include "metadata/start_mode.h"

#include <array>

namespace wexlo {

namespace {

// Options the packer writes with a value the user chose, which may hold any
// word, "--service" included; the scan stops at the first.
constexpr std::array<std::string_view, 3> kFreeTextOptions = {"--app-name", "--app-version",
                                                              "--erts-version"};

}  // namespace

StartMode startModeIn(std::string_view options) {
  while (!options.empty()) {
    const auto start = options.find_first_not_of(' ');
    if (start == std::string_view::npos) break;
    options.remove_prefix(start);
    const std::string_view word = options.substr(0, options.find(' '));
    if (word == kServiceOption) return StartMode::Service;
    for (std::string_view freeText : kFreeTextOptions) {
      if (word == freeText) return StartMode::CommandLine;
    }
    options.remove_prefix(word.size());
  }
  return StartMode::CommandLine;
}

std::string_view startModeName(StartMode mode) {
  return mode == StartMode::Service ? "service" : "command line";
}

}  // namespace wexlo
