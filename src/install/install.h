// Unpacking the embedded release into its install directory, once.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "console/message.h"
#include "format/footer.h"
#include "metadata/build_metadata.h"
#include "platform/file_system.h"

namespace wexlo {

enum class InstallOutcome {
  Ready,          // the release is installed; the run goes on
  EndRunQuietly,  // the install test failed unexpectedly: end with status 0
  Refused,        // another build of this version runs from the install, or
                  // a directory with files stands at the run lock's name: the
                  // error line is printed, end with status 1
};

struct Installed {
  InstallOutcome outcome = InstallOutcome::Ready;
  // The install's run lock, held shared for as long as the run and its
  // runtime last so that no launcher removes the install under them; empty
  // where the file system has no locks.
  std::unique_ptr<FileLock> inUse;
};

// What a run installs, and where.
struct InstallRequest {
  const EmbeddedBuild& build;
  const BuildMetadata& metadata;  // parsed from build.metadataText
  std::string_view installDirectory;
  std::string_view metadataPath;
  // The launcher's mapped image that holds the payload, so that the memory of
  // decoded blocks can be given back early; none where the payload is not
  // mapped from a file.
  const MappedFile* image = nullptr;
};

// Makes the install directory, and unless its `_metadata.json` exists,
// decodes the payload, unpacks every entry and writes `_metadata.json` last,
// whole or not at all. The install lock keeps two launchers from unpacking
// over each other. When the build's metadata carries a payload digest, a
// marker that differs from it byte for byte is another build of the same
// version: it is unpacked over unless a runtime runs from it (Refused).
Result<Installed> installIfNeeded(FileSystem& fs, ErrorLog& log, const InstallRequest& request);

}  // namespace wexlo
