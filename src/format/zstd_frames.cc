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

}  // namespace

bool isZstdPayload(std::span<const std::uint8_t> payload) {
  return payload.size() >= kZstdFrameMagic.size() &&
         std::equal(kZstdFrameMagic.begin(), kZstdFrameMagic.end(), payload.begin());
}

std::expected<ZstdFrames, DecodeFailure> readZstdFrames(std::span<const std::uint8_t> payload) {
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
    if (header.frameContentSize > UINT64_MAX - result.uncompressedSize) {
      return failZstd(ZSTD_error_dstSize_tooSmall);
    }
    result.frames.push_back({pos, frameSize, result.uncompressedSize, header.frameContentSize});
    result.uncompressedSize += header.frameContentSize;
    pos += frameSize;
  }
  return result;
}

}  // namespace wexlo
