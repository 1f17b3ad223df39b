#include <gtest/gtest.h>

#include <algorithm>

#include "format/payload_decoder.h"
#include "format/zstd_frames.h"
#include "pack/zstd_encoder.h"
#include "support/sample_data.h"

namespace wexlo {
namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kArchive = testing::sampleText(300000, 777, 17);

TEST(CompressZstdPayload, RoundTripsThroughTheLauncherDecoder) {
  for (const Bytes& input : {Bytes{}, Bytes{'Z'}, kArchive}) {
    auto payload = compressZstdPayload(input, {.threads = 2, .blockSize = 65536, .level = 3});
    ASSERT_TRUE(payload);
    EXPECT_TRUE(isZstdPayload(*payload));
    auto decoded = decodePayload(*payload, input.size());
    ASSERT_TRUE(decoded) << input.size() << " bytes: " << decodeFailureLine(decoded.error());
    EXPECT_TRUE(std::ranges::equal(decoded->bytes(), input));
  }
}

TEST(CompressZstdPayload, OneFramePerBlockWhateverTheThreads) {
  auto one = compressZstdPayload(kArchive, {.threads = 1, .blockSize = 100000, .level = 5});
  auto many = compressZstdPayload(kArchive, {.threads = 4, .blockSize = 100000, .level = 5});
  ASSERT_TRUE(one && many);
  EXPECT_EQ(*one, *many);
  auto frames = readZstdFrames(*one);
  ASSERT_TRUE(frames);
  ASSERT_EQ(frames->frames.size(), 3u);
  EXPECT_EQ(frames->frames[2].uncompressedSize, 100000u);
  EXPECT_EQ(frames->uncompressedSize, kArchive.size());
}

TEST(CompressZstdPayload, LevelsOutsideTheLibrarysRangeAreRefused) {
  for (int level : {minZstdLevel() - 1, maxZstdLevel() + 1}) {
    auto payload =
        compressZstdPayload(kArchive, {.threads = 1, .blockSize = 65536, .level = level});
    ASSERT_FALSE(payload) << level;
    EXPECT_EQ(payload.error(), Failure::OptionUnsupported);
  }
}

}  // namespace
}  // namespace wexlo
