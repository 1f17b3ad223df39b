// Packs the files of a release into one ZELPA archive, produced in order a
// piece at a time: each file is read as its turn comes, so the archive is
// never held whole.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "pack/pack_error.h"
#include "pack/release.h"

namespace wexlo {

using ByteProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;
// Takes the archive's bytes in order; a failure stops the archive.
using ArchiveSink = std::function<PackResult<void>(std::span<const std::uint8_t>)>;

// The archive's length in bytes, from the sizes the release was read with.
std::uint64_t releaseArchiveSize(const Release& release);

// Hands `sink` the archive of `release`, reading every file in its order. A
// file that changed into a link or special file, or changed its size, since
// the release was read is refused. With `deriveCookie`, the placeholder
// releases/COOKIE is replaced with a cookie made from a digest of the whole
// archive as it holds the placeholder (see cookieFromDigest): the entries
// after it are read once for that digest before they are handed on.
PackResult<void> streamReleaseArchive(const Release& release, bool deriveCookie,
                                      const ArchiveSink& sink);

// The whole archive in memory, with any cookie placeholder left in place.
PackResult<std::vector<std::uint8_t>> buildReleaseArchive(const Release& release);

}  // namespace wexlo
