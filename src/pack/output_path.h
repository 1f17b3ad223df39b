// Where the packer may write its launcher.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "pack/pack_error.h"

namespace wexlo {

// A file the pack reads, and what error lines call it.
struct PackInput {
  std::filesystem::path path;
  std::string what;
};

// Refuses an output that is a directory, device, FIFO or socket (after
// following links), and one that would destroy what the pack reads: the stub, the
// packer itself, one of `inputs`, or anything inside the release directory
// (a later pack would carry the launcher, or the release would lose a file).
PackResult<void> checkOutputPath(const std::filesystem::path& output,
                                 const std::filesystem::path& stub,
                                 const std::optional<std::filesystem::path>& releaseDirectory,
                                 const std::vector<PackInput>& inputs = {});

}  // namespace wexlo
