#include "install/install.h"

#include <optional>
#include <string>

#include "format/archive_reader.h"
#include "format/payload_decoder.h"
#include "install/location.h"
#include "install/removal.h"
#include "metadata/build_metadata.h"
#include "metadata/payload_digest.h"

namespace wexlo {

namespace {

std::span<const std::uint8_t> asBytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Creates each directory of `parent` below the install directory, one level
// at a time; directories that already exist are fine.
Status makeParents(FileSystem& fs, std::string_view installDirectory, std::string_view parent) {
  std::string current(installDirectory);
  while (!parent.empty()) {
    auto slash = parent.find('/');
    std::string_view component = parent.substr(0, slash);
    current = joinPath({current, component});
    if (auto made = fs.makeDirectory(current);
        !made && made.error() != Failure::PathAlreadyExists) {
      return made;
    }
    parent = slash == std::string_view::npos ? std::string_view() : parent.substr(slash + 1);
  }
  return {};
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

Status decodeAndUnpack(FileSystem& fs, ErrorLog& log, const EmbeddedBuild& build,
                       std::string_view installDirectory) {
  auto decoded = decodePayload(build.payload, build.decompressedLength);
  if (!decoded) {
    if (decoded.error().code != 0) {
      log.logError({"XZ/LZMA Decode Failed: ", std::to_string(decoded.error().code)});
    }
    return fail(decoded.error().failure);
  }
  // The decoded archive is released right after unpacking rather than kept
  // for the rest of the run: nothing reads it again.
  return unpackArchive(fs, decoded->bytes(), installDirectory);
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

}  // namespace

Status unpackArchive(FileSystem& fs, std::span<const std::uint8_t> archive,
                     std::string_view installDirectory) {
  auto reader = ArchiveReader::open(archive);
  if (!reader) return fail(reader.error());
  std::string lastParent;
  bool haveParent = false;
  while (true) {
    auto entry = reader->next();
    if (!entry) return fail(entry.error());
    if (!*entry) return {};
    const ArchiveEntry& e = **entry;
    if (auto safe = checkEntryPath(e.path); !safe) return safe;

    auto slash = e.path.rfind('/');
    std::string_view parent =
        slash == std::string_view::npos ? std::string_view() : e.path.substr(0, slash);
    // Entries come grouped by directory, so the previous entry's directories
    // usually exist already.
    if (!parent.empty() && !(haveParent && parent == lastParent)) {
      if (auto made = makeParents(fs, installDirectory, parent); !made) return made;
      lastParent = parent;
      haveParent = true;
    }
    std::string path = joinPath({installDirectory, e.path});
    if (auto written = fs.writeFile(path, e.content, static_cast<std::uint32_t>(e.mode & 0777));
        !written) {
      return written;
    }
  }
}

Result<Installed> installIfNeeded(FileSystem& fs, ErrorLog& log, const EmbeddedBuild& build,
                                  std::string_view installDirectory,
                                  std::string_view metadataPath) {
  // A record with a payload digest tells this build from another one of the
  // same version, so only an exact copy of it marks the install as ours.
  auto metadata = decodeBuildMetadata(build.metadataText);
  std::optional<std::string_view> mustMatch;
  if (metadata && payloadDigestIn(metadata->options)) mustMatch = build.metadataText;
  auto test = [&] { return testMarker(fs, log, metadataPath, mustMatch); };
  auto quietEnd = [] { return Installed{InstallOutcome::EndRunQuietly, nullptr}; };

  if (auto made = fs.makePath(installDirectory); !made) return fail(made.error());
  if (test() == MarkerState::Unreadable) return quietEnd();
  const std::string runLock = joinPath({installDirectory, kRunLockName});
  auto inUse = lockOptionally(fs, runLock, LockMode::Shared);
  if (!inUse) return fail(inUse.error());
  // Looked at again under the lock: an uninstall may have finished meanwhile.
  MarkerState state = test();
  if (state == MarkerState::Unreadable) return quietEnd();
  if (state == MarkerState::Present) return Installed{InstallOutcome::Ready, std::move(*inUse)};
  // Our own shared hold would keep the run lock from being taken exclusively
  // below, should the other build still be installed then.
  if (state == MarkerState::OtherBuild) inUse->reset();

  // An uninstall may have removed the directory while this run waited.
  if (auto made = fs.makePath(installDirectory); !made) return fail(made.error());
  // Another launcher may be unpacking the same release right now: wait for
  // it, then look again, so each install is unpacked once and a running
  // runtime never sees its files rewritten.
  auto unpacking =
      lockOptionally(fs, joinPath({installDirectory, kInstallLockName}), LockMode::Exclusive);
  if (!unpacking) return fail(unpacking.error());
  state = test();
  if (state == MarkerState::Unreadable) return quietEnd();
  std::unique_ptr<FileLock> replacing;
  if (state == MarkerState::OtherBuild) {
    // Files of a running runtime are never rewritten; nor is one waited
    // for, as it may run for days.
    auto unused = lockOptionally(fs, runLock, LockMode::Exclusive, false);
    if (!unused && unused.error() == Failure::FileBusy) {
      log.logError({"a different build of ", metadata->appName, " ", metadata->appVersion,
                    " is running; close it, then start this one again"});
      return Installed{InstallOutcome::Refused, nullptr};
    }
    if (!unused) return fail(unused.error());
    replacing = std::move(*unused);
    // Without its marker no launcher of the other build starts a half
    // rewritten install: it unpacks its own build once this one is done.
    if (auto removed = fs.deleteTree(metadataPath); !removed) return fail(removed.error());
    state = MarkerState::Missing;
  }
  if (state == MarkerState::Missing) {
    if (auto unpacked = decodeAndUnpack(fs, log, build, installDirectory); !unpacked) {
      return fail(unpacked.error());
    }
    // The tree reaches the disk before the marker that vouches for it: a
    // crash or power loss never leaves a marker over missing data.
    if (auto flushed = fs.flushFileSystem(installDirectory); !flushed) {
      return fail(flushed.error());
    }
    if (auto written = writeMetadataFile(fs, metadataPath, build.metadataText); !written) {
      return fail(written.error());
    }
  }
  replacing.reset();
  // The run lock is taken again: the one taken first may belong to a
  // directory that was removed meanwhile.
  inUse = lockOptionally(fs, runLock, LockMode::Shared);
  if (!inUse) return fail(inUse.error());
  return Installed{InstallOutcome::Ready, std::move(*inUse)};
}

}  // namespace wexlo
