// The argument vector a launcher starts its runtime with, before the user's
// arguments: one table for the unit and black-box tests of every platform.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace wexlo::testing {

enum class Boot { CommandLine, Service };

// For an install at `install` whose paths are joined with `separator`; a
// backslash means Windows, whose runtime is erl.exe. 21 arguments, or 18 for
// a service, which has no start function.
inline std::vector<std::string> expectedRuntimeArguments(
    std::string_view install, std::string_view ertsVersion, std::string_view appVersion,
    std::string_view cookie, char separator = '/', Boot boot = Boot::CommandLine) {
  auto join = [&](std::initializer_list<std::string_view> pieces) {
    std::string path(install);
    for (std::string_view piece : pieces) (path += separator) += piece;
    return path;
  };
  const std::string release = join({"releases", appVersion});
  const std::string runtime = separator == '\\' ? "erl.exe" : "erl";
  std::vector<std::string> argv = {join({"erts-" + std::string(ertsVersion), "bin", runtime}),
                                   "-elixir", "ansi_enabled", "true", "-noshell"};
  if (boot == Boot::CommandLine) argv.insert(argv.end(), {"-s", "elixir", "start_cli"});
  argv.insert(argv.end(), {"-mode embedded", "-setcookie", std::string(cookie), "-boot",
                           release + separator + "start", "-boot_var", "RELEASE_LIB", join({"lib"}),
                           "-args_file", release + separator + "vm.args", "-config",
                           release + separator + "sys.config", "-extra"});
  return argv;
}

}  // namespace wexlo::testing
