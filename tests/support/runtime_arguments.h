// The argument vector a launcher starts its runtime with, before the user's
// arguments: one table for the unit and black-box tests of every platform.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace wexlo::testing {

// For an install at `install` whose paths are joined with `separator`; a
// backslash means Windows, whose runtime is erl.exe.
inline std::vector<std::string> expectedRuntimeArguments(std::string_view install,
                                                         std::string_view ertsVersion,
                                                         std::string_view appVersion,
                                                         std::string_view cookie,
                                                         char separator = '/') {
  auto join = [&](std::initializer_list<std::string_view> pieces) {
    std::string path(install);
    for (std::string_view piece : pieces) (path += separator) += piece;
    return path;
  };
  const std::string release = join({"releases", appVersion});
  const std::string runtime = separator == '\\' ? "erl.exe" : "erl";
  return {join({"erts-" + std::string(ertsVersion), "bin", runtime}),
          "-elixir",
          "ansi_enabled",
          "true",
          "-noshell",
          "-s",
          "elixir",
          "start_cli",
          "-mode embedded",
          "-setcookie",
          std::string(cookie),
          "-boot",
          release + separator + "start",
          "-boot_var",
          "RELEASE_LIB",
          join({"lib"}),
          "-args_file",
          release + separator + "vm.args",
          "-config",
          release + separator + "sys.config",
          "-extra"};
}

}  // namespace wexlo::testing
