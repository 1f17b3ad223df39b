#include "pack/xz_encoder.h"

#include <lzma.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>

#include "format/xz_stream_layout.h"

namespace wexlo {
namespace {

// How long one lzma_code call may wait for the workers before returning, so
// progress is reported even while every thread is busy on a large block.
constexpr std::uint32_t kProgressIntervalMs = 250;

Failure failureOf(lzma_ret ret) {
  switch (ret) {
    case LZMA_MEM_ERROR:
      return Failure::OutOfMemory;
    case LZMA_OPTIONS_ERROR:
      return Failure::OptionUnsupported;
    case LZMA_UNSUPPORTED_CHECK:
      return Failure::Unsupported;
    default:
      return Failure::Unexpected;
  }
}

std::uint32_t threadCount(std::uint32_t requested, std::uint64_t inputSize,
                          std::uint64_t blockSize) {
  std::uint64_t threads = requested != 0 ? requested : lzma_cputhreads();
  const std::uint64_t blocks = (inputSize + blockSize - 1) / blockSize;
  threads = std::min<std::uint64_t>({threads, blocks, kMaxXzThreads});
  return static_cast<std::uint32_t>(std::max<std::uint64_t>(threads, 1));
}

}  // namespace

namespace {

// Output is handed on in pieces of this size at most.
constexpr std::size_t kOutputPiece = std::size_t{1} << 20;

class XzEncoder final : public PayloadEncoder {
 public:
  XzEncoder(CompressedSink sink, std::uint32_t threads, XzProgress progress)
      : sink_(std::move(sink)), threads_(threads), progress_(std::move(progress)) {}
  ~XzEncoder() override { lzma_end(&stream_); }
  XzEncoder(const XzEncoder&) = delete;
  XzEncoder& operator=(const XzEncoder&) = delete;

  lzma_stream& stream() { return stream_; }

  Result<void> write(std::span<const std::uint8_t> input) override {
    stream_.next_in = input.data();
    stream_.avail_in = input.size();
    while (stream_.avail_in > 0) {
      if (auto coded = code(LZMA_RUN); !coded) return fail(coded.error());
    }
    return {};
  }

  Result<void> finish() override {
    while (true) {
      auto coded = code(LZMA_FINISH);
      if (!coded) return fail(coded.error());
      if (*coded) break;
    }
    if (stream_.avail_out < output_.size() && !handOn()) return fail(Failure::Canceled);
    return {};
  }

  std::size_t threads() const override { return threads_; }

 private:
  // One call into the encoder; true once the stream is complete.
  Result<bool> code(lzma_action action) {
    if (output_.empty()) output_.resize(kOutputPiece);
    if (stream_.next_out == nullptr) {
      stream_.next_out = output_.data();
      stream_.avail_out = output_.size();
    }
    const lzma_ret ret = lzma_code(&stream_, action);
    if (ret != LZMA_OK && ret != LZMA_STREAM_END) return fail(failureOf(ret));
    if (stream_.avail_out == 0 && !handOn()) return fail(Failure::Canceled);
    if (progress_) {
      std::uint64_t consumed = 0;
      std::uint64_t produced = 0;
      lzma_get_progress(&stream_, &consumed, &produced);
      progress_(consumed, 0);
    }
    return ret == LZMA_STREAM_END;
  }

  // Hands on the output gathered so far and starts a new piece.
  bool handOn() {
    const std::size_t filled = output_.size() - stream_.avail_out;
    stream_.next_out = output_.data();
    stream_.avail_out = output_.size();
    return sink_(std::span(output_).first(filled));
  }

  lzma_stream stream_ = LZMA_STREAM_INIT;
  std::vector<std::uint8_t> output_;
  CompressedSink sink_;
  std::uint32_t threads_;
  XzProgress progress_;
};

Result<std::unique_ptr<XzEncoder>> makeXzEncoder(const XzOptions& options, std::uint64_t inputSize,
                                                 CompressedSink sink, XzProgress progress) {
  const std::uint64_t blockSize = options.blockSize != 0 ? options.blockSize : kDefaultXzBlockSize;
  lzma_options_lzma lzma2{};
  if (lzma_lzma_preset(&lzma2, options.preset)) return fail(Failure::OptionUnsupported);
  // Each block is compressed on its own, so a dictionary beyond the block
  // (or the input) buys nothing and only costs memory.
  const std::uint64_t useful = std::min<std::uint64_t>(blockSize, inputSize);
  lzma2.dict_size = static_cast<std::uint32_t>(std::clamp<std::uint64_t>(
      useful, LZMA_DICT_SIZE_MIN, std::max<std::uint64_t>(lzma2.dict_size, LZMA_DICT_SIZE_MIN)));
  const std::array<lzma_filter, 2> filters{
      {{LZMA_FILTER_LZMA2, &lzma2}, {LZMA_VLI_UNKNOWN, nullptr}}};

  // Always the block-splitting encoder, even on one thread: its output
  // depends on the block size only, never on how many workers ran.
  lzma_mt mt{};
  mt.threads = threadCount(options.threads, inputSize, blockSize);
  mt.block_size = blockSize;
  mt.timeout = kProgressIntervalMs;
  mt.filters = filters.data();
  mt.check = LZMA_CHECK_CRC32;
  while (mt.threads > 1 && lzma_stream_encoder_mt_memusage(&mt) > options.memoryBudget) {
    --mt.threads;
  }

  auto encoder = std::make_unique<XzEncoder>(std::move(sink), mt.threads, std::move(progress));
  if (const lzma_ret ret = lzma_stream_encoder_mt(&encoder->stream(), &mt); ret != LZMA_OK) {
    return fail(failureOf(ret));
  }
  return encoder;
}

}  // namespace

Result<std::unique_ptr<PayloadEncoder>> xzEncoder(const XzOptions& options, std::uint64_t inputSize,
                                                  CompressedSink sink) {
  auto encoder = makeXzEncoder(options, inputSize, std::move(sink), {});
  if (!encoder) return fail(encoder.error());
  return std::unique_ptr<PayloadEncoder>(std::move(*encoder));
}

Result<std::vector<std::uint8_t>> compressPayload(std::span<const std::uint8_t> input,
                                                  const XzOptions& options, XzProgress progress) {
  std::vector<std::uint8_t> output;
  auto reported = progress
                      ? [&](std::uint64_t done, std::uint64_t) { progress(done, input.size()); }
                      : XzProgress{};
  auto encoder = makeXzEncoder(
      options, input.size(),
      [&](std::span<const std::uint8_t> bytes) {
        output.insert(output.end(), bytes.begin(), bytes.end());
        return true;
      },
      reported);
  if (!encoder) return fail(encoder.error());
  if (auto written = (*encoder)->write(input); !written) return fail(written.error());
  if (auto finished = (*encoder)->finish(); !finished) return fail(finished.error());
  if (progress) progress(input.size(), input.size());
  return output;
}

std::string crc64Text(std::uint64_t crc) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(crc));
  return text;
}

std::string crc64Hex(std::span<const std::uint8_t> bytes) {
  return crc64Text(lzma_crc64(bytes.data(), bytes.size(), 0));
}

Result<XzStreamInfo> describeXzStream(std::span<const std::uint8_t> stream) {
  auto layout = readXzStreamLayout(stream);
  if (!layout) {
    switch (layout.error().code) {
      case 0:
        return fail(layout.error().failure);
      case kXzNotXz:
        return fail(Failure::UnrecognizedFormat);
      case kXzUnsupported:
        return fail(Failure::Unsupported);
      default:
        return fail(Failure::CorruptedData);
    }
  }
  return XzStreamInfo{layout->streamSize, layout->uncompressedSize, layout->blockCount,
                      layout->check};
}

}  // namespace wexlo
