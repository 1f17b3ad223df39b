// Starting the release's Erlang runtime: its paths, argument vector and
// environment, and handing over to it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "launch/runtime_config.h"
#include "metadata/build_metadata.h"
#include "metadata/start_mode.h"
#include "platform/console.h"
#include "platform/failure.h"
#include "platform/file_system.h"
#include "platform/process.h"

namespace wexlo {

struct ReleasePaths {
  std::string runtimeExecutable;  // erts-<erts_version>/bin/erl(.exe)
  std::string cookieFile;         // releases/COOKIE
  std::string libraryDirectory;   // lib
  std::string bootFile;           // releases/<app_version>/start
  std::string argumentsFile;      // releases/<app_version>/vm.args
  std::string configurationFile;  // releases/<app_version>/sys.config
  std::string configurationBase;  // releases/<app_version>/sys
};

ReleasePaths releasePaths(std::string_view installDirectory, const BuildMetadata& metadata);

// The 21 fixed arguments that boot the release in embedded mode, ending with
// "-extra", then the user's arguments (entries 1 onward of `arguments`). A
// service leaves out "-s elixir start_cli", so 18.
std::vector<std::string> runtimeArguments(const ReleasePaths& paths, std::string_view cookie,
                                          const std::vector<std::string>& arguments,
                                          StartMode mode = StartMode::CommandLine);

// Reads the cookie, copies the configuration of a release that configures
// itself at boot (see runtime_config.h), builds the argument vector and the
// runtime's environment, and runs the runtime. Returns the status the
// launcher must end with, or the failure that kept the runtime from running.
Result<int> launchRuntime(FileSystem& fs, Console& console, Process& process,
                          const std::vector<std::string>& arguments,
                          std::string_view selfExecutablePath, const BuildMetadata& metadata,
                          std::string_view installDirectory, const RunStampSource& stamp);

}  // namespace wexlo
