#include <gtest/gtest.h>
#include <lzma.h>

#include <algorithm>

#include "format/payload_decoder.h"
#include "pack/xz_encoder.h"
#include "support/sample_data.h"

namespace wexlo {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes sampleArchive(std::size_t size) { return testing::sampleText(size, 777, 17); }

const Bytes kArchive = sampleArchive(300000);

TEST(CompressPayload, RoundTripsThroughTheLauncherDecoder) {
  for (const Bytes& input : {Bytes{}, Bytes{'Z'}, kArchive}) {
    auto stream = compressPayload(input, {.threads = 1, .blockSize = 65536, .preset = 6});
    ASSERT_TRUE(stream);
    auto decoded = decodePayload(*stream, input.size());
    ASSERT_TRUE(decoded) << input.size() << " bytes: code " << decoded.error().code;
    EXPECT_TRUE(std::ranges::equal(decoded->bytes(), input));
  }
}

TEST(CompressPayload, WritesCrc32LzmaTwoBlocksOfTheBlockSize) {
  auto stream = compressPayload(kArchive, {.threads = 2, .blockSize = 100000, .preset = 6});
  ASSERT_TRUE(stream);
  // Stream flags 00 01: check CRC32.
  EXPECT_EQ((*stream)[6], 0x00);
  EXPECT_EQ((*stream)[7], 0x01);
  auto info = describeXzStream(*stream);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->check, 1u);
  EXPECT_EQ(info->blockCount, 3u);
  EXPECT_EQ(info->decompressedLength, kArchive.size());
  EXPECT_EQ(info->compressedLength, stream->size());

  // The first block: LZMA2 alone, dictionary no bigger than the block.
  lzma_block block{};
  lzma_filter filters[LZMA_FILTERS_MAX + 1];
  block.check = LZMA_CHECK_CRC32;
  block.filters = filters;
  block.header_size = lzma_block_header_size_decode((*stream)[LZMA_STREAM_HEADER_SIZE]);
  ASSERT_EQ(lzma_block_header_decode(&block, nullptr, stream->data() + LZMA_STREAM_HEADER_SIZE),
            LZMA_OK);
  EXPECT_EQ(filters[0].id, LZMA_FILTER_LZMA2);
  EXPECT_EQ(filters[1].id, LZMA_VLI_UNKNOWN);
  EXPECT_LE(static_cast<lzma_options_lzma*>(filters[0].options)->dict_size, 131072u);
  lzma_filters_free(filters, nullptr);
}

TEST(CompressPayload, ThreadCountDoesNotChangeTheBytes) {
  const XzOptions options{.threads = 1, .blockSize = 65536, .preset = 6};
  auto one = compressPayload(kArchive, options);
  auto two = compressPayload(kArchive, {.threads = 2, .blockSize = 65536, .preset = 6});
  ASSERT_TRUE(one && two);
  EXPECT_EQ(*one, *two);
}

TEST(CompressPayload, ReportsProgressUpToTheTotal) {
  std::uint64_t last = 0;
  auto stream = compressPayload(kArchive, {.threads = 1, .blockSize = 65536, .preset = 1},
                                [&](std::uint64_t done, std::uint64_t total) {
                                  EXPECT_EQ(total, kArchive.size());
                                  EXPECT_GE(done, last);
                                  last = done;
                                });
  ASSERT_TRUE(stream);
  EXPECT_EQ(last, kArchive.size());
}

TEST(DescribeXzStream, NamesWhatIsWrong) {
  auto stream = compressPayload(kArchive, {.threads = 1, .blockSize = 65536, .preset = 1});
  ASSERT_TRUE(stream);
  Bytes cut(stream->begin(), stream->end() - 1);
  EXPECT_EQ(describeXzStream(Bytes{'n', 'o', 'p', 'e'}).error(), Failure::UnrecognizedFormat);
  EXPECT_EQ(describeXzStream(cut).error(), Failure::CorruptedData);
}

}  // namespace
}  // namespace wexlo
