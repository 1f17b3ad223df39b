// Walks a ZELPA archive (see archive_reader.h) as its bytes arrive, block by
// block: entry fields may straddle blocks, and an entry's content passes in
// pieces, each a part of one block, never copied. The rules are those of
// ArchiveReader, judged against the archive's total length, so an entry
// that would run past the trailer fails before any of its content passes.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "format/payload_stream.h"

namespace wexlo {

// The longest entry path taken; no file system takes one this long anyway.
inline constexpr std::uint64_t kLongestEntryPath = 64 * 1024;

class ArchiveStream {
 public:
  // `blocks` yields the archive's bytes, `size` of them in all.
  ArchiveStream(ByteBlocks& blocks, std::uint64_t size) : blocks_(blocks), size_(size) {}

  // Reads the leading magic: BadHeader unless the archive starts with "ZELPA".
  std::expected<void, DecodeFailure> open();

  struct Entry {
    std::string_view path;  // valid until the next call
    std::uint64_t size = 0;
  };
  // The next entry's path and content length, or nothing once the walk
  // reaches the trailer's position. Call once the previous entry's mode is
  // read. CorruptedData when the entry's lengths, path or content run past
  // the trailer's position or its mode past the end; BadPathName for a path
  // longer than kLongestEntryPath.
  std::expected<std::optional<Entry>, DecodeFailure> nextEntry();

  // The next piece of the entry's content, valid until the next call; empty
  // once all of it has passed.
  std::expected<std::span<const std::uint8_t>, DecodeFailure> nextPiece();

  // The entry's mode, once all of its content has passed.
  std::expected<std::uint64_t, DecodeFailure> mode();

  // Once nextEntry() found nothing more: whether the last entry ended right
  // at the trailer's position and "ZELPA" follows it.
  std::expected<bool, DecodeFailure> endsWithTrailer();

 private:
  // Copies the next `out.size()` bytes, across blocks.
  std::expected<void, DecodeFailure> read(std::span<std::uint8_t> out);
  std::expected<std::uint64_t, DecodeFailure> readU64();
  // Makes sure the current block has a byte left.
  std::expected<void, DecodeFailure> fill();

  ByteBlocks& blocks_;
  std::uint64_t size_;
  std::span<const std::uint8_t> block_;
  std::uint64_t position_ = 0;  // bytes passed, from the archive's start
  std::uint64_t contentLeft_ = 0;
  std::string path_;
};

}  // namespace wexlo
