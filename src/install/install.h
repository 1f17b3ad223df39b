// Unpacking the embedded release into its install directory, once.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "console/message.h"
#include "format/footer.h"
#include "platform/file_system.h"

namespace wexlo {

enum class InstallOutcome {
  Ready,          // the release is installed; the run goes on
  EndRunQuietly,  // the install test failed unexpectedly: end with status 0
  Refused,        // another build of this version runs from the install: the
                  // error line is printed, end with status 1
};

struct Installed {
  InstallOutcome outcome = InstallOutcome::Ready;
  // The install's run lock, held shared for as long as the run and its
  // runtime last so that no launcher removes the install under them; empty
  // where the file system has no locks.
  std::unique_ptr<FileLock> inUse;
};

// Makes the install directory, and unless its `_metadata.json` exists,
// decodes the payload, unpacks every entry and writes `_metadata.json` last,
// whole or not at all. The install lock keeps two launchers from unpacking
// over each other. When the build's metadata carries a payload digest, a
// marker that differs from it byte for byte is another build of the same
// version: it is unpacked over unless a runtime runs from it (Refused).
Result<Installed> installIfNeeded(FileSystem& fs, ErrorLog& log, const EmbeddedBuild& build,
                                  std::string_view installDirectory, std::string_view metadataPath);

// Writes every archive entry below `installDirectory`, creating parent
// directories on first need. Entries whose paths could escape the install
// directory are refused with BadPathName before anything of them is written.
Status unpackArchive(FileSystem& fs, std::span<const std::uint8_t> archive,
                     std::string_view installDirectory);

}  // namespace wexlo
