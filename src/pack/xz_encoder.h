// Compresses the payload archive into the xz stream a launcher decodes, and
// describes such a stream for `wexlo inspect`.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "pack/payload_encoder.h"
#include "platform/failure.h"

namespace wexlo {

// Block size when none is given; see README for how it was chosen.
inline constexpr std::uint64_t kDefaultXzBlockSize = std::uint64_t{8} << 20;
// The block sizes and thread counts the packer takes. Smaller blocks only
// bloat the index; a block's dictionary must stay within what a launcher
// decodes, and liblzma takes no more threads than this.
inline constexpr std::uint64_t kMinXzBlockSize = std::uint64_t{64} << 10;
inline constexpr std::uint64_t kMaxXzBlockSize = std::uint64_t{1} << 30;
inline constexpr std::uint32_t kMaxXzThreads = 16384;

struct XzOptions {
  std::uint32_t threads = 0;                       // 0: one per core
  std::uint64_t blockSize = 0;                     // 0: kDefaultXzBlockSize
  std::uint32_t preset = 9;                        // may carry LZMA_PRESET_EXTREME
  std::uint64_t memoryBudget = kPackMemoryBudget;  // cuts the thread count
};

using XzProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;

// One xz stream: check CRC32, LZMA2 alone, blocks of blockSize bytes each
// compressed on its own. The dictionary never exceeds the block or the
// input (`inputSize` bytes in all), which keeps the launcher's decoder and
// the encoder small. The same input and block size give the same bytes
// whatever the thread count and however the input is cut into pieces.
Result<std::unique_ptr<PayloadEncoder>> xzEncoder(const XzOptions& options, std::uint64_t inputSize,
                                                  CompressedSink sink);

// The same for input held whole. `progress` (may be empty) gets the input
// bytes consumed so far now and then.
Result<std::vector<std::uint8_t>> compressPayload(std::span<const std::uint8_t> input,
                                                  const XzOptions& options,
                                                  XzProgress progress = {});

// A CRC64 in 16 lower-case hex digits.
std::string crc64Text(std::uint64_t crc);
// The CRC64 of `bytes` so written.
std::string crc64Hex(std::span<const std::uint8_t> bytes);

struct XzStreamInfo {
  std::uint64_t compressedLength = 0;
  std::uint64_t decompressedLength = 0;
  std::uint64_t blockCount = 0;
  std::uint32_t check = 0;
};

// Reads the framing of one xz stream that fills `stream` exactly. Fails with
// UnrecognizedFormat for something that is not xz, Unsupported for block
// options liblzma does not know, CorruptedData for damaged framing.
Result<XzStreamInfo> describeXzStream(std::span<const std::uint8_t> stream);

}  // namespace wexlo
