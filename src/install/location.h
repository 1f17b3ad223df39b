// Where installs live: the base directory ".wexlo" and one install directory
// per application, runtime and application version inside it.
#pragma once

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "console/message.h"
#include "platform/environment.h"
#include "platform/file_system.h"
#include "platform/path.h"
#include "platform/process.h"

namespace wexlo {

// Every complete install holds this file, a byte copy of its build's
// metadata text, written last.
inline constexpr std::string_view kInstallMarkerName = "_metadata.json";

// The application name with a-z upper-cased, then "_INSTALL_DIR".
std::string overrideVariableName(std::string_view appName);

// "<app>_erts-<erts_version>_<app_version>".
std::string installDirectoryName(std::string_view appName, std::string_view ertsVersion,
                                 std::string_view appVersion);

// The base directory: the override variable's value (announced with two
// notice lines) or the platform's default root, joined with ".wexlo".
// Fails with AppDataDirUnavailable when neither gives a root.
Result<std::string> resolveBaseDirectory(Console& console, const Environment& environment,
                                         Process& process, std::string_view appName);

// Creates the base directory with its missing parents and returns the
// install directory path inside it. A failure here means the location is
// unusable: the caller reports it with reportInstallLocationFailure.
Result<std::string> resolveInstallDirectory(FileSystem& fs, std::string_view baseDirectory,
                                            std::string_view installDirectoryName);

// The error message for a runtime at `runtimePath` that the platform cannot
// start because the path is longer than `longest` UTF-16 units: it names
// the limit and the override variable. Nothing when the path fits.
std::optional<std::string> runtimePathTooLong(std::string_view runtimePath,
                                              std::string_view appName,
                                              std::optional<std::size_t> longest);

// The five-line explanation of an unusable install location.
void reportInstallLocationFailure(Console& console, std::string_view appName);

}  // namespace wexlo
