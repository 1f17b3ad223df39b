// Compresses the payload as the archive is made: the archive goes in a
// piece at a time, compressed bytes come out in order as they are ready, and
// neither is ever held whole.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "platform/failure.h"

namespace wexlo {

// What the encoders of one pack may take in memory, their threads' state
// and the blocks in flight together, so that the packer stays within about
// 512 MiB. With 8 MiB blocks, liblzma's level 9 takes 117 MiB a thread and
// zstd's level 19 about 97 MiB, so this is what cuts the thread count on a
// machine with many cores; one thread always runs.
inline constexpr std::uint64_t kPackMemoryBudget = std::uint64_t{448} << 20;

// Where compressed bytes go, in order. Returning false stops the encoder,
// which then fails with Canceled; the sink knows why.
using CompressedSink = std::function<bool(std::span<const std::uint8_t>)>;

class PayloadEncoder {
 public:
  virtual ~PayloadEncoder() = default;
  // Takes the next piece of input, of any size.
  virtual Result<void> write(std::span<const std::uint8_t> input) = 0;
  // Compresses what is left and hands out the rest.
  virtual Result<void> finish() = 0;
  // How many threads compress.
  virtual std::size_t threads() const = 0;
};

}  // namespace wexlo
