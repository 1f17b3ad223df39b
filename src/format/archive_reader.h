// Walks a ZELPA archive in place: "ZELPA", entries back to back, "ZELPA".
// Each entry is u64 path length, path, u64 content length, content, u64 mode
// (integers little-endian). Nothing is copied or allocated.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "platform/failure.h"

namespace wexlo {

inline constexpr std::string_view kArchiveMagic = "ZELPA";

// The size of an archive holding entries of these path and content lengths:
// the magic at both ends, and three u64 fields per entry.
inline constexpr std::uint64_t kArchiveOverhead = 2 * kArchiveMagic.size();
inline constexpr std::uint64_t kArchiveEntryOverhead = 3 * sizeof(std::uint64_t);
inline constexpr std::uint64_t archiveEntrySize(std::uint64_t pathLength,
                                                std::uint64_t contentLength) {
  return kArchiveEntryOverhead + pathLength + contentLength;
}

struct ArchiveEntry {
  std::string_view path;
  std::span<const std::uint8_t> content;
  std::uint64_t mode = 0;
};

class ArchiveReader {
 public:
  // BadHeader unless the archive starts with "ZELPA".
  static Result<ArchiveReader> open(std::span<const std::uint8_t> archive);

  // The next entry, or nothing once the walk reaches the trailer's position
  // (the trailer itself is not required). CorruptedData when an entry's
  // lengths, path or content run past the trailer's position or its mode
  // past the buffer; a reader that failed keeps failing.
  Result<std::optional<ArchiveEntry>> next();

 private:
  explicit ArchiveReader(std::span<const std::uint8_t> archive)
      : archive_(archive),
        position_(kArchiveMagic.size()),
        end_(archive.size() - kArchiveMagic.size()) {}

  std::span<const std::uint8_t> archive_;
  std::size_t position_;
  std::size_t end_;
  bool failed_ = false;
};

// BadPathName unless `path` is a plain relative path of '/'-separated
// components: not empty, no leading or trailing '/', no empty, "." or ".."
// component, no backslash, NUL or drive letter.
Status checkEntryPath(std::string_view path);

}  // namespace wexlo
