#include "format/payload_stream.h"

#include <algorithm>
#include <exception>

#include "format/xz_block_codec.h"
#include "format/zstd_frames.h"
#include "format/zstd_payload_decoder.h"
#include "platform/workers.h"

namespace wexlo {
namespace {

struct Shape {
  std::size_t threads;
  std::size_t slots;
};

// Every thread decodes into a slot of its own while the reader holds one;
// a few more let decoding run ahead of a reader that stalls. Threads and
// slots are cut to what the budget holds, but one of each always runs,
// even for a block larger than the whole budget.
Shape shapeFor(const BlockCodec& codec, const StreamOptions& options) {
  const std::uint64_t usable = options.memoryBudget / 4 * 3;
  // Cut to the budget first, so that no product below can wrap.
  const std::uint64_t block = std::clamp<std::uint64_t>(codec.largestBlock(), 1, usable + 1);
  const std::uint64_t decoder = std::min(codec.decoderMemory(), usable);
  const std::uint64_t perThread = 2 * block + decoder;
  const std::size_t wanted = workerCount(options.threads, codec.blockCount());
  const auto threads =
      static_cast<std::size_t>(std::clamp<std::uint64_t>(usable / perThread, 1, wanted));
  const std::uint64_t left = usable - std::min(usable, threads * decoder);
  const auto slots =
      static_cast<std::size_t>(std::clamp<std::uint64_t>(left / block, threads, 2 * threads + 2));
  return {threads, slots};
}

}  // namespace

std::expected<std::unique_ptr<PayloadStream>, DecodeFailure> PayloadStream::open(
    std::span<const std::uint8_t> compressed, std::uint64_t decompressedLength,
    const StreamOptions& options) {
  // The frame walk touches pages all over a zstd payload: they are given
  // back frame by frame, and read again as each frame is decoded.
  auto codec = isZstdPayload(compressed)
                   ? zstdFrameCodec(compressed, decompressedLength, options.done)
                   : xzBlockCodec(compressed, decompressedLength);
  if (!codec) return std::unexpected(codec.error());
  return std::make_unique<PayloadStream>(std::move(*codec), options);
}

PayloadStream::PayloadStream(std::unique_ptr<BlockCodec> codec, const StreamOptions& options)
    : codec_(std::move(codec)), done_(options.done) {
  const Shape shape = shapeFor(*codec_, options);
  slots_.resize(shape.slots);
  try {
    for (std::size_t i = 0; i < shape.threads; ++i) workers_.emplace_back([this] { work(); });
  } catch (const std::exception&) {
    // The threads that did start do the work; with none, the reader does.
  }
}

PayloadStream::~PayloadStream() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

void PayloadStream::decodeInto(BlockCodec::Decoder* decoder, std::optional<DecodeFailure> noDecoder,
                               std::size_t index) {
  Slot& slot = slots_[index % slots_.size()];
  std::optional<DecodeFailure> failure = noDecoder;
  if (decoder != nullptr) {
    if (auto decoded = decoder->decode(index, slot.buffer); !decoded) failure = decoded.error();
  }
  if (done_) done_(codec_->compressedBytes(index));
  std::lock_guard lock(mutex_);
  slot.block = index;
  slot.failure = failure;
  if (failure) firstFailed_ = std::min(firstFailed_, index);
}

void PayloadStream::work() {
  auto decoder = codec_->makeDecoder();
  std::optional<DecodeFailure> noDecoder;
  if (!decoder) noDecoder = decoder.error();
  std::unique_lock lock(mutex_);
  while (true) {
    // Blocks are taken in order, so when several are damaged the reader
    // meets the first of them; none is taken past a known failure.
    if (stopping_ || nextToDecode_ >= codec_->blockCount() || nextToDecode_ > firstFailed_) return;
    const std::size_t index = nextToDecode_++;
    // The slot is free once the reader is done with the block before it.
    changed_.wait(lock, [&] { return stopping_ || index < reading_ + slots_.size(); });
    if (stopping_) return;
    lock.unlock();
    decodeInto(decoder ? decoder->get() : nullptr, noDecoder, index);
    changed_.notify_all();
    lock.lock();
  }
}

std::expected<std::optional<std::span<const std::uint8_t>>, DecodeFailure> PayloadStream::next() {
  std::unique_lock lock(mutex_);
  if (holding_) {
    holding_ = false;
    ++reading_;
    changed_.notify_all();
  }
  if (reading_ >= codec_->blockCount()) return std::nullopt;
  Slot& slot = slots_[reading_ % slots_.size()];
  if (workers_.empty()) {
    lock.unlock();
    if (!inlineDecoder_) {
      auto made = codec_->makeDecoder();
      if (!made) return std::unexpected(made.error());
      inlineDecoder_ = std::move(*made);
    }
    decodeInto(inlineDecoder_.get(), std::nullopt, reading_);
    lock.lock();
  }
  changed_.wait(lock, [&] { return slot.block == reading_; });
  if (slot.failure) return std::unexpected(*slot.failure);
  holding_ = true;
  return slot.buffer.bytes();
}

}  // namespace wexlo
