// The launcher's whole run, from start-up data to its exit status.
#pragma once

#include "platform/console.h"
#include "platform/file_system.h"
#include "platform/process.h"

namespace wexlo {

struct Platform {
  FileSystem& fs;
  Console& console;
  Process& process;
};

// Runs the launcher and returns the status to exit with. On POSIX a run that
// starts the runtime does not return: the runtime replaces the launcher.
int runLauncher(const Platform& platform);

}  // namespace wexlo
