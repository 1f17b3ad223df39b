// Removal of the installs of older versions of this application from the
// base directory, judged by the `_metadata.json` each install holds.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "console/message.h"
#include "metadata/build_metadata.h"
#include "metadata/semantic_version.h"
#include "platform/console.h"
#include "platform/failure.h"
#include "platform/file_system.h"

namespace wexlo {

// One install directory whose metadata file was read and understood.
struct InstallRecord {
  std::string metadataPath;
  std::string directory;
  BuildMetadata metadata;
  SemanticVersion version;
};

// Reads `directory`'s "_metadata.json". A file that cannot be opened, does not
// parse (a file larger than any record included), or holds an invalid
// "app_version" gets its error log line and yields nothing; so does a
// missing one, silently, while a launcher is unpacking the install. A file
// that opens but cannot be read fails (ReadFailed, OutOfMemory).
Result<std::optional<InstallRecord>> readInstallRecord(FileSystem& fs, ErrorLog& log,
                                                       std::string_view directory);

// Deletes every directory in `baseDirectory` holding the same application at
// a lower version than `currentInstallDirectory`, with one "[l]" line each,
// except installs in use (a runtime runs from one, or a launcher is
// unpacking it) and installs this user may not remove (another user's, or
// on a read-only file system), which are passed by silently. Links are
// never followed, and without a readable record for the current install
// nothing is deleted. A failure to list or to delete ends the cleanup.
// Leftovers of interrupted removals are deleted quietly.
Status removeOlderVersions(FileSystem& fs, Console& console, ErrorLog& log,
                           std::string_view baseDirectory,
                           std::string_view currentInstallDirectory);

}  // namespace wexlo
