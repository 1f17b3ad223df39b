#include "install/cleanup.h"

#include "install/location.h"
#include "install/removal.h"

namespace wexlo {

namespace {

// A record lacking the application name belongs to no application, so an
// empty name never matches, not even another empty one.
bool sameApplication(const InstallRecord& a, const InstallRecord& b) {
  return !a.metadata.appName.empty() && a.metadata.appName == b.metadata.appName;
}

bool mayNotChange(Failure failure) {
  return failure == Failure::AccessDenied || failure == Failure::ReadOnlyFileSystem;
}

bool isOlder(const InstallRecord& entry, const InstallRecord& reference) {
  return comparePrecedence(entry.version, reference.version) == std::strong_ordering::less;
}

// A directory without its marker whose install lock is held is not broken:
// a launcher is making it.
bool beingUnpacked(FileSystem& fs, std::string_view directory) {
  auto locked = fs.isLockedExclusively(joinPath({directory, kInstallLockName}));
  return locked && *locked;
}

}  // namespace

Result<std::optional<InstallRecord>> readInstallRecord(FileSystem& fs, ErrorLog& log,
                                                       std::string_view directory) {
  std::string metadataPath = joinPath({directory, kInstallMarkerName});

  auto file = fs.openForReading(metadataPath);
  if (!file) {
    if (file.error() == Failure::FileNotFound && beingUnpacked(fs, directory)) return std::nullopt;
    log.logError({"Failed to load the metadata file: ", metadataPath});
    return std::nullopt;
  }
  // Every run of every application in the base directory reads each record:
  // one far larger than any real record is not read whole.
  auto text = (*file)->readAll(kMaxMetadataRecordBytes + 1);
  if (!text && text.error() != Failure::StreamTooLong) return fail(text.error());

  auto metadata = text ? parseBuildMetadata(*text, log) : std::nullopt;
  if (!text) log.logError({"Error when parsing metadata: ", failureName(text.error())});
  if (!metadata) {
    log.logError({"Failed to parse metadata file: ", metadataPath});
    return std::nullopt;
  }
  auto version = parseSemanticVersion(metadata->appVersion);
  if (!version) {
    log.logError({"Failed to parse the app version: ", metadataPath});
    return std::nullopt;
  }
  return InstallRecord{std::move(metadataPath), std::string(directory), std::move(*metadata),
                       std::move(*version)};
}

Status removeOlderVersions(FileSystem& fs, Console& console, ErrorLog& log,
                           std::string_view baseDirectory,
                           std::string_view currentInstallDirectory) {
  auto entries = fs.listDirectory(baseDirectory);
  if (!entries) return fail(entries.error());

  auto reference = readInstallRecord(fs, log, currentInstallDirectory);
  if (!reference) return fail(reference.error());

  for (const DirectoryEntry& entry : *entries) {
    if (entry.kind != EntryKind::Directory) continue;
    std::string path = joinPath({baseDirectory, entry.name});
    if (isRemovalLeftover(entry.name)) {
      // What an interrupted removal left; it goes quietly, or next time.
      (void)fs.deleteTree(path);
      continue;
    }
    // This run's own install was read just now as the reference.
    if (*reference && path == currentInstallDirectory) continue;
    // Every directory is read, even without a reference, so that unreadable
    // installs are reported on every run.
    auto record = readInstallRecord(fs, log, path);
    if (!record) return fail(record.error());
    if (!*record || !*reference) continue;
    if (!sameApplication(**record, **reference) || !isOlder(**record, **reference)) continue;

    // An install that a runtime runs from, or that a launcher is unpacking,
    // is passed by; a later run removes it once it is free.
    auto locks = lockForRemoval(fs, path, UnpackingRun::PassBy);
    if (!locks && mayNotChange(locks.error())) continue;
    if (!locks) return fail(locks.error());
    if (!*locks) continue;
    auto removed = removeInstall(fs, path, std::move(**locks));
    // An install this user may not remove (another user's, or on a
    // read-only file system) stays for one who may, as long as it is whole.
    if (!removed && mayNotChange(removed.error()) && fs.checkExists(path)) continue;
    if (!removed) return fail(removed.error());
    if (!*removed) continue;
    // The line is a courtesy; failing to show it does not undo the removal.
    (void)writeMessage(console, StreamId::Error,
                       {"[l] Uninstalled older version (v", (*record)->metadata.appVersion, ")\n"});
  }
  return {};
}

}  // namespace wexlo
