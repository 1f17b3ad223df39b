#include <gtest/gtest.h>

#include <algorithm>

#include "pack/xz_encoder.h"
#include "pack/zstd_encoder.h"
#include "support/sample_data.h"

namespace wexlo {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t kBlock = 65536;

struct Codec {
  const char* name;
  std::function<Result<std::unique_ptr<PayloadEncoder>>(unsigned threads, std::uint64_t budget,
                                                        std::uint64_t inputSize, CompressedSink)>
      make;
};

const Codec kCodecs[] = {
    {"xz",
     [](unsigned threads, std::uint64_t budget, std::uint64_t size, CompressedSink sink) {
       return xzEncoder(
           {.threads = threads, .blockSize = kBlock, .preset = 6, .memoryBudget = budget}, size,
           std::move(sink));
     }},
    {"zstd",
     [](unsigned threads, std::uint64_t budget, std::uint64_t, CompressedSink sink) {
       return zstdEncoder(
           {.threads = threads, .blockSize = kBlock, .level = 3, .memoryBudget = budget},
           std::move(sink));
     }},
};

// Feeds `input` in pieces of `piece` bytes and gathers what comes out.
Result<Bytes> encode(const Codec& codec, const Bytes& input, std::size_t piece, unsigned threads,
                     std::uint64_t budget, std::size_t* threadsRun = nullptr) {
  Bytes output;
  auto encoder = codec.make(threads, budget, input.size(), [&](std::span<const std::uint8_t> b) {
    output.insert(output.end(), b.begin(), b.end());
    return true;
  });
  if (!encoder) return fail(encoder.error());
  if (threadsRun) *threadsRun = (*encoder)->threads();
  for (std::size_t at = 0; at < input.size(); at += piece) {
    const auto part = std::span(input).subspan(at, std::min(piece, input.size() - at));
    if (auto written = (*encoder)->write(part); !written) return fail(written.error());
  }
  if (auto finished = (*encoder)->finish(); !finished) return fail(finished.error());
  return output;
}

// However the input is cut, whatever the threads and the budget, the bytes
// are those of one thread given everything at once: inputs of no bytes,
// of whole blocks, and one byte past them.
TEST(PayloadEncoder, GivesTheSameBytesHoweverTheInputArrives) {
  for (const Codec& codec : kCodecs) {
    for (std::size_t size : {std::size_t{0}, 3 * kBlock, 3 * kBlock + 1}) {
      const Bytes input = testing::sampleText(size, 99, 19);
      auto reference = encode(codec, input, std::max<std::size_t>(size, 1), 1, kPackMemoryBudget);
      ASSERT_TRUE(reference) << codec.name;
      for (auto [piece, threads, budget] :
           {std::tuple{std::size_t{4093}, 3u, kPackMemoryBudget},
            std::tuple{std::size_t{kBlock}, 2u, kPackMemoryBudget},
            std::tuple{std::size_t{100003}, 4u, std::uint64_t{1}}}) {
        std::size_t ran = 0;
        auto encoded = encode(codec, input, piece, threads, budget, &ran);
        ASSERT_TRUE(encoded) << codec.name << ' ' << size << ' ' << piece;
        EXPECT_EQ(*encoded, *reference) << codec.name << ' ' << size << ' ' << piece;
        // A budget too small for one thread still runs one, and no more.
        if (size > 0) {
          EXPECT_EQ(ran, budget == 1 ? 1u : threads) << codec.name;
        }
      }
    }
  }
}

// A sink that refuses stops the encoder at once, with its threads joined.
TEST(PayloadEncoder, StopsWhenTheSinkRefuses) {
  const Bytes input = testing::sampleText(8 * kBlock, 5, 23);
  for (const Codec& codec : kCodecs) {
    int calls = 0;
    auto encoder = codec.make(3, kPackMemoryBudget, input.size(), [&](auto) {
      ++calls;
      return false;
    });
    ASSERT_TRUE(encoder);
    auto written = (*encoder)->write(input);
    auto result = written ? (*encoder)->finish() : written;
    ASSERT_FALSE(result) << codec.name;
    EXPECT_EQ(result.error(), Failure::Canceled) << codec.name;
    EXPECT_EQ(calls, 1) << codec.name;
  }
}

}  // namespace
}  // namespace wexlo
