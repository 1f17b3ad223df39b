// Builds a ZELPA archive in memory, the inverse of format/archive_reader.h.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "format/archive_reader.h"
#include "platform/failure.h"

namespace wexlo {

class ArchiveWriter {
 public:
  // `expectedSize` only reserves memory up front.
  explicit ArchiveWriter(std::size_t expectedSize = 0);

  // Appends one entry. BadPathName for a path the launcher would refuse.
  Status add(std::string_view path, std::span<const std::uint8_t> content, std::uint64_t mode);

  // Appends the trailer and hands over the archive.
  std::vector<std::uint8_t> finish() &&;

 private:
  void appendU64(std::uint64_t value);

  std::vector<std::uint8_t> bytes_;
};

}  // namespace wexlo
