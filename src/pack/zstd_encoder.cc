#include "pack/zstd_encoder.h"

#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <bit>
#include <memory>
#include <mutex>

#include "format/zstd_frames.h"
#include "platform/workers.h"

namespace wexlo {
namespace {

struct CCtxDeleter {
  void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
};

Failure failureOf(std::size_t result) {
  return ZSTD_getErrorCode(result) == ZSTD_error_memory_allocation ? Failure::OutOfMemory
                                                                   : Failure::Unexpected;
}

// Every parameter is set afresh for each frame, so no frame depends on
// which worker compressed which frame before it.
Result<void> configure(ZSTD_CCtx* context, int level, int windowLog) {
  ZSTD_CCtx_reset(context, ZSTD_reset_session_and_parameters);
  for (auto [parameter, value] :
       {std::pair{ZSTD_c_compressionLevel, level}, std::pair{ZSTD_c_checksumFlag, 1},
        std::pair{ZSTD_c_contentSizeFlag, 1}, std::pair{ZSTD_c_windowLog, windowLog}}) {
    const std::size_t set = ZSTD_CCtx_setParameter(context, parameter, value);
    if (ZSTD_isError(set)) return fail(failureOf(set));
  }
  return {};
}

// A frame's bytes, compressed apart from every other frame.
Result<std::vector<std::uint8_t>> compressFrame(ZSTD_CCtx* context,
                                                std::span<const std::uint8_t> input) {
  std::vector<std::uint8_t> frame(ZSTD_compressBound(input.size()));
  const std::size_t written =
      ZSTD_compress2(context, frame.data(), frame.size(), input.data(), input.size());
  if (ZSTD_isError(written)) return fail(failureOf(written));
  frame.resize(written);
  return frame;
}

}  // namespace

int minZstdLevel() { return ZSTD_minCLevel(); }
int maxZstdLevel() { return ZSTD_maxCLevel(); }

Result<std::vector<std::uint8_t>> compressZstdPayload(std::span<const std::uint8_t> input,
                                                      const ZstdOptions& options,
                                                      XzProgress progress) {
  if (options.level < minZstdLevel() || options.level > maxZstdLevel()) {
    return fail(Failure::OptionUnsupported);
  }
  const std::uint64_t blockSize = options.blockSize != 0 ? options.blockSize : kDefaultXzBlockSize;
  const std::size_t frameCount =
      std::max<std::size_t>(1, (input.size() + blockSize - 1) / blockSize);
  // The highest levels would use windows past what a launcher decodes for
  // frames that large; 0 leaves the level's own.
  const int largestWindowLog = std::countr_zero(kLargestZstdWindow);
  const int levelWindowLog =
      static_cast<int>(ZSTD_getCParams(options.level, blockSize, 0).windowLog);
  const int windowLog = levelWindowLog > largestWindowLog ? largestWindowLog : 0;

  std::vector<Result<std::vector<std::uint8_t>>> frames(frameCount);
  OrderedItems<Failure> items(frameCount);
  std::mutex progressMutex;
  std::uint64_t done = 0;
  runOnWorkers(workerCount(options.threads, frameCount), [&] {
    std::unique_ptr<ZSTD_CCtx, CCtxDeleter> context(ZSTD_createCCtx());
    while (auto index = items.take()) {
      if (!context) {
        items.fail(*index, Failure::OutOfMemory);
        continue;
      }
      const std::size_t start = *index * blockSize;
      const auto part =
          input.subspan(start, std::min<std::uint64_t>(blockSize, input.size() - start));
      if (auto configured = configure(context.get(), options.level, windowLog); !configured) {
        items.fail(*index, configured.error());
        continue;
      }
      frames[*index] = compressFrame(context.get(), part);
      if (!frames[*index]) items.fail(*index, frames[*index].error());
      if (progress) {
        std::lock_guard lock(progressMutex);
        done += part.size();
        progress(done, input.size());
      }
    }
  });
  if (auto failed = items.firstFailure()) return fail(*failed);

  std::vector<std::uint8_t> output;
  for (const auto& frame : frames) output.insert(output.end(), frame->begin(), frame->end());
  return output;
}

}  // namespace wexlo
