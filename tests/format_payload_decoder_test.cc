#include <gtest/gtest.h>
#include <lzma.h>

#include <array>
#include <string>
#include <vector>

#include "format/payload_decoder.h"
#include "support/launcher_kit.h"
#include "support/sample_data.h"
#include "support/zstd_payloads.h"

namespace wexlo {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes sampleArchive(std::size_t size) { return testing::sampleText(size, 12345, 13); }

Bytes encode(const Bytes& input, lzma_check check, bool withBcj = false,
             std::uint32_t dictSize = 1 << 20) {
  lzma_options_lzma lzma2{};
  lzma_lzma_preset(&lzma2, 6);
  lzma2.dict_size = dictSize;
  std::vector<lzma_filter> filters;
  if (withBcj) filters.push_back({LZMA_FILTER_X86, nullptr});
  filters.push_back({LZMA_FILTER_LZMA2, &lzma2});
  filters.push_back({LZMA_VLI_UNKNOWN, nullptr});
  Bytes out(lzma_stream_buffer_bound(input.size()));
  std::size_t outPos = 0;
  EXPECT_EQ(lzma_stream_buffer_encode(filters.data(), check, nullptr, input.data(), input.size(),
                                      out.data(), &outPos, out.size()),
            LZMA_OK);
  out.resize(outPos);
  return out;
}

Bytes encodeBlocks(const Bytes& input, std::uint64_t blockSize) {
  const std::string stream =
      testing::xzCompress({reinterpret_cast<const char*>(input.data()), input.size()}, blockSize);
  return Bytes(stream.begin(), stream.end());
}

// Rewrites the first block header with another LZMA2 dictionary property
// and a valid CRC32.
Bytes withDictionaryProperty(Bytes stream, std::uint8_t value) {
  std::uint8_t* header = stream.data() + LZMA_STREAM_HEADER_SIZE;
  const std::uint32_t headerSize = lzma_block_header_size_decode(header[0]);
  std::size_t property = 0;
  for (std::size_t i = 2; i + 2 < headerSize; ++i) {
    if (header[i] == LZMA_FILTER_LZMA2 && header[i + 1] == 1) property = i + 2;
  }
  EXPECT_NE(property, 0u);
  header[property] = value;
  const std::uint32_t crc = lzma_crc32(header, headerSize - 4, 0);
  for (int i = 0; i < 4; ++i)
    header[headerSize - 4 + i] = static_cast<std::uint8_t>(crc >> (8 * i));
  return stream;
}

// 100 bytes: a stream header, filler where blocks would be, an index of one
// record that claims `records` records, and a footer pointing at that index.
Bytes withBogusIndex(std::uint64_t records) {
  Bytes index{0x00};
  index.resize(1 + lzma_vli_size(records));
  std::size_t at = 1;
  EXPECT_EQ(lzma_vli_encode(records, nullptr, index.data(), &at, index.size()), LZMA_OK);
  index.insert(index.end(), {0x10, 0x10});
  while (index.size() % 4 != 0) index.push_back(0);
  const std::uint32_t crc = lzma_crc32(index.data(), index.size(), 0);
  for (int i = 0; i < 4; ++i) index.push_back(static_cast<std::uint8_t>(crc >> (8 * i)));
  lzma_stream_flags flags{};
  flags.check = LZMA_CHECK_CRC32;
  flags.backward_size = index.size();
  Bytes stream(100 - LZMA_STREAM_HEADER_SIZE - index.size());
  EXPECT_EQ(lzma_stream_header_encode(&flags, stream.data()), LZMA_OK);
  stream.insert(stream.end(), index.begin(), index.end());
  stream.resize(100);
  EXPECT_EQ(lzma_stream_footer_encode(&flags, stream.data() + 100 - LZMA_STREAM_HEADER_SIZE),
            LZMA_OK);
  return stream;
}

Bytes flip(Bytes stream, std::size_t at) {
  stream[at] ^= 0x10;
  return stream;
}

int codeOf(const Bytes& stream, std::uint64_t declared, unsigned threads) {
  auto result = decodePayload(stream, declared, threads);
  if (result) return 1;
  if (result.error().code != 0) {
    EXPECT_EQ(result.error().failure, Failure::ParseError);
  }
  return result.error().code;
}

const Bytes kArchive = sampleArchive(100000);

TEST(DecodePayload, DecodesAcceptedShapes) {
  const std::vector<std::pair<std::string, Bytes>> streams{
      {"crc32", encode(kArchive, LZMA_CHECK_CRC32)},
      {"check none", encode(kArchive, LZMA_CHECK_NONE)},
      {"several blocks", encodeBlocks(kArchive, 16384)},
      {"dictionary of 2 GiB for 100 kB",
       withDictionaryProperty(encode(kArchive, LZMA_CHECK_CRC32), 38)},
  };
  for (const auto& [name, stream] : streams) {
    for (unsigned threads : {0u, 1u, 3u, 20u}) {
      auto decoded = decodePayload(stream, kArchive.size(), threads);
      ASSERT_TRUE(decoded) << name << ": code " << decoded.error().code;
      EXPECT_TRUE(std::ranges::equal(decoded->bytes(), kArchive)) << name << ", " << threads;
    }
  }
}

TEST(DecodePayload, ResultCodes) {
  const Bytes good = encode(kArchive, LZMA_CHECK_CRC32);
  auto cut = [&](std::size_t size) { return Bytes(good.begin(), good.begin() + size); };
  auto flipped = [&](std::size_t at) { return flip(good, at); };
  const Bytes blocks = encodeBlocks(kArchive, 16384);
  Bytes trailing = good;
  trailing.insert(trailing.end(), 4, 0);
  Bytes twoStreams = good;
  twoStreams.insert(twoStreams.end(), good.begin(), good.end());

  const std::vector<std::tuple<std::string, Bytes, std::uint64_t, int>> cases{
      {"empty input", {}, kArchive.size(), 5},
      {"not xz", Bytes{'Z', 'E', 'L', 'P', 'A', 0, 0, 0, 0, 0, 0, 0, 0, 0}, kArchive.size(), 5},
      {"crc64 check", encode(kArchive, LZMA_CHECK_CRC64), kArchive.size(), 6},
      {"sha256 check", encode(kArchive, LZMA_CHECK_SHA256), kArchive.size(), 6},
      {"bcj before lzma2", encode(kArchive, LZMA_CHECK_CRC32, true), kArchive.size(), 6},
      {"dictionary property 40", withDictionaryProperty(good, 40), kArchive.size(), 6},
      {"cut inside the magic", cut(3), kArchive.size(), 7},
      {"cut inside the header", cut(9), kArchive.size(), 7},
      {"cut in the data", cut(good.size() / 2), kArchive.size(), 7},
      {"last byte missing", cut(good.size() - 1), kArchive.size(), 7},
      {"flipped header flags", flipped(7), kArchive.size(), 7},
      {"flipped data byte", flipped(good.size() / 2), kArchive.size(), 7},
      {"flipped index byte", flipped(good.size() - 14), kArchive.size(), 7},
      // Refused before liblzma allocates room for all of them.
      {"stream padding after", trailing, kArchive.size(), 7},
      {"second stream after", twoStreams, kArchive.size(), 7},
      {"longer than declared", good, kArchive.size() - 1, 8},
      {"declared empty", good, 0, 8},
      {"several blocks, longer", blocks, kArchive.size() - 20000, 8},
      {"several blocks, first damaged, longer", flip(blocks, 40), kArchive.size() - 20000, 7},
      {"index claiming 2^40 records", withBogusIndex(std::uint64_t{1} << 40), kArchive.size(), 7},
  };
  for (const auto& [name, stream, declared, code] : cases) {
    for (unsigned threads : {1u, 4u}) {
      EXPECT_EQ(codeOf(stream, declared, threads), code) << name << ", " << threads << " threads";
    }
  }
}

// A damaged stream is refused with a decoder code or, where the damage does
// not change the result (an LZMA2 property the data never exercises), still
// decodes to the right bytes; it never yields wrong bytes or reads outside
// the input.
TEST(DecodePayload, FlippedBitsNeverYieldWrongBytes) {
  const Bytes archive = sampleArchive(3000);
  const Bytes good = encodeBlocks(archive, 1024);
  int refused = 0;
  for (std::size_t at = 0; at < good.size(); ++at) {
    for (int bit = 0; bit < 8; ++bit) {
      Bytes bad = good;
      bad[at] ^= static_cast<std::uint8_t>(1 << bit);
      auto result = decodePayload(bad, archive.size());
      if (result) {
        EXPECT_TRUE(std::ranges::equal(result->bytes(), archive)) << "byte " << at;
      } else {
        EXPECT_GE(result.error().code, kXzNotXz) << "byte " << at << " bit " << bit;
        ++refused;
      }
    }
  }
  EXPECT_GT(refused, static_cast<int>(good.size()) * 7);
}

TEST(DecodePayload, ShorterStreamIsLengthMismatch) {
  auto result = decodePayload(encode(kArchive, LZMA_CHECK_CRC32), kArchive.size() + 1);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().failure, Failure::LengthMismatch);
  EXPECT_EQ(result.error().code, 0);
}

// A vast declared length is judged against the index, never allocated.
TEST(DecodePayload, AVastDeclaredLengthIsLengthMismatch) {
  auto result = decodePayload(encode(kArchive, LZMA_CHECK_CRC32), std::uint64_t{1} << 62);
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().failure, Failure::LengthMismatch);
  EXPECT_EQ(result.error().code, 0);
}

namespace zstd {

std::string asString(const Bytes& bytes) { return {bytes.begin(), bytes.end()}; }
Bytes asBytes(const std::string& text) { return {text.begin(), text.end()}; }

// The launcher's standard error for a failed decode.
std::string printed(const DecodeFailure& failure) {
  std::string line = decodeFailureLine(failure);
  return (line.empty() ? "" : "error: " + line + "\n") +
         "error: " + std::string(failureName(failure.failure)) + "\n";
}

TEST(DecodeZstdPayload, OneOrManyFramesOnAnyNumberOfThreads) {
  for (std::uint64_t frameSize : {0, 16384, 99999}) {
    const Bytes payload = asBytes(testing::zstdCompress(asString(kArchive), frameSize));
    for (unsigned threads : {0u, 1u, 3u, 20u}) {
      std::size_t given = 0;
      auto decoded = decodePayload(payload, kArchive.size(), threads,
                                   [&](auto frame) { given += frame.size(); });
      ASSERT_TRUE(decoded) << frameSize << ": " << printed(decoded.error());
      EXPECT_TRUE(std::ranges::equal(decoded->bytes(), kArchive)) << frameSize << ", " << threads;
      EXPECT_EQ(given, 2 * payload.size());  // once walked, once decoded
    }
  }
}

TEST(DecodeZstdPayload, EveryFaultIsTheFirstDamagedFramesLibraryError) {
  for (const auto& fault : testing::zstdPayloadFaults(asString(kArchive))) {
    for (unsigned threads : {1u, 3u}) {
      auto decoded = decodePayload(asBytes(fault.payload), fault.decompressedLength, threads);
      ASSERT_FALSE(decoded) << fault.what;
      EXPECT_EQ(printed(decoded.error()), fault.err) << fault.what;
    }
  }
}

TEST(DecodeZstdPayload, HugeDeclaredSizesFailBeforeAnyDecoding) {
  // Frames whose window is small but whose declared contents are vast: each
  // is refused before their sizes are added up.
  const std::string half = testing::zstdFrameDeclaring("x", 20, std::uint64_t{1} << 63);
  auto overflowing = decodePayload(asBytes(half + half), UINT64_MAX);
  ASSERT_FALSE(overflowing);
  EXPECT_EQ(overflowing.error().zstdError, "Data corruption detected");

  // A frame that declares more than its blocks can hold is refused as such.
  const std::uint64_t vast = std::uint64_t{1} << 62;
  auto holdsLess = decodePayload(asBytes(testing::zstdFrameDeclaring("x", 20, vast)), vast);
  ASSERT_FALSE(holdsLess);
  EXPECT_EQ(printed(holdsLess.error()),
            "error: ZSTD Decode Failed: Data corruption detected\nerror: ParseError\n");
}

TEST(DecodeZstdPayload, AnXzFailureStillPrintsItsCode) {
  EXPECT_EQ(decodeFailureLine({Failure::ParseError, kXzCorrupt, {}}), "XZ/LZMA Decode Failed: 7");
  EXPECT_EQ(decodeFailureLine({Failure::LengthMismatch, 0, {}}), "");
}

}  // namespace zstd
}  // namespace
}  // namespace wexlo
