// Mutated xz streams rarely keep their CRC32 fields right, and liblzma stops
// at the first wrong one. Rewriting them lets the fuzzers reach what those
// fields guard: header and footer flags, the index and the first block header.
#pragma once

#include <lzma.h>

#include <cstdint>
#include <vector>

namespace wexlo::fuzz {

inline void repairXzChecksums(std::vector<std::uint8_t>& stream) {
  constexpr std::size_t kEdge = LZMA_STREAM_HEADER_SIZE;
  if (stream.size() < 2 * kEdge) return;
  auto putCrc = [&](std::size_t at, std::size_t from, std::size_t length) {
    const std::uint32_t crc = lzma_crc32(stream.data() + from, length, 0);
    for (int i = 0; i < 4; ++i) stream[at + i] = static_cast<std::uint8_t>(crc >> (8 * i));
  };
  const std::size_t footer = stream.size() - kEdge;
  putCrc(8, 6, 2);
  putCrc(footer, footer + 4, 6);

  std::uint64_t indexSize = 4;
  for (int i = 0; i < 4; ++i) indexSize += std::uint64_t{stream[footer + 4 + i]} << (8 * i) << 2;
  if (indexSize > footer - kEdge) return;
  const std::size_t index = footer - indexSize;
  putCrc(footer - 4, index, indexSize - 4);

  const std::size_t blockHeaderSize = (stream[kEdge] + 1) * 4;
  if (stream[kEdge] != 0 && blockHeaderSize <= index - kEdge) {
    putCrc(kEdge + blockHeaderSize - 4, kEdge, blockHeaderSize - 4);
  }
}

}  // namespace wexlo::fuzz
