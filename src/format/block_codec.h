// What the payload stream needs of a codec: the payload's blocks, each
// decoded and checked on its own by any worker.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <span>

#include "format/block_buffer.h"
#include "format/xz_stream_layout.h"

namespace wexlo {

class BlockCodec {
 public:
  // One worker's decoder, reused from block to block.
  class Decoder {
   public:
    virtual ~Decoder() = default;
    // Decodes block `index` into `out` (emptied first) and verifies its
    // check; `out` grows with what the block really holds, never past what
    // it declares.
    virtual std::expected<void, DecodeFailure> decode(std::size_t index, BlockBuffer& out) = 0;
  };

  virtual ~BlockCodec() = default;
  virtual std::size_t blockCount() const = 0;
  // The most any one block decodes to, as declared.
  virtual std::uint64_t largestBlock() const = 0;
  // What one decoder holds besides its output.
  virtual std::uint64_t decoderMemory() const = 0;
  // The block's compressed bytes, which nothing reads once it is decoded.
  virtual std::span<const std::uint8_t> compressedBytes(std::size_t index) const = 0;
  virtual std::expected<std::unique_ptr<Decoder>, DecodeFailure> makeDecoder() const = 0;
};

}  // namespace wexlo
