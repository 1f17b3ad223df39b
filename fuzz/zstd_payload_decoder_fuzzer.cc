// The zstd payload decoder (frame walk, window bound, checksums, totals).
// The first byte picks one of two inputs:
//   even: a declared length (u16, little-endian), then a payload decoded as
//         it is: what decodes has exactly that length, as the frames declare;
//   odd:  a frame size byte, a position (u16) and a mask, then content that
//         is compressed into frames of that size, with the mask XORed into
//         the byte at that position: what decodes is the content itself.
#include <zstd.h>

#include <algorithm>
#include <span>
#include <vector>

#include "format/payload_decoder.h"
#include "format/zstd_frames.h"
#include "fuzz_check.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes compressFrames(std::span<const std::uint8_t> content, std::size_t frameSize) {
  // One encoder for every input: making one each time would be most of a run.
  static ZSTD_CCtx* const context = [] {
    ZSTD_CCtx* made = ZSTD_createCCtx();
    ZSTD_CCtx_setParameter(made, ZSTD_c_compressionLevel, 1);
    ZSTD_CCtx_setParameter(made, ZSTD_c_checksumFlag, 1);
    return made;
  }();
  Bytes payload;
  std::size_t start = 0;
  do {
    const auto part = content.subspan(start, std::min(frameSize, content.size() - start));
    Bytes frame(ZSTD_compressBound(part.size()));
    const std::size_t written =
        ZSTD_compress2(context, frame.data(), frame.size(), part.data(), part.size());
    FUZZ_CHECK(!ZSTD_isError(written));
    payload.insert(payload.end(), frame.begin(), frame.begin() + written);
    start += part.size();
  } while (start < content.size());
  return payload;
}

// One decoding thread: threads cost more than a run, and the answer does not
// depend on their number (the unit tests check that).
constexpr unsigned kThreads = 1;

void decodeAsItIs(std::span<const std::uint8_t> payload, std::uint64_t declared) {
  auto decoded = wexlo::decodePayload(payload, declared, kThreads);
  if (!decoded) {
    FUZZ_CHECK(decoded.error().code != 0 || !decoded.error().zstdError.empty() ||
               decoded.error().failure != wexlo::Failure::ParseError);
    return;
  }
  FUZZ_CHECK(decoded->bytes().size() == declared);
  if (!wexlo::isZstdPayload(payload)) return;
  auto frames = wexlo::readZstdFrames(payload);
  FUZZ_CHECK(frames && frames->uncompressedSize == declared);
}

void decodeDamaged(std::span<const std::uint8_t> content, std::size_t frameSize, std::size_t at,
                   std::uint8_t mask) {
  Bytes payload = compressFrames(content, frameSize);
  payload[at % payload.size()] ^= mask;
  auto decoded = wexlo::decodePayload(payload, content.size(), kThreads);
  if (mask == 0) FUZZ_CHECK(decoded);
  if (decoded) FUZZ_CHECK(std::ranges::equal(decoded->bytes(), content));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 5) return 0;
  if (data[0] % 2 == 0) {
    decodeAsItIs({data + 3, size - 3}, data[1] | data[2] << 8);
  } else {
    decodeDamaged({data + 5, size - 5}, data[1] + 1u, data[2] | data[3] << 8, data[4]);
  }
  return 0;
}
