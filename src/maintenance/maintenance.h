// The "maintenance" sub-commands: uninstall, directory, meta.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/console.h"
#include "platform/failure.h"
#include "platform/file_system.h"

namespace wexlo {

// True when the argument list asks for a maintenance run: entry 1 is exactly
// "maintenance".
bool isMaintenanceRun(const std::vector<std::string>& arguments);

// Runs the sub-command named by entry 2 and returns the exit status (0), or
// the failure that ends the run.
Result<int> runMaintenance(FileSystem& fs, Console& console,
                           const std::vector<std::string>& arguments,
                           std::string_view installDirectory, std::string_view metadataText);

}  // namespace wexlo
