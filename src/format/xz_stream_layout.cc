#include "format/xz_stream_layout.h"

#include <lzma.h>

#include <algorithm>
#include <array>
#include <memory>

namespace wexlo {
namespace {

constexpr std::array<std::uint8_t, 6> kHeaderMagic{0xFD, '7', 'z', 'X', 'Z', 0x00};
constexpr std::uint64_t kLargestAcceptedDictionary = std::uint64_t{3} << 30;

std::unexpected<DecodeFailure> failCode(int code) {
  return std::unexpected(DecodeFailure{Failure::ParseError, code, {}});
}

std::unexpected<DecodeFailure> failPlain(Failure failure) {
  return std::unexpected(DecodeFailure{failure, 0, {}});
}

struct IndexDeleter {
  void operator()(lzma_index* index) const { lzma_index_end(index, nullptr); }
};
using IndexPtr = std::unique_ptr<lzma_index, IndexDeleter>;

// Bytes that are not even the start of the magic are not xz at all; a cut
// header that does start like one is a truncated stream. Nothing at all is
// no xz stream either.
std::expected<lzma_stream_flags, DecodeFailure> readHeader(std::span<const std::uint8_t> stream) {
  const std::size_t compared = std::min(stream.size(), kHeaderMagic.size());
  if (compared == 0 ||
      !std::equal(stream.begin(), stream.begin() + compared, kHeaderMagic.begin())) {
    return failCode(kXzNotXz);
  }
  if (stream.size() < LZMA_STREAM_HEADER_SIZE) return failCode(kXzCorrupt);
  lzma_stream_flags flags{};
  switch (lzma_stream_header_decode(&flags, stream.data())) {
    case LZMA_OK:
      return flags;
    case LZMA_FORMAT_ERROR:
      return failCode(kXzNotXz);
    case LZMA_OPTIONS_ERROR:
      return failCode(kXzUnsupported);
    default:
      return failCode(kXzCorrupt);
  }
}

// The footer must close the input exactly and agree with the header; then
// the index sits right before it.
std::expected<IndexPtr, DecodeFailure> readIndex(std::span<const std::uint8_t> stream,
                                                 const lzma_stream_flags& header) {
  if (stream.size() < 2 * LZMA_STREAM_HEADER_SIZE) return failCode(kXzCorrupt);
  const std::size_t footerStart = stream.size() - LZMA_STREAM_HEADER_SIZE;
  lzma_stream_flags footer{};
  if (lzma_stream_footer_decode(&footer, stream.data() + footerStart) != LZMA_OK ||
      lzma_stream_flags_compare(&header, &footer) != LZMA_OK ||
      footer.backward_size > footerStart - LZMA_STREAM_HEADER_SIZE) {
    return failCode(kXzCorrupt);
  }
  std::size_t position = footerStart - footer.backward_size;
  lzma_index* raw = nullptr;
  // liblzma allocates for as many records as the index claims before reading
  // them. Each record takes at least two bytes, so a claim beyond what the
  // index's size can hold is corrupt, not a reason to allocate.
  std::uint64_t memoryLimit = lzma_index_memusage(1, footer.backward_size / 2);
  const lzma_ret ret =
      lzma_index_buffer_decode(&raw, &memoryLimit, nullptr, stream.data(), &position, footerStart);
  IndexPtr index(raw);
  if (ret == LZMA_MEM_ERROR) return failPlain(Failure::OutOfMemory);
  if (ret != LZMA_OK || position != footerStart ||
      lzma_index_stream_size(index.get()) != stream.size()) {
    return failCode(kXzCorrupt);
  }
  return index;
}

// Decodes one block header and records its filter chain in the layout.
std::expected<void, DecodeFailure> readBlockHeader(std::span<const std::uint8_t> stream,
                                                   const lzma_index_iter& iter,
                                                   XzStreamLayout& layout) {
  const std::uint64_t offset = iter.block.compressed_stream_offset;
  const std::uint8_t sizeByte = stream[offset];
  if (sizeByte == 0) return failCode(kXzCorrupt);  // an index indicator, not a block
  lzma_block block{};
  block.version = 1;
  block.check = static_cast<lzma_check>(layout.check);
  block.header_size = lzma_block_header_size_decode(sizeByte);
  if (block.header_size + lzma_check_size(block.check) >= iter.block.unpadded_size) {
    return failCode(kXzCorrupt);
  }
  std::array<lzma_filter, LZMA_FILTERS_MAX + 1> filters{};
  block.filters = filters.data();
  switch (lzma_block_header_decode(&block, nullptr, stream.data() + offset)) {
    case LZMA_OK:
      break;
    case LZMA_OPTIONS_ERROR:
      return failCode(kXzUnsupported);
    case LZMA_MEM_ERROR:
      return failPlain(Failure::OutOfMemory);
    default:
      return failCode(kXzCorrupt);
  }
  if (filters[0].id != LZMA_FILTER_LZMA2 || filters[1].id != LZMA_VLI_UNKNOWN) {
    layout.lzma2Only = false;
  }
  for (const lzma_filter& filter : filters) {
    if (filter.id == LZMA_VLI_UNKNOWN) break;
    if (filter.id == LZMA_FILTER_LZMA2) {
      const auto* options = static_cast<const lzma_options_lzma*>(filter.options);
      layout.largestDictionary =
          std::max<std::uint64_t>(layout.largestDictionary, options->dict_size);
    }
  }
  lzma_filters_free(filters.data(), nullptr);
  return {};
}

}  // namespace

std::expected<XzStreamLayout, DecodeFailure> readXzStreamLayout(
    std::span<const std::uint8_t> stream) {
  auto header = readHeader(stream);
  if (!header) return std::unexpected(header.error());
  auto index = readIndex(stream, *header);
  if (!index) return std::unexpected(index.error());

  XzStreamLayout layout;
  layout.check = static_cast<std::uint32_t>(header->check);
  layout.streamSize = stream.size();
  layout.uncompressedSize = lzma_index_uncompressed_size(index->get());
  layout.blockCount = lzma_index_block_count(index->get());
  layout.blocks.reserve(layout.blockCount);
  lzma_index_iter iter;
  lzma_index_iter_init(&iter, index->get());
  while (!lzma_index_iter_next(&iter, LZMA_INDEX_ITER_BLOCK)) {
    if (auto read = readBlockHeader(stream, iter, layout); !read) {
      return std::unexpected(read.error());
    }
    layout.blocks.push_back({iter.block.compressed_stream_offset, iter.block.unpadded_size,
                             iter.block.uncompressed_stream_offset, iter.block.uncompressed_size});
  }
  return layout;
}

bool isAcceptedXzShape(const XzStreamLayout& layout) {
  const bool checkAccepted = layout.check == LZMA_CHECK_NONE || layout.check == LZMA_CHECK_CRC32;
  return checkAccepted && layout.lzma2Only &&
         layout.largestDictionary <= kLargestAcceptedDictionary;
}

}  // namespace wexlo
