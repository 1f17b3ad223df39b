// Runs Windows programs under Wine for black-box tests of the Windows
// launcher: either the plain way (`wine program args...`, where Wine builds
// the command line and adds its own variables) or through wine_starter.exe
// with an exact command line and environment block.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/process_runner.h"

namespace wexlo::testing {

// How a Windows program under Wine names a Linux path: "/tmp/a b" is
// "Z:\tmp\a b".
std::string windowsPath(const std::filesystem::path& path);

// True for the variables Wine adds to every process it starts (WINE*,
// SystemDrive, SystemRoot), which a launcher cannot keep out of its child.
bool isAddedByWine(std::string_view entry);

// The entries of `environment` that Wine did not add, in order.
std::vector<std::string> withoutWineEntries(const std::vector<std::string>& environment);

struct ExactRun {
  ProcessResult result;
  // The program's whole 32-bit exit code, as Windows reported it to the
  // starter (the Linux status holds only its low byte); nothing when the
  // starter itself failed.
  std::optional<std::uint32_t> exitCode;
};

class Wine {
 public:
  // `prefix` is the prepared Wine prefix (scripts/wine-prefix.sh).
  explicit Wine(std::filesystem::path prefix);

  // `wine program args...`. `options.environment` is the Linux environment
  // beyond what Wine itself needs; Wine hands it on, after replacing APPDATA,
  // PATH, TEMP and the like with the prefix's values.
  ProcessResult run(const std::filesystem::path& program, const std::vector<std::string>& args,
                    const ProcessOptions& options = {}) const;

  // The same on a terminal (a pseudo-terminal made by script(1)), which
  // Windows programs see as a console. Wine's console adds cursor escape
  // codes and line ends of its own, so the output is not byte-exact.
  ProcessResult runInTerminal(const std::filesystem::path& program,
                              const std::vector<std::string>& args,
                              const ProcessOptions& options = {}) const;

  // Starts `program` with exactly `commandLine` and the environment block of
  // `environment` ("NAME=value" entries, WTF-8; converted to UTF-16 as they
  // are). Standard streams and working directory come from `options`;
  // `detached` starts it without a console.
  ExactRun start(const std::filesystem::path& program, std::string_view commandLine,
                 const std::vector<std::string>& environment, const ProcessOptions& options = {},
                 bool detached = false) const;

  const std::filesystem::path& prefix() const { return prefix_; }

 private:
  std::vector<std::string> linuxEnvironment(const std::vector<std::string>& extra) const;

  std::filesystem::path prefix_;
  TempDir scratch_;
};

// The wine_starter.exe helper the test build makes beside fake_erl.exe.
std::filesystem::path wineStarterPath();
// And console_driver.exe, which sends a running launcher a Ctrl-C or ends it.
std::filesystem::path consoleDriverPath();

}  // namespace wexlo::testing
