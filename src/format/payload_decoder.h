// Decodes the embedded xz payload into the archive it carries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "format/xz_stream_layout.h"
#include "platform/failure.h"
#include "platform/memory.h"

namespace wexlo {

// The decoded archive: one buffer of exactly the declared length.
class PayloadBuffer {
 public:
  PayloadBuffer(std::unique_ptr<std::uint8_t[]> data, std::size_t size)
      : data_(std::move(data)), size_(size) {}

  std::span<const std::uint8_t> bytes() const { return {data_.get(), size_}; }
  // Gives back the memory of `part`, which nothing reads again.
  void release(std::span<const std::uint8_t> part) const { releasePages(part); }

 private:
  std::unique_ptr<std::uint8_t[]> data_;
  std::size_t size_ = 0;
};

// Decodes `compressed` (read in place, never copied) into one buffer of
// `decompressedLength` bytes. A payload that starts with the zstd frame magic
// is a run of zstd frames (see decodeZstdPayload); anything else is taken
// for one xz stream. The xz stream must have check none or CRC32 and
// LZMA2 alone in every block; it must decode to exactly the declared length.
// Blocks are decoded on up to `threads` threads at once (0: one per core),
// each straight into its part of the buffer; every block and its check is
// verified before this returns. When several blocks are damaged, the failure
// is that of the first in stream order. `done`, when given, is called from
// the decoding thread with each block's compressed bytes once nothing reads
// them any more, so a caller can give their memory back.
using BlockDoneFn = std::function<void(std::span<const std::uint8_t> compressedBlock)>;
std::expected<PayloadBuffer, DecodeFailure> decodePayload(std::span<const std::uint8_t> compressed,
                                                          std::uint64_t decompressedLength,
                                                          unsigned threads = 0,
                                                          const BlockDoneFn& done = {});

// The error log line that names a decoder's own result ("XZ/LZMA Decode
// Failed: 7", "ZSTD Decode Failed: <error name>"); empty for plain failures.
std::string decodeFailureLine(const DecodeFailure& failure);

}  // namespace wexlo
