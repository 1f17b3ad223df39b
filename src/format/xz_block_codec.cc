#include "format/xz_block_codec.h"

#include <lzma.h>

#include <algorithm>
#include <array>

namespace wexlo {
namespace {

// The first step of a block's output, the packer's default block size; it
// grows by doubling from there, so a block that declares more than it holds
// never takes what it declares. A smaller step would leave the memory of
// the steps behind it in the allocator, block buffer by block buffer.
constexpr std::size_t kFirstOutputStep = std::size_t{8} << 20;

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

struct FiltersGuard {
  lzma_filter* filters;
  ~FiltersGuard() { lzma_filters_free(filters, nullptr); }
};

class XzDecoder : public BlockCodec::Decoder {
 public:
  XzDecoder(std::span<const std::uint8_t> stream, const XzStreamLayout& layout,
            std::uint64_t declared)
      : stream_(stream), layout_(layout), declared_(declared) {}
  ~XzDecoder() override { lzma_end(&decoder_); }

  std::expected<void, DecodeFailure> decode(std::size_t index, BlockBuffer& out) override;

 private:
  std::span<const std::uint8_t> stream_;
  const XzStreamLayout& layout_;
  std::uint64_t declared_;
  // Reused from block to block, which keeps its dictionary allocated and
  // already touched.
  lzma_stream decoder_ = LZMA_STREAM_INIT;
};

// Decodes one block into `out`: no more than the part of the declared
// length it covers, which is shorter than the block when the block runs
// past the declared end.
std::expected<void, DecodeFailure> XzDecoder::decode(std::size_t index, BlockBuffer& out) {
  const XzBlock& where = layout_.blocks[index];
  const std::uint64_t start = std::min(where.uncompressedOffset, declared_);
  const auto wanted = static_cast<std::size_t>(std::min(where.uncompressedSize, declared_ - start));

  lzma_block block{};
  block.version = 1;
  block.check = static_cast<lzma_check>(layout_.check);
  block.header_size = lzma_block_header_size_decode(stream_[where.compressedOffset]);
  std::array<lzma_filter, LZMA_FILTERS_MAX + 1> filters{};
  block.filters = filters.data();
  const lzma_ret header =
      lzma_block_header_decode(&block, nullptr, &stream_[where.compressedOffset]);
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

  if (const lzma_ret init = lzma_block_decoder(&decoder_, &block); init != LZMA_OK) {
    return failWith(init);
  }
  const std::size_t dataStart = where.compressedOffset + block.header_size;
  decoder_.next_in = stream_.data() + dataStart;
  decoder_.avail_in = where.compressedOffset + lzma_block_total_size(&block) - dataStart;
  // Decoded in steps like a whole stream, so a block past the declared end
  // fails the way it always did: corrupt if its data is found bad before
  // the output is full, too long otherwise.
  std::size_t produced = 0;
  std::size_t limit = std::min(wanted, std::max(out.capacity(), kFirstOutputStep));
  if (!out.resize(limit)) return failPlain(Failure::OutOfMemory);
  decoder_.next_out = out.data();
  decoder_.avail_out = limit;
  lzma_ret ret = LZMA_OK;
  while (ret == LZMA_OK) {
    if (decoder_.avail_out == 0 && limit < wanted) {
      produced = limit;
      limit = std::min(wanted, 2 * limit);
      if (!out.resize(limit)) return failPlain(Failure::OutOfMemory);
      decoder_.next_out = out.data() + produced;
      decoder_.avail_out = limit - produced;
    }
    ret = lzma_code(&decoder_, LZMA_FINISH);
  }
  produced = limit - decoder_.avail_out;
  if (ret == LZMA_STREAM_END && produced == wanted) {
    out.resize(produced);
    return {};
  }
  if (ret == LZMA_STREAM_END) return failCode(kXzCorrupt);
  if (ret == LZMA_BUF_ERROR && decoder_.avail_out == 0 && decoder_.avail_in != 0) {
    return failCode(kXzOutputFull);
  }
  return failWith(ret);
}

class XzCodec : public BlockCodec {
 public:
  XzCodec(std::span<const std::uint8_t> stream, XzStreamLayout layout, std::uint64_t declared)
      : stream_(stream), layout_(std::move(layout)), declared_(declared) {
    for (const XzBlock& block : layout_.blocks) {
      largest_ = std::max(largest_, std::min(block.uncompressedSize, declared_));
    }
  }

  std::size_t blockCount() const override { return layout_.blocks.size(); }
  std::uint64_t largestBlock() const override { return largest_; }
  std::uint64_t decoderMemory() const override {
    return std::min(layout_.largestDictionary, largest_);
  }
  // The block's bytes in the stream, padding included.
  std::span<const std::uint8_t> compressedBytes(std::size_t index) const override {
    const XzBlock& block = layout_.blocks[index];
    const std::uint64_t start = std::min<std::uint64_t>(block.compressedOffset, stream_.size());
    const std::uint64_t padded = (block.unpaddedSize + 3) & ~std::uint64_t{3};
    return stream_.subspan(start, std::min<std::uint64_t>(padded, stream_.size() - start));
  }
  std::expected<std::unique_ptr<Decoder>, DecodeFailure> makeDecoder() const override {
    return std::make_unique<XzDecoder>(stream_, layout_, declared_);
  }

 private:
  std::span<const std::uint8_t> stream_;
  XzStreamLayout layout_;
  std::uint64_t declared_;
  std::uint64_t largest_ = 0;
};

}  // namespace

std::expected<std::unique_ptr<BlockCodec>, DecodeFailure> xzBlockCodec(
    std::span<const std::uint8_t> compressed, std::uint64_t decompressedLength) {
  // liblzma would take more than the launcher accepts, so the shape is
  // judged before any memory for the output is taken.
  auto layout = readXzStreamLayout(compressed);
  if (!layout) return std::unexpected(layout.error());
  if (!isAcceptedXzShape(*layout)) return failCode(kXzUnsupported);
  if (layout->uncompressedSize < decompressedLength) return failPlain(Failure::LengthMismatch);
  if (decompressedLength > SIZE_MAX) return failPlain(Failure::OutOfMemory);
  return std::make_unique<XzCodec>(compressed, std::move(*layout), decompressedLength);
}

}  // namespace wexlo
