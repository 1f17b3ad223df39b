#include "install/removal.h"

#include "platform/path.h"

namespace wexlo {

namespace {

// Nothing when another process holds a conflicting lock.
Result<std::optional<std::unique_ptr<FileLock>>> lockExclusively(FileSystem& fs,
                                                                 const std::string& path,
                                                                 bool wait) {
  auto lock = wait ? fs.lock(path, LockMode::Exclusive) : fs.tryLock(path, LockMode::Exclusive);
  if (lock) return std::optional(std::move(*lock));
  if (lock.error() == Failure::FileBusy) return std::nullopt;
  if (lock.error() == Failure::FileLocksUnsupported)
    return std::optional<std::unique_ptr<FileLock>>{};
  return fail(lock.error());
}

}  // namespace

bool isRemovalLeftover(std::string_view directoryName) {
  return directoryName.size() > kRemovalSuffix.size() && directoryName.ends_with(kRemovalSuffix);
}

Result<std::optional<RemovalLocks>> lockForRemoval(FileSystem& fs,
                                                   std::string_view installDirectory,
                                                   UnpackingRun unpacking) {
  auto install = lockExclusively(fs, joinPath({installDirectory, kInstallLockName}),
                                 unpacking == UnpackingRun::WaitForIt);
  if (!install) return fail(install.error());
  if (!*install) return std::nullopt;
  return addRunLockForRemoval(fs, installDirectory, std::move(**install));
}

Result<std::optional<RemovalLocks>> addRunLockForRemoval(FileSystem& fs,
                                                         std::string_view installDirectory,
                                                         std::unique_ptr<FileLock> install) {
  // A running runtime is never waited for: it may run for days.
  auto run = lockExclusively(fs, joinPath({installDirectory, kRunLockName}), false);
  if (!run) return fail(run.error());
  if (!*run) return std::nullopt;
  return RemovalLocks{std::move(install), std::move(**run)};
}

Result<bool> removeInstall(FileSystem& fs, std::string_view installDirectory, RemovalLocks locks) {
  const std::string aside = std::string(installDirectory) + std::string(kRemovalSuffix);
  if (auto cleared = fs.deleteTree(aside); !cleared) return fail(cleared.error());
  if (kOpenFilesPinTheirDirectory) {
    // Our own lock files would keep the directory from moving. A runtime
    // that starts in the moment between makes the rename fail instead.
    locks = {};
  }
  if (auto moved = fs.rename(installDirectory, aside); !moved) {
    const bool inUse = moved.error() == Failure::FileBusy || moved.error() == Failure::AccessDenied;
    if (kOpenFilesPinTheirDirectory && inUse) return false;
    return fail(moved.error());
  }
  locks = {};
  if (auto deleted = fs.deleteTree(aside); !deleted) return fail(deleted.error());
  return true;
}

}  // namespace wexlo
