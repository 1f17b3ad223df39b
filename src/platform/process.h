// Process start-up data and starting the runtime.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/environment.h"
#include "platform/failure.h"

namespace wexlo {

class Process {
 public:
  virtual ~Process() = default;

  // The argument list; entry 0 is the program as invoked. Windows splits its
  // UTF-16 command line, POSIX takes argv as it is.
  virtual Result<std::vector<std::string>> arguments() = 0;

  // A fresh copy of the process environment, with the platform's name rule.
  virtual Result<Environment> environment() = 0;

  // The directory under which ".wexlo" lives when no override is set, or
  // nothing when the platform's variables give none (APPDATA on Windows;
  // APPDATA, XDG_DATA_HOME, then HOME/.local/share on POSIX).
  virtual std::optional<std::string> defaultInstallRoot() = 0;

  // The absolute, link-resolved path of the launcher's own executable.
  virtual Result<std::string> selfExecutablePath() = 0;

  // Hands the run over to `program` with `argv` (entry 0 included) and
  // `environment`, sharing the standard streams and working directory. On
  // POSIX the program replaces the launcher, so this returns only when that
  // fails; on Windows it starts the program (with no console when the
  // launcher has none), waits for it and returns its whole 32-bit exit code.
  virtual Result<int> handOver(const std::string& program, const std::vector<std::string>& argv,
                               const Environment& environment) = 0;
};

Process& realProcess();

// Hands the C runtime's argv to the process layer at start-up (POSIX takes
// its argument list from here; Windows reads its own command line instead).
void setProcessArguments(int argc, char** argv);

}  // namespace wexlo
