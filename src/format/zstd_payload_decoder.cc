#include "format/zstd_payload_decoder.h"

#include <zstd.h>
#include <zstd_errors.h>

#include <bit>
#include <new>

#include "format/zstd_frames.h"
#include "platform/workers.h"

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

// One decoder per worker, refusing windows past the launcher's bound even
// if the frame walk were to miss one.
std::expected<DCtxPtr, DecodeFailure> makeDecoder() {
  DCtxPtr context(ZSTD_createDCtx());
  if (!context) return failZstd(ZSTD_error_memory_allocation);
  const std::size_t set = ZSTD_DCtx_setParameter(context.get(), ZSTD_d_windowLogMax,
                                                 std::countr_zero(kLargestZstdWindow));
  if (ZSTD_isError(set)) return failZstd(ZSTD_getErrorCode(set));
  return context;
}

std::expected<void, DecodeFailure> decodeFrame(ZSTD_DCtx* context,
                                               std::span<const std::uint8_t> frame,
                                               std::span<std::uint8_t> output) {
  // The library checks the content size and the checksum against the frame's header.
  const std::size_t decoded =
      ZSTD_decompressDCtx(context, output.data(), output.size(), frame.data(), frame.size());
  if (ZSTD_isError(decoded)) return failZstd(ZSTD_getErrorCode(decoded));
  if (decoded != output.size()) return failZstd(ZSTD_error_corruption_detected);
  return {};
}

}  // namespace

std::expected<PayloadBuffer, DecodeFailure> decodeZstdPayload(
    std::span<const std::uint8_t> compressed, std::uint64_t decompressedLength, unsigned threads,
    const BlockDoneFn& done) {
  // The frame headers are judged, and their sizes added up, before any
  // memory for the output is taken.
  auto layout = readZstdFrames(compressed);
  if (!layout) return std::unexpected(layout.error());
  if (layout->uncompressedSize > decompressedLength) return failZstd(ZSTD_error_dstSize_tooSmall);
  if (layout->uncompressedSize < decompressedLength) {
    return std::unexpected(DecodeFailure{Failure::LengthMismatch, 0, {}});
  }

  if (decompressedLength > SIZE_MAX) return failZstd(ZSTD_error_memory_allocation);
  const auto size = static_cast<std::size_t>(decompressedLength);
  // Not zero-filled: the frames' sizes add up to the whole buffer.
  std::unique_ptr<std::uint8_t[]> data(new (std::nothrow) std::uint8_t[size]);
  if (!data) return failZstd(ZSTD_error_memory_allocation);

  // Frames are handed out in order, so when several are damaged the answer
  // is the first of them whatever the timing.
  const std::span<std::uint8_t> output(data.get(), size);
  OrderedItems<DecodeFailure> frames(layout->frames.size());
  runOnWorkers(workerCount(threads, layout->frames.size()), [&] {
    auto context = makeDecoder();
    while (auto index = frames.take()) {
      const ZstdFrame& frame = layout->frames[*index];
      const auto bytes = compressed.subspan(frame.compressedOffset, frame.compressedSize);
      auto decoded =
          context ? decodeFrame(context->get(), bytes,
                                output.subspan(frame.uncompressedOffset, frame.uncompressedSize))
                  : std::expected<void, DecodeFailure>(std::unexpected(context.error()));
      if (!decoded) frames.fail(*index, decoded.error());
      if (done) done(bytes);
    }
  });
  if (auto failed = frames.firstFailure()) return std::unexpected(*failed);
  return PayloadBuffer(std::move(data), size);
}

}  // namespace wexlo
