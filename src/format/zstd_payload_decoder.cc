#include "format/zstd_payload_decoder.h"

#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <bit>

#include "format/zstd_frames.h"

namespace wexlo {
namespace {

std::unexpected<DecodeFailure> failZstd(ZSTD_ErrorCode code) {
  if (code == ZSTD_error_memory_allocation) {
    return std::unexpected(DecodeFailure{Failure::OutOfMemory, 0, {}});
  }
  return std::unexpected(DecodeFailure{Failure::ParseError, 0, ZSTD_getErrorString(code)});
}

struct DCtxDeleter {
  void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};
using DCtxPtr = std::unique_ptr<ZSTD_DCtx, DCtxDeleter>;

class ZstdDecoder : public BlockCodec::Decoder {
 public:
  ZstdDecoder(std::span<const std::uint8_t> payload, const ZstdFrames& layout, DCtxPtr context)
      : payload_(payload), layout_(layout), context_(std::move(context)) {}

  std::expected<void, DecodeFailure> decode(std::size_t index, BlockBuffer& out) override {
    const ZstdFrame& frame = layout_.frames[index];
    const auto bytes = payload_.subspan(frame.compressedOffset, frame.compressedSize);
    // The frame walk held its declared size to what its blocks can hold.
    if (frame.uncompressedSize > SIZE_MAX || !out.resize(frame.uncompressedSize)) {
      return failZstd(ZSTD_error_memory_allocation);
    }
    // The library checks the content size and the checksum against the frame's header.
    const std::size_t decoded =
        ZSTD_decompressDCtx(context_.get(), out.data(), out.size(), bytes.data(), bytes.size());
    if (ZSTD_isError(decoded)) return failZstd(ZSTD_getErrorCode(decoded));
    if (decoded != out.size()) return failZstd(ZSTD_error_corruption_detected);
    return {};
  }

 private:
  std::span<const std::uint8_t> payload_;
  const ZstdFrames& layout_;
  DCtxPtr context_;
};

class ZstdCodec : public BlockCodec {
 public:
  ZstdCodec(std::span<const std::uint8_t> payload, ZstdFrames layout)
      : payload_(payload), layout_(std::move(layout)) {
    for (const ZstdFrame& frame : layout_.frames) {
      largest_ = std::max(largest_, frame.uncompressedSize);
    }
  }

  std::size_t blockCount() const override { return layout_.frames.size(); }
  std::uint64_t largestBlock() const override { return largest_; }
  // Decoding straight into the output needs no window of its own.
  std::uint64_t decoderMemory() const override { return ZSTD_estimateDCtxSize(); }
  std::span<const std::uint8_t> compressedBytes(std::size_t index) const override {
    const ZstdFrame& frame = layout_.frames[index];
    return payload_.subspan(frame.compressedOffset, frame.compressedSize);
  }

  // One decoder per worker, refusing windows past the launcher's bound even
  // if the frame walk were to miss one.
  std::expected<std::unique_ptr<Decoder>, DecodeFailure> makeDecoder() const override {
    DCtxPtr context(ZSTD_createDCtx());
    if (!context) return failZstd(ZSTD_error_memory_allocation);
    const std::size_t set = ZSTD_DCtx_setParameter(context.get(), ZSTD_d_windowLogMax,
                                                   std::countr_zero(kLargestZstdWindow));
    if (ZSTD_isError(set)) return failZstd(ZSTD_getErrorCode(set));
    return std::make_unique<ZstdDecoder>(payload_, layout_, std::move(context));
  }

 private:
  std::span<const std::uint8_t> payload_;
  ZstdFrames layout_;
  std::uint64_t largest_ = 0;
};

}  // namespace

std::expected<std::unique_ptr<BlockCodec>, DecodeFailure> zstdFrameCodec(
    std::span<const std::uint8_t> compressed, std::uint64_t decompressedLength,
    const std::function<void(std::span<const std::uint8_t>)>& walked) {
  // The frame headers are judged, and their sizes added up, before any
  // memory for the output is taken.
  auto layout = readZstdFrames(compressed, walked);
  if (!layout) return std::unexpected(layout.error());
  if (layout->uncompressedSize > decompressedLength) return failZstd(ZSTD_error_dstSize_tooSmall);
  if (layout->uncompressedSize < decompressedLength) {
    return std::unexpected(DecodeFailure{Failure::LengthMismatch, 0, {}});
  }
  return std::make_unique<ZstdCodec>(compressed, std::move(*layout));
}

}  // namespace wexlo
