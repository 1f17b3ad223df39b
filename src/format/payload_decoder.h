// Decodes the embedded payload into the archive it carries, whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <vector>

#include "format/payload_stream.h"
#include "format/xz_stream_layout.h"
#include "platform/failure.h"
#include "platform/memory.h"

namespace wexlo {

// The decoded archive in one buffer.
class PayloadBuffer {
 public:
  explicit PayloadBuffer(std::vector<std::uint8_t> data) : data_(std::move(data)) {}

  std::span<const std::uint8_t> bytes() const { return data_; }
  // Gives back the memory of `part`, which nothing reads again.
  void release(std::span<const std::uint8_t> part) const { releasePages(part); }

 private:
  std::vector<std::uint8_t> data_;
};

// Decodes `compressed` (read in place, never copied) as PayloadStream does
// and gathers the blocks into one buffer, which grows with what the blocks
// hold rather than with what the payload declares. The xz stream must
// decode to exactly the declared length. Blocks are decoded on up to
// `threads` threads at once (0: one per core); when several are damaged,
// the failure is that of the first in stream order. `done` as in
// StreamOptions.
std::expected<PayloadBuffer, DecodeFailure> decodePayload(std::span<const std::uint8_t> compressed,
                                                          std::uint64_t decompressedLength,
                                                          unsigned threads = 0,
                                                          const BlockDoneFn& done = {});

// The error log line that names a decoder's own result ("XZ/LZMA Decode
// Failed: 7", "ZSTD Decode Failed: <error name>"); empty for plain failures.
std::string decodeFailureLine(const DecodeFailure& failure);

}  // namespace wexlo
