#include "install/install.h"

#include <string>

#include "format/archive_reader.h"
#include "format/payload_decoder.h"
#include "install/location.h"
#include "install/removal.h"

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

// The run's answer to the existence test of `_metadata.json`: installed,
// not yet, or a failure that the caller reports without ending badly.
enum class MarkerState { Present, Missing, Unreadable };

MarkerState testMarker(FileSystem& fs, ErrorLog& log, std::string_view metadataPath) {
  auto exists = fs.checkExists(metadataPath);
  if (exists) return MarkerState::Present;
  if (exists.error() == Failure::FileNotFound) return MarkerState::Missing;
  log.logError({"We failed to open the destination directory with an unexpected error: ",
                failureName(exists.error())});
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

// Takes a lock; an empty one where the file system has no locks at all.
Result<std::unique_ptr<FileLock>> lockOptionally(FileSystem& fs, const std::string& path,
                                                 LockMode mode) {
  auto lock = fs.lock(path, mode);
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
  if (auto made = fs.makePath(installDirectory); !made) return fail(made.error());
  MarkerState state = testMarker(fs, log, metadataPath);
  if (state == MarkerState::Unreadable) return Installed{InstallOutcome::EndRunQuietly, nullptr};
  auto inUse = lockOptionally(fs, joinPath({installDirectory, kRunLockName}), LockMode::Shared);
  if (!inUse) return fail(inUse.error());
  // Looked at again under the lock: an uninstall may have finished meanwhile.
  state = testMarker(fs, log, metadataPath);
  if (state == MarkerState::Unreadable) return Installed{InstallOutcome::EndRunQuietly, nullptr};
  if (state == MarkerState::Present) return Installed{InstallOutcome::Ready, std::move(*inUse)};

  // An uninstall may have removed the directory while this run waited.
  if (auto made = fs.makePath(installDirectory); !made) return fail(made.error());
  // Another launcher may be unpacking the same release right now: wait for
  // it, then look again, so each install is unpacked once and a running
  // runtime never sees its files rewritten.
  auto unpacking =
      lockOptionally(fs, joinPath({installDirectory, kInstallLockName}), LockMode::Exclusive);
  if (!unpacking) return fail(unpacking.error());
  state = testMarker(fs, log, metadataPath);
  if (state == MarkerState::Unreadable) return Installed{InstallOutcome::EndRunQuietly, nullptr};
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
  // The run lock is taken again: the one taken first may belong to a
  // directory that was removed meanwhile.
  inUse = lockOptionally(fs, joinPath({installDirectory, kRunLockName}), LockMode::Shared);
  if (!inUse) return fail(inUse.error());
  return Installed{InstallOutcome::Ready, std::move(*inUse)};
}

}  // namespace wexlo
