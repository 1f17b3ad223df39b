#include "format/payload_decoder.h"

#include <lzma.h>

#include <algorithm>
#include <array>
#include <new>

#include "format/zstd_frames.h"
#include "format/zstd_payload_decoder.h"
#include "platform/workers.h"

namespace wexlo {
namespace {

std::unexpected<DecodeFailure> failCode(int code) {
  return std::unexpected(DecodeFailure{Failure::ParseError, code, {}});
}

std::unexpected<DecodeFailure> failPlain(Failure failure) {
  return std::unexpected(DecodeFailure{failure, 0, {}});
}

std::unexpected<DecodeFailure> failWith(lzma_ret ret) {
  switch (ret) {
    case LZMA_MEM_ERROR:
      return failPlain(Failure::OutOfMemory);
    case LZMA_OPTIONS_ERROR:
      return failCode(kXzUnsupported);
    default:
      return failCode(kXzCorrupt);
  }
}

struct StreamGuard {
  lzma_stream* stream;
  ~StreamGuard() { lzma_end(stream); }
};

struct FiltersGuard {
  lzma_filter* filters;
  ~FiltersGuard() { lzma_filters_free(filters, nullptr); }
};

// Decodes one block into `output`, the part of the payload buffer it covers:
// shorter than the block when the block runs past the declared length.
// `decoder` is reused from block to block, which keeps its dictionary
// allocated and already touched.
std::expected<void, DecodeFailure> decodeBlock(lzma_stream& decoder,
                                               std::span<const std::uint8_t> stream,
                                               const XzBlock& where, lzma_check check,
                                               std::span<std::uint8_t> output) {
  lzma_block block{};
  block.version = 1;
  block.check = check;
  block.header_size = lzma_block_header_size_decode(stream[where.compressedOffset]);
  std::array<lzma_filter, LZMA_FILTERS_MAX + 1> filters{};
  block.filters = filters.data();
  const lzma_ret header =
      lzma_block_header_decode(&block, nullptr, &stream[where.compressedOffset]);
  if (header != LZMA_OK) return failWith(header);
  FiltersGuard guard{filters.data()};
  if (filters[0].id != LZMA_FILTER_LZMA2) return failCode(kXzUnsupported);

  // The sizes come from the index; the block decoder fails when the data
  // disagrees, which is what ties every block to its index record.
  if (lzma_block_compressed_size(&block, where.unpaddedSize) != LZMA_OK ||
      (block.uncompressed_size != LZMA_VLI_UNKNOWN &&
       block.uncompressed_size != where.uncompressedSize)) {
    return failCode(kXzCorrupt);
  }
  block.uncompressed_size = where.uncompressedSize;
  // Nothing in a block refers back past its start, so a dictionary larger
  // than the block would only cost memory.
  auto* lzma2 = static_cast<lzma_options_lzma*>(filters[0].options);
  lzma2->dict_size = static_cast<std::uint32_t>(std::min<std::uint64_t>(
      lzma2->dict_size, std::max<std::uint64_t>(where.uncompressedSize, LZMA_DICT_SIZE_MIN)));

  // Decoded in steps like a whole stream, so a block past the declared end
  // fails the way it always did: corrupt if its data is found bad before
  // the output is full, too long otherwise.
  if (const lzma_ret init = lzma_block_decoder(&decoder, &block); init != LZMA_OK) {
    return failWith(init);
  }
  const std::size_t dataStart = where.compressedOffset + block.header_size;
  decoder.next_in = stream.data() + dataStart;
  decoder.avail_in = where.compressedOffset + lzma_block_total_size(&block) - dataStart;
  decoder.next_out = output.data();
  decoder.avail_out = output.size();
  lzma_ret ret = LZMA_OK;
  while (ret == LZMA_OK) ret = lzma_code(&decoder, LZMA_FINISH);
  if (ret == LZMA_STREAM_END) return {};
  if (ret == LZMA_BUF_ERROR && decoder.avail_out == 0 && decoder.avail_in != 0) {
    return failCode(kXzOutputFull);
  }
  return failWith(ret);
}

// The block's bytes in the stream, padding included.
std::span<const std::uint8_t> compressedBytesOf(const XzBlock& block,
                                                std::span<const std::uint8_t> stream) {
  const std::uint64_t start = std::min<std::uint64_t>(block.compressedOffset, stream.size());
  const std::uint64_t padded = (block.unpaddedSize + 3) & ~std::uint64_t{3};
  return stream.subspan(start, std::min<std::uint64_t>(padded, stream.size() - start));
}

}  // namespace

std::expected<PayloadBuffer, DecodeFailure> decodePayload(std::span<const std::uint8_t> compressed,
                                                          std::uint64_t decompressedLength,
                                                          unsigned threads,
                                                          const BlockDoneFn& done) {
  if (isZstdPayload(compressed))
    return decodeZstdPayload(compressed, decompressedLength, threads, done);
  // liblzma would take more than the launcher accepts, so the shape is
  // judged before any memory for the output is taken.
  auto layout = readXzStreamLayout(compressed);
  if (!layout) return std::unexpected(layout.error());
  if (!isAcceptedXzShape(*layout)) return failCode(kXzUnsupported);

  if (decompressedLength > SIZE_MAX) return failPlain(Failure::OutOfMemory);
  const auto size = static_cast<std::size_t>(decompressedLength);
  // Not zero-filled: every byte is written by a block or the length check fails.
  std::unique_ptr<std::uint8_t[]> data(new (std::nothrow) std::uint8_t[size]);
  if (!data) return failPlain(Failure::OutOfMemory);

  // Blocks are handed out in stream order, so when several are damaged the
  // answer is the first of them whatever the timing.
  const std::span<std::uint8_t> output(data.get(), size);
  OrderedItems<DecodeFailure> blocks(layout->blocks.size());
  runOnWorkers(workerCount(threads, layout->blocks.size()), [&] {
    // One decoder per worker, reused from block to block.
    lzma_stream decoder = LZMA_STREAM_INIT;
    StreamGuard guard{&decoder};
    while (auto index = blocks.take()) {
      const XzBlock& block = layout->blocks[*index];
      const std::size_t start = std::min<std::uint64_t>(block.uncompressedOffset, size);
      const std::size_t length = std::min<std::uint64_t>(block.uncompressedSize, size - start);
      auto decoded = decodeBlock(decoder, compressed, block, static_cast<lzma_check>(layout->check),
                                 output.subspan(start, length));
      if (!decoded) blocks.fail(*index, decoded.error());
      if (done) done(compressedBytesOf(block, compressed));
    }
  });
  if (auto failed = blocks.firstFailure()) return std::unexpected(*failed);
  // A stream longer than declared failed above, in the block that crossed the end.
  if (layout->uncompressedSize != decompressedLength) return failPlain(Failure::LengthMismatch);
  return PayloadBuffer(std::move(data), size);
}

std::string decodeFailureLine(const DecodeFailure& failure) {
  if (!failure.zstdError.empty()) return "ZSTD Decode Failed: " + std::string(failure.zstdError);
  if (failure.code != 0) return "XZ/LZMA Decode Failed: " + std::to_string(failure.code);
  return {};
}

}  // namespace wexlo
