// Packs the files of a release into one ZELPA archive.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "pack/pack_error.h"
#include "pack/release.h"

namespace wexlo {

using ByteProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;

// Reads every file of `release` in its order. A file that changed into a
// link or special file since the release was read is refused.
PackResult<std::vector<std::uint8_t>> buildReleaseArchive(const Release& release,
                                                          const ByteProgress& progress = {});

}  // namespace wexlo
