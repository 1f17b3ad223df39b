// Which launchers use an install, and removing one without pulling it from
// under them. Two lock files in each install directory tell:
//   ".wexlo-install.lock"  held exclusively by the launcher unpacking it;
//   ".wexlo-run.lock"      held shared by every run, for its runtime's life.
// Whoever removes an install takes both exclusively first.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/failure.h"
#include "platform/file_system.h"

namespace wexlo {

inline constexpr std::string_view kInstallLockName = ".wexlo-install.lock";
inline constexpr std::string_view kRunLockName = ".wexlo-run.lock";

// An install being removed is first renamed to its name plus this suffix,
// so it is never left half-deleted under its real name; later runs delete
// what an interrupted removal left.
inline constexpr std::string_view kRemovalSuffix = ".wexlo-removing";

bool isRemovalLeftover(std::string_view directoryName);

// Both locks of an install, held exclusively. Either may be empty where the
// file system has no locks.
struct RemovalLocks {
  std::unique_ptr<FileLock> install;
  std::unique_ptr<FileLock> run;
};

enum class UnpackingRun { WaitForIt, PassBy };

// Locks `installDirectory` for removal. Nothing (no failure) when it is in
// use: a runtime runs from it, or, with PassBy, a launcher is unpacking it.
Result<std::optional<RemovalLocks>> lockForRemoval(FileSystem& fs,
                                                   std::string_view installDirectory,
                                                   UnpackingRun unpacking);

// The same for a launcher that holds the install lock already (its own
// install failed): the run lock alone is tried, without waiting. Nothing
// when another launcher or a runtime holds it.
Result<std::optional<RemovalLocks>> addRunLockForRemoval(FileSystem& fs,
                                                         std::string_view installDirectory,
                                                         std::unique_ptr<FileLock> install);

// Renames the locked install aside, then deletes it. False, with nothing
// changed, when the platform refuses the rename because something in the
// install is in use.
Result<bool> removeInstall(FileSystem& fs, std::string_view installDirectory, RemovalLocks locks);

}  // namespace wexlo
