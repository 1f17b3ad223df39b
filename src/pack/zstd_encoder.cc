#include "pack/zstd_encoder.h"

#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <bit>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>

#include "format/zstd_frames.h"
#include "platform/workers.h"

namespace wexlo {
namespace {

struct CCtxDeleter {
  void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
};
using CCtx = std::unique_ptr<ZSTD_CCtx, CCtxDeleter>;

Failure failureOf(std::size_t result) {
  return ZSTD_getErrorCode(result) == ZSTD_error_memory_allocation ? Failure::OutOfMemory
                                                                   : Failure::Unexpected;
}

struct FrameSettings {
  int level;
  int windowLog;  // 0: the level's own
};

// The highest levels would use windows past what a launcher decodes for
// frames that large.
FrameSettings settingsFor(int level, std::uint64_t blockSize) {
  const int largestWindowLog = std::countr_zero(kLargestZstdWindow);
  const int levelWindowLog = static_cast<int>(ZSTD_getCParams(level, blockSize, 0).windowLog);
  return {level, levelWindowLog > largestWindowLog ? largestWindowLog : 0};
}

// Every parameter is set afresh for each frame, so no frame depends on
// which worker compressed which frame before it.
Result<void> configure(ZSTD_CCtx* context, FrameSettings settings) {
  ZSTD_CCtx_reset(context, ZSTD_reset_session_and_parameters);
  for (auto [parameter, value] :
       {std::pair{ZSTD_c_compressionLevel, settings.level}, std::pair{ZSTD_c_checksumFlag, 1},
        std::pair{ZSTD_c_contentSizeFlag, 1}, std::pair{ZSTD_c_windowLog, settings.windowLog}}) {
    const std::size_t set = ZSTD_CCtx_setParameter(context, parameter, value);
    if (ZSTD_isError(set)) return fail(failureOf(set));
  }
  return {};
}

// A frame's bytes, compressed apart from every other frame.
Result<void> compressFrame(ZSTD_CCtx* context, FrameSettings settings,
                           std::span<const std::uint8_t> input, std::vector<std::uint8_t>& frame) {
  if (context == nullptr) return fail(Failure::OutOfMemory);
  if (auto configured = configure(context, settings); !configured) return configured;
  frame.resize(ZSTD_compressBound(input.size()));
  const std::size_t written =
      ZSTD_compress2(context, frame.data(), frame.size(), input.data(), input.size());
  if (ZSTD_isError(written)) return fail(failureOf(written));
  frame.resize(written);
  return {};
}

// Frames are filled in order by the writer, compressed by the workers in
// any order, and handed to the sink in order; a ring of slots bounds how
// many are in flight.
class ZstdEncoder final : public PayloadEncoder {
 public:
  ZstdEncoder(const ZstdOptions& options, CompressedSink sink)
      : sink_(std::move(sink)),
        blockSize_(options.blockSize != 0 ? options.blockSize : kDefaultXzBlockSize),
        settings_(settingsFor(options.level, blockSize_)) {
    // Each worker has its context and a slot to compress in; the writer one
    // to fill and one to hand on.
    const std::uint64_t context =
        ZSTD_estimateCCtxSize_usingCParams(ZSTD_getCParams(options.level, blockSize_, 0));
    const std::uint64_t slot = blockSize_ + ZSTD_compressBound(blockSize_);
    const std::uint64_t perWorker = context + slot;
    const std::uint64_t room = options.memoryBudget - std::min(options.memoryBudget, 2 * slot);
    const std::size_t wanted = workerCount(options.threads, SIZE_MAX);
    const auto workers =
        static_cast<std::size_t>(std::clamp<std::uint64_t>(room / perWorker, 1, wanted));
    slots_.resize(workers + 2);
    try {
      for (std::size_t i = 0; i < workers; ++i) workers_.emplace_back([this] { work(); });
    } catch (const std::exception&) {
      // The threads that did start do the work; with none, the writer does.
    }
  }

  ~ZstdEncoder() override {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& worker : workers_) worker.join();
  }
  ZstdEncoder(const ZstdEncoder&) = delete;
  ZstdEncoder& operator=(const ZstdEncoder&) = delete;

  Result<void> write(std::span<const std::uint8_t> input) override {
    while (!input.empty()) {
      Slot& slot = slots_[filled_ % slots_.size()];
      if (slot.input.capacity() < blockSize_) slot.input.reserve(blockSize_);
      const auto take = std::min<std::size_t>(input.size(), blockSize_ - slot.input.size());
      slot.input.insert(slot.input.end(), input.begin(), input.begin() + take);
      input = input.subspan(take);
      if (slot.input.size() == blockSize_) {
        if (auto submitted = submit(); !submitted) return submitted;
      }
    }
    return {};
  }

  Result<void> finish() override {
    // Empty input still makes one (empty) frame.
    if (!slots_[filled_ % slots_.size()].input.empty() || filled_ == 0) {
      if (auto submitted = submit(); !submitted) return submitted;
    }
    while (handedOn_ < filled_) {
      if (auto handed = handOnNext(); !handed) return handed;
    }
    return {};
  }

  std::size_t threads() const override { return std::max<std::size_t>(workers_.size(), 1); }

 private:
  struct Slot {
    std::vector<std::uint8_t> input;
    std::vector<std::uint8_t> frame;
    bool done = false;
    std::optional<Failure> failure;
  };

  // Passes the slot being filled on to be compressed, first making room
  // for the next one.
  Result<void> submit() {
    {
      std::lock_guard lock(mutex_);
      ++filled_;
    }
    changed_.notify_all();
    if (workers_.empty()) {
      Slot& slot = slots_[(filled_ - 1) % slots_.size()];
      slot.failure = failed(compressFrame(inlineContext(), settings_, slot.input, slot.frame));
      slot.done = true;
    }
    // The next slot to fill is the oldest one in flight when the ring is full.
    if (filled_ - handedOn_ == slots_.size()) return handOnNext();
    return {};
  }

  // Waits for the oldest frame in flight and hands it to the sink.
  Result<void> handOnNext() {
    Slot& slot = slots_[handedOn_ % slots_.size()];
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] { return slot.done; });
    }
    if (slot.failure) return fail(*slot.failure);
    if (!sink_(slot.frame)) return fail(Failure::Canceled);
    slot.input.clear();
    slot.done = false;
    ++handedOn_;
    return {};
  }

  void work() {
    CCtx context(ZSTD_createCCtx());
    std::unique_lock lock(mutex_);
    while (true) {
      changed_.wait(lock, [&] { return stopping_ || taken_ < filled_; });
      if (stopping_) return;
      Slot& slot = slots_[taken_++ % slots_.size()];
      lock.unlock();
      const auto failure = failed(compressFrame(context.get(), settings_, slot.input, slot.frame));
      lock.lock();
      slot.failure = failure;
      slot.done = true;
      changed_.notify_all();
    }
  }

  ZSTD_CCtx* inlineContext() {
    if (!inlineContext_) inlineContext_.reset(ZSTD_createCCtx());
    return inlineContext_.get();
  }

  static std::optional<Failure> failed(const Result<void>& result) {
    return result ? std::nullopt : std::optional(result.error());
  }

  CompressedSink sink_;
  std::uint64_t blockSize_;
  FrameSettings settings_;
  std::vector<Slot> slots_;
  std::size_t filled_ = 0;    // frames passed on to be compressed
  std::size_t taken_ = 0;     // frames a worker took
  std::size_t handedOn_ = 0;  // frames given to the sink
  bool stopping_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
  CCtx inlineContext_;
  std::vector<std::thread> workers_;
};

}  // namespace

int minZstdLevel() { return ZSTD_minCLevel(); }
int maxZstdLevel() { return ZSTD_maxCLevel(); }

Result<std::unique_ptr<PayloadEncoder>> zstdEncoder(const ZstdOptions& options,
                                                    CompressedSink sink) {
  if (options.level < minZstdLevel() || options.level > maxZstdLevel()) {
    return fail(Failure::OptionUnsupported);
  }
  return std::make_unique<ZstdEncoder>(options, std::move(sink));
}

Result<std::vector<std::uint8_t>> compressZstdPayload(std::span<const std::uint8_t> input,
                                                      const ZstdOptions& options,
                                                      XzProgress progress) {
  std::vector<std::uint8_t> output;
  std::uint64_t done = 0;
  auto encoder = zstdEncoder(options, [&](std::span<const std::uint8_t> frame) {
    output.insert(output.end(), frame.begin(), frame.end());
    return true;
  });
  if (!encoder) return fail(encoder.error());
  // Fed a frame at a time, so progress follows the frames handed on.
  const std::uint64_t blockSize = options.blockSize != 0 ? options.blockSize : kDefaultXzBlockSize;
  while (done < input.size()) {
    const auto piece = input.subspan(done, std::min<std::uint64_t>(blockSize, input.size() - done));
    if (auto written = (*encoder)->write(piece); !written) return fail(written.error());
    done += piece.size();
    if (progress) progress(done, input.size());
  }
  if (auto finished = (*encoder)->finish(); !finished) return fail(finished.error());
  return output;
}

}  // namespace wexlo
