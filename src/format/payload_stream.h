// A payload decoded block by block ahead of one in-order reader, in bounded
// memory: decoder workers fill a small ring of block buffers, and a block
// reaches the reader only once its check is verified.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <vector>

#include "format/block_buffer.h"
#include "format/block_codec.h"
#include "format/xz_stream_layout.h"

namespace wexlo {

// What a first run may take in memory. Decoded blocks and decoders take at
// most three quarters of it; the rest is the launcher itself and the
// compressed bytes in flight.
inline constexpr std::uint64_t kDecodeMemoryBudget = std::uint64_t{128} << 20;

// Bytes handed out in order, a span at a time; each span stays valid until
// the next call. Nothing once they are all out.
class ByteBlocks {
 public:
  virtual ~ByteBlocks() = default;
  virtual std::expected<std::optional<std::span<const std::uint8_t>>, DecodeFailure> next() = 0;
};

// One span holding everything.
class WholeBytes : public ByteBlocks {
 public:
  explicit WholeBytes(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::expected<std::optional<std::span<const std::uint8_t>>, DecodeFailure> next() override {
    if (given_) return std::nullopt;
    given_ = true;
    return bytes_;
  }

 private:
  std::span<const std::uint8_t> bytes_;
  bool given_ = false;
};

using BlockDoneFn = std::function<void(std::span<const std::uint8_t> compressedBlock)>;

struct StreamOptions {
  unsigned threads = 0;  // most decoding threads; 0: one per core
  std::uint64_t memoryBudget = kDecodeMemoryBudget;
  // Called with each block's compressed bytes once nothing reads them any
  // more, so a caller can give their memory back (a mapped file's pages are
  // read again when touched): from a decoding thread once the block is
  // decoded, and for a zstd frame also once the frame walk has passed it.
  BlockDoneFn done;
};

class PayloadStream : public ByteBlocks {
 public:
  // Judges the payload's framing and its declared length (a payload whose
  // blocks declare less than `decompressedLength` fails here, with nothing
  // decoded) and starts decoding. A payload that starts with the zstd frame
  // magic is a run of zstd frames; anything else is taken for one xz stream.
  static std::expected<std::unique_ptr<PayloadStream>, DecodeFailure> open(
      std::span<const std::uint8_t> compressed, std::uint64_t decompressedLength,
      const StreamOptions& options = {});

  // Starts the workers for `codec`'s blocks; open() does this.
  PayloadStream(std::unique_ptr<BlockCodec> codec, const StreamOptions& options);
  // Stops the workers; a block being decoded is finished first.
  ~PayloadStream() override;
  PayloadStream(const PayloadStream&) = delete;
  PayloadStream& operator=(const PayloadStream&) = delete;

  // The next block's decoded and checked bytes, valid until the next call;
  // the first damaged block's failure, in order, whatever the timing.
  std::expected<std::optional<std::span<const std::uint8_t>>, DecodeFailure> next() override;

  // How many threads decode and how many blocks the ring holds.
  std::size_t threads() const { return workers_.empty() ? 1 : workers_.size(); }
  std::size_t slots() const { return slots_.size(); }

 private:
  struct Slot {
    BlockBuffer buffer;
    std::size_t block = SIZE_MAX;  // the block decoded into it, once done
    std::optional<DecodeFailure> failure;
  };

  void work();
  void decodeInto(BlockCodec::Decoder* decoder, std::optional<DecodeFailure> noDecoder,
                  std::size_t index);

  std::unique_ptr<BlockCodec> codec_;
  BlockDoneFn done_;
  std::vector<Slot> slots_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t nextToDecode_ = 0;
  std::size_t reading_ = 0;  // the block the reader holds or waits for
  bool holding_ = false;
  std::size_t firstFailed_ = SIZE_MAX;
  bool stopping_ = false;
  std::unique_ptr<BlockCodec::Decoder> inlineDecoder_;  // when no thread could start
  std::vector<std::thread> workers_;
};

}  // namespace wexlo
