// A ZELPA archive written: one entry's bytes around its content, or a whole
// archive built in memory; the inverse of format/archive_reader.h.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "format/archive_reader.h"
#include "platform/failure.h"

namespace wexlo {

// What comes before an entry's content: its path's length, the path and the
// content's length. A path the launcher would refuse fails with BadPathName.
Result<std::vector<std::uint8_t>> archiveEntryHead(std::string_view path,
                                                   std::uint64_t contentSize);
// What comes after it: its mode.
std::array<std::uint8_t, 8> archiveEntryTail(std::uint64_t mode);

class ArchiveWriter {
 public:
  // `expectedSize` only reserves memory up front.
  explicit ArchiveWriter(std::size_t expectedSize = 0);

  // Appends one entry. BadPathName for a path the launcher would refuse.
  Status add(std::string_view path, std::span<const std::uint8_t> content, std::uint64_t mode);

  // Appends the trailer and hands over the archive.
  std::vector<std::uint8_t> finish() &&;

 private:
  std::vector<std::uint8_t> bytes_;
};

}  // namespace wexlo
