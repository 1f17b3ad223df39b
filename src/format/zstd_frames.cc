#include "format/zstd_frames.h"

#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>

namespace wexlo {
namespace {

std::unexpected<DecodeFailure> failZstd(ZSTD_ErrorCode code) {
  return std::unexpected(DecodeFailure{Failure::ParseError, 0, ZSTD_getErrorString(code)});
}

std::unexpected<DecodeFailure> failZstdResult(std::size_t result) {
  return failZstd(ZSTD_getErrorCode(result));
}

// The most the frame's blocks can decode to, read from their headers: a raw
// or RLE block its stated size, a compressed one the largest block the
// frame allows. A frame that declares more than this holds less than it
// declares, whatever its data.
std::uint64_t contentBound(std::span<const std::uint8_t> frame, std::size_t headerSize,
                           const ZSTD_frameHeader& header) {
  std::uint64_t bound = 0;
  std::size_t at = headerSize;
  while (frame.size() - at >= 3) {
    const std::uint32_t blockHeader = frame[at] | (frame[at + 1] << 8) | (frame[at + 2] << 16);
    const std::uint32_t type = (blockHeader >> 1) & 3;
    const std::uint32_t size = blockHeader >> 3;
    bound += type == 2 ? header.blockSizeMax : size;
    at += 3 + (type == 1 ? 1 : size);
    if ((blockHeader & 1) != 0 || at > frame.size()) break;
  }
  return bound;
}

}  // namespace

bool isZstdPayload(std::span<const std::uint8_t> payload) {
  return payload.size() >= kZstdFrameMagic.size() &&
         std::equal(kZstdFrameMagic.begin(), kZstdFrameMagic.end(), payload.begin());
}

std::expected<ZstdFrames, DecodeFailure> readZstdFrames(
    std::span<const std::uint8_t> payload,
    const std::function<void(std::span<const std::uint8_t>)>& walked) {
  ZstdFrames result;
  std::size_t pos = 0;
  while (pos < payload.size()) {
    const auto rest = payload.subspan(pos);
    ZSTD_frameHeader header{};
    const std::size_t headerResult = ZSTD_getFrameHeader(&header, rest.data(), rest.size());
    if (ZSTD_isError(headerResult)) return failZstdResult(headerResult);
    if (headerResult != 0) return failZstd(ZSTD_error_srcSize_wrong);  // cut inside the header
    // Without a content size a frame has no place of its own in the output,
    // and without a checksum damage could go unnoticed.
    if (header.frameType != ZSTD_frame || header.frameContentSize == ZSTD_CONTENTSIZE_UNKNOWN ||
        !header.checksumFlag || header.dictID != 0) {
      return failZstd(ZSTD_error_frameParameter_unsupported);
    }
    if (header.windowSize > header.frameContentSize || header.windowSize > kLargestZstdWindow) {
      return failZstd(ZSTD_error_frameParameter_windowTooLarge);
    }
    const std::size_t frameSize = ZSTD_findFrameCompressedSize(rest.data(), rest.size());
    if (ZSTD_isError(frameSize)) return failZstdResult(frameSize);
    if (header.frameContentSize > contentBound(rest.first(frameSize), header.headerSize, header)) {
      return failZstd(ZSTD_error_corruption_detected);
    }
    if (header.frameContentSize > UINT64_MAX - result.uncompressedSize) {
      return failZstd(ZSTD_error_dstSize_tooSmall);
    }
    if (walked) walked(rest.first(frameSize));
    result.frames.push_back({pos, frameSize, result.uncompressedSize, header.frameContentSize});
    result.uncompressedSize += header.frameContentSize;
    pos += frameSize;
  }
  return result;
}

}  // namespace wexlo
