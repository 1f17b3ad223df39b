#include "pack/xz_encoder.h"

#include <lzma.h>

#include <algorithm>
#include <array>
#include <cstdio>

#include "format/xz_stream_layout.h"

namespace wexlo {
namespace {

// How long one lzma_code call may wait for the workers before returning, so
// progress is reported even while every thread is busy on a large block.
constexpr std::uint32_t kProgressIntervalMs = 250;

struct StreamGuard {
  lzma_stream* stream;
  ~StreamGuard() { lzma_end(stream); }
};

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

Result<std::vector<std::uint8_t>> compressPayload(std::span<const std::uint8_t> input,
                                                  const XzOptions& options, XzProgress progress) {
  const std::uint64_t blockSize = options.blockSize != 0 ? options.blockSize : kDefaultXzBlockSize;
  lzma_options_lzma lzma2{};
  if (lzma_lzma_preset(&lzma2, options.preset)) return fail(Failure::OptionUnsupported);
  // Each block is compressed on its own, so a dictionary beyond the block
  // (or the input) buys nothing and only costs the decoder memory.
  const std::uint64_t useful = std::min<std::uint64_t>(blockSize, input.size());
  lzma2.dict_size = static_cast<std::uint32_t>(std::clamp<std::uint64_t>(
      useful, LZMA_DICT_SIZE_MIN, std::max<std::uint64_t>(lzma2.dict_size, LZMA_DICT_SIZE_MIN)));
  const std::array<lzma_filter, 2> filters{
      {{LZMA_FILTER_LZMA2, &lzma2}, {LZMA_VLI_UNKNOWN, nullptr}}};

  // Always the block-splitting encoder, even on one thread: its output
  // depends on the block size only, never on how many workers ran.
  lzma_mt mt{};
  mt.threads = threadCount(options.threads, input.size(), blockSize);
  mt.block_size = blockSize;
  mt.timeout = kProgressIntervalMs;
  mt.filters = filters.data();
  mt.check = LZMA_CHECK_CRC32;

  lzma_stream stream = LZMA_STREAM_INIT;
  if (const lzma_ret ret = lzma_stream_encoder_mt(&stream, &mt); ret != LZMA_OK) {
    return fail(failureOf(ret));
  }
  StreamGuard guard{&stream};

  std::vector<std::uint8_t> output(input.size() / 4 + (std::size_t{1} << 16));
  stream.next_in = input.data();
  stream.avail_in = input.size();
  while (true) {
    if (stream.total_out == output.size()) output.resize(output.size() * 2);
    stream.next_out = output.data() + stream.total_out;
    stream.avail_out = output.size() - stream.total_out;
    const lzma_ret ret = lzma_code(&stream, LZMA_FINISH);
    if (ret == LZMA_STREAM_END) break;
    if (ret != LZMA_OK) return fail(failureOf(ret));
    if (progress) {
      std::uint64_t consumed = 0;
      std::uint64_t produced = 0;
      lzma_get_progress(&stream, &consumed, &produced);
      progress(consumed, input.size());
    }
  }
  output.resize(stream.total_out);
  if (progress) progress(input.size(), input.size());
  return output;
}

std::string crc64Hex(std::span<const std::uint8_t> bytes) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx",
                static_cast<unsigned long long>(lzma_crc64(bytes.data(), bytes.size(), 0)));
  return text;
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
