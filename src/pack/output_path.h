// Where the packer may write its launcher.
#pragma once

#include <filesystem>
#include <optional>

#include "pack/pack_error.h"

namespace wexlo {

// Refuses an output that would destroy what the pack reads: the stub, the
// packer itself, or anything inside the release directory (a later pack
// would carry the launcher, or the release would lose a file).
PackResult<void> checkOutputPath(const std::filesystem::path& output,
                                 const std::filesystem::path& stub,
                                 const std::optional<std::filesystem::path>& releaseDirectory);

}  // namespace wexlo
