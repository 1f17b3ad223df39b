#include "install/install.h"

#include <optional>
#include <string>

#include "format/archive_reader.h"
#include "format/payload_decoder.h"
#include "install/location.h"
#include "install/removal.h"
#include "install/unpack.h"
#include "metadata/payload_digest.h"
#include "platform/process_start.h"

namespace wexlo {

namespace {

std::span<const std::uint8_t> asBytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The run's answer to the test of `_metadata.json`: installed, not yet,
// installed from another build of this version, or a failure that the
// caller reports without ending badly.
enum class MarkerState { Present, Missing, OtherBuild, Unreadable };

// With `mustMatch`, the marker counts only when it holds exactly that text;
// without, its presence is enough.
MarkerState testMarker(FileSystem& fs, ErrorLog& log, std::string_view metadataPath,
                       std::optional<std::string_view> mustMatch) {
  Failure failure = Failure::FileNotFound;
  if (!mustMatch) {
    auto exists = fs.checkExists(metadataPath);
    if (exists) return MarkerState::Present;
    failure = exists.error();
  } else if (auto file = fs.openForReading(metadataPath); !file) {
    failure = file.error();
  } else {
    auto text = (*file)->readAll(mustMatch->size() + 1);
    if (text) return *text == *mustMatch ? MarkerState::Present : MarkerState::OtherBuild;
    if (text.error() == Failure::StreamTooLong) return MarkerState::OtherBuild;
    failure = text.error();
  }
  if (failure == Failure::FileNotFound) return MarkerState::Missing;
  log.logError({"We failed to open the destination directory with an unexpected error: ",
                failureName(failure)});
  return MarkerState::Unreadable;
}

Status decodeAndUnpack(FileSystem& fs, ErrorLog& log, const InstallRequest& request) {
  const EmbeddedBuild& build = request.build;
  // Decoding and writing overlap in bounded memory: each block's compressed
  // bytes are given back once it is decoded, and its decoded bytes reused
  // once its files are written.
  StreamOptions options;
  if (request.image != nullptr) {
    options.done = [image = request.image](auto bytes) { image->release(bytes); };
  }
  auto unpacked = [&]() -> std::expected<void, DecodeFailure> {
    auto stream = PayloadStream::open(build.payload, build.decompressedLength, options);
    if (!stream) return std::unexpected(stream.error());
    return unpackStream(fs, **stream, build.decompressedLength, request.installDirectory);
  }();
  if (!unpacked) {
    if (const auto line = decodeFailureLine(unpacked.error()); !line.empty()) log.logError({line});
    return fail(unpacked.error().failure);
  }
  return {};
}

// Writes the build metadata text, byte for byte, as the install's marker:
// under a temporary name first, so the marker is absent or complete.
Status writeMetadataFile(FileSystem& fs, std::string_view metadataPath,
                         std::string_view metadataText) {
  const std::string partial = std::string(metadataPath) + ".partial";
  if (auto written = fs.writeFile(partial, asBytes(metadataText), 0644); !written) return written;
  return fs.rename(partial, metadataPath);
}

// Takes a lock, waiting for it unless told not to; an empty one where the
// file system has no locks at all.
Result<std::unique_ptr<FileLock>> lockOptionally(FileSystem& fs, const std::string& path,
                                                 LockMode mode, bool wait = true) {
  auto lock = wait ? fs.lock(path, mode) : fs.tryLock(path, mode);
  if (!lock && lock.error() == Failure::FileLocksUnsupported) return nullptr;
  return lock;
}

// Takes a lock in the install directory, making the directory again when it
// is gone: a launcher whose install failed removes it, also while this one
// waits for a lock in it (the lock is then taken on the file made anew).
Result<std::unique_ptr<FileLock>> lockInInstall(FileSystem& fs, std::string_view installDirectory,
                                                std::string_view name, LockMode mode) {
  constexpr int kAttempts = 100;
  for (int attempt = 1;; ++attempt) {
    auto lock = lockOptionally(fs, joinPath({installDirectory, name}), mode);
    if (lock || lock.error() != Failure::FileNotFound || attempt == kAttempts) return lock;
    if (auto made = fs.makePath(installDirectory); !made) return fail(made.error());
  }
}

// The run lock, shared; none where the user can neither open nor create it
// (a read-only file system, another user's install). Nothing can be
// unpacked over such an install by this user anyway, and its owner's
// launchers still see every run that could take the lock.
Result<std::unique_ptr<FileLock>> holdRunLock(FileSystem& fs, std::string_view installDirectory) {
  auto lock = lockInInstall(fs, installDirectory, kRunLockName, LockMode::Shared);
  if (!lock &&
      (lock.error() == Failure::ReadOnlyFileSystem || lock.error() == Failure::AccessDenied)) {
    return nullptr;
  }
  return lock;
}

// A failed install leaves nothing: what it made goes the way an older
// install goes, under both locks. The run lock is not waited for; whoever
// holds it (a launcher waiting to unpack, or a runtime of another build)
// keeps the directory. The removal's own failure is not the run's: the
// run ends with the install's.
void removeFailedInstall(FileSystem& fs, std::string_view installDirectory,
                         std::unique_ptr<FileLock> unpacking,
                         std::optional<std::unique_ptr<FileLock>> heldRunLock) {
  std::optional<RemovalLocks> locks;
  if (heldRunLock) {
    locks = RemovalLocks{std::move(unpacking), std::move(*heldRunLock)};
  } else if (auto taken = addRunLockForRemoval(fs, installDirectory, std::move(unpacking));
             taken && *taken) {
    locks = std::move(**taken);
  }
  if (locks) (void)removeInstall(fs, installDirectory, std::move(*locks));
}

}  // namespace

Result<Installed> installIfNeeded(FileSystem& fs, ErrorLog& log, const InstallRequest& request) {
  const std::string_view installDirectory = request.installDirectory;
  const std::string_view metadataPath = request.metadataPath;
  const BuildMetadata& metadata = request.metadata;
  // A record with a payload digest tells this build from another one of the
  // same version, so only an exact copy of it marks the install as ours.
  std::optional<std::string_view> mustMatch;
  if (payloadDigestIn(metadata.options)) mustMatch = request.build.metadataText;
  auto test = [&] { return testMarker(fs, log, metadataPath, mustMatch); };
  auto quietEnd = [] { return Installed{InstallOutcome::EndRunQuietly, nullptr}; };

  if (auto made = fs.makePath(installDirectory); !made) return fail(made.error());
  if (test() == MarkerState::Unreadable) return quietEnd();
  auto inUse = holdRunLock(fs, installDirectory);
  if (!inUse && inUse.error() == Failure::IsDir) {
    log.logError({"the install's run lock ", joinPath({installDirectory, kRunLockName}),
                  " is a directory with files in it; remove it, then start again"});
    return Installed{InstallOutcome::Refused, nullptr};
  }
  if (!inUse) return fail(inUse.error());
  // Looked at again under the lock: an uninstall may have finished meanwhile.
  MarkerState state = test();
  if (state == MarkerState::Unreadable) return quietEnd();
  if (state == MarkerState::Present) return Installed{InstallOutcome::Ready, std::move(*inUse)};
  // Our own shared hold would keep the run lock from being taken exclusively
  // below, should the other build still be installed then.
  if (state == MarkerState::OtherBuild) inUse->reset();

  // Another launcher may be unpacking the same release right now: wait for
  // it, then look again, so each install is unpacked once and a running
  // runtime never sees its files rewritten. An uninstall, or that launcher
  // failing, may have removed the directory meanwhile.
  auto unpacking = lockInInstall(fs, installDirectory, kInstallLockName, LockMode::Exclusive);
  if (!unpacking) return fail(unpacking.error());
  state = test();
  if (state == MarkerState::Unreadable) return quietEnd();
  std::unique_ptr<FileLock> replacing;
  bool runLockHeld = false;
  if (state == MarkerState::OtherBuild) {
    // Files of a running runtime are never rewritten; nor is one waited
    // for, as it may run for days.
    auto unused =
        lockOptionally(fs, joinPath({installDirectory, kRunLockName}), LockMode::Exclusive, false);
    if (!unused && unused.error() == Failure::FileBusy) {
      log.logError({"a different build of ", metadata.appName, " ", metadata.appVersion,
                    " is running; close it, then start this one again"});
      return Installed{InstallOutcome::Refused, nullptr};
    }
    if (!unused) return fail(unused.error());
    replacing = std::move(*unused);
    runLockHeld = true;
    // Without its marker no launcher of the other build starts a half
    // rewritten install: it unpacks its own build once this one is done.
    if (auto removed = fs.deleteTree(metadataPath); !removed) return fail(removed.error());
    state = MarkerState::Missing;
  }
  if (state == MarkerState::Missing) {
    auto abandon = [&](Failure failure) {
      // Our own shared hold would keep the run lock from being taken.
      inUse->reset();
      std::optional<std::unique_ptr<FileLock>> held;
      if (runLockHeld) held = std::move(replacing);
      removeFailedInstall(fs, installDirectory, std::move(*unpacking), std::move(held));
      return fail(failure);
    };
    // A file size limit then ends the unpack with FileTooBig, not the
    // process without a word.
    const FileSizeLimitAsFailure sizeLimit;
    if (auto unpacked = decodeAndUnpack(fs, log, request); !unpacked) {
      return abandon(unpacked.error());
    }
    // The tree reaches the disk before the marker that vouches for it: a
    // crash or power loss never leaves a marker over missing data.
    if (auto flushed = fs.flushFileSystem(installDirectory); !flushed) {
      return abandon(flushed.error());
    }
    if (auto written = writeMetadataFile(fs, metadataPath, request.build.metadataText); !written) {
      return abandon(written.error());
    }
  }
  replacing.reset();
  // The run lock is taken again: the one taken first may belong to a
  // directory that was removed meanwhile.
  inUse = holdRunLock(fs, installDirectory);
  if (!inUse) return fail(inUse.error());
  return Installed{InstallOutcome::Ready, std::move(*inUse)};
}

}  // namespace wexlo
