// The build this launcher carries: its metadata text, application name and
// payload, read in place from the launcher's own executable file.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "format/footer.h"
#include "platform/failure.h"
#include "platform/file_system.h"

namespace wexlo {

struct OwnBuild {
  std::unique_ptr<MappedFile> image;  // keeps `build` valid while it lives
  EmbeddedBuild build;
};

// Maps `selfExecutablePath` and finds the build appended to it. InvalidExe:
// the file carries none (a bare stub, or a launcher stripped after packing);
// CorruptedData: its footer is damaged; otherwise the mapping's failure.
Result<OwnBuild> mapOwnBuild(FileSystem& fs, std::string_view selfExecutablePath);

// The error log text for a launcher whose own build could not be located
// (InvalidExe or CorruptedData from locateEmbeddedBuild).
std::string missingBuildMessage(Failure failure);

}  // namespace wexlo
