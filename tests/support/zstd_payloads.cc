#include "support/zstd_payloads.h"

#define ZSTD_STATIC_LINKING_ONLY
#include <gtest/gtest.h>
#include <zstd.h>

#include <algorithm>

namespace wexlo::testing {
namespace {

std::string compressFrames(std::string_view data, std::uint64_t frameSize, int checksum,
                           int contentSize = 1) {
  ZSTD_CCtx* context = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, 3);
  ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, checksum);
  ZSTD_CCtx_setParameter(context, ZSTD_c_contentSizeFlag, contentSize);
  const std::size_t step = frameSize == 0 ? std::max<std::size_t>(data.size(), 1) : frameSize;
  std::string out;
  for (std::size_t start = 0; start < data.size() || start == 0; start += step) {
    const std::string_view part = data.substr(start, step);
    std::string frame(ZSTD_compressBound(part.size()), '\0');
    const std::size_t written =
        ZSTD_compress2(context, frame.data(), frame.size(), part.data(), part.size());
    EXPECT_FALSE(ZSTD_isError(written)) << ZSTD_getErrorName(written);
    out += frame.substr(0, written);
    if (data.empty()) break;
  }
  ZSTD_freeCCtx(context);
  return out;
}

void appendLittleEndian(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

std::string line(std::string_view zstdError) {
  return "error: ZSTD Decode Failed: " + std::string(zstdError) + "\nerror: ParseError\n";
}

}  // namespace

std::string zstdCompress(std::string_view data, std::uint64_t frameSize) {
  return compressFrames(data, frameSize, 1);
}

std::string zstdFrameDeclaring(std::string_view data, int windowLog, std::uint64_t declaredSize) {
  std::string frame = "\x28\xB5\x2F\xFD";
  frame.push_back(static_cast<char>(0xC4));  // 8-byte content size, checksum, not single segment
  frame.push_back(static_cast<char>((windowLog - 10) << 3));
  appendLittleEndian(frame, declaredSize, 8);
  constexpr std::size_t kMaxBlock = 128 << 10;
  std::size_t start = 0;
  do {
    const std::string_view part = data.substr(start, kMaxBlock);
    const bool last = start + part.size() == data.size();
    appendLittleEndian(frame, (part.size() << 3) | (last ? 1 : 0), 3);  // a raw block
    frame += part;
    start += part.size();
  } while (start < data.size());
  appendLittleEndian(frame, 0, 4);
  return frame;
}

std::vector<PayloadFault> zstdPayloadFaults(std::string_view archive) {
  const std::uint64_t frameSize = archive.size() / 3 + 1;
  const std::string good = zstdCompress(archive, frameSize);
  const std::size_t firstFrame = ZSTD_findFrameCompressedSize(good.data(), good.size());
  const std::size_t secondHeader =
      ZSTD_frameHeaderSize(good.data() + firstFrame, good.size() - firstFrame);

  std::string reservedBlock = good;  // the second frame's first block of a reserved type
  reservedBlock[firstFrame + secondHeader] |= 0x06;
  std::string badChecksum = good;
  badChecksum[firstFrame - 1] ^= 0x5A;

  return {
      {"a damaged frame", reservedBlock, archive.size(), line("Data corruption detected")},
      {"a bad checksum", badChecksum, archive.size(), line("Restored data doesn't match checksum")},
      {"a truncated stream", good.substr(0, good.size() - 1), archive.size(),
       line("Src size is incorrect")},
      {"trailing garbage", good + "garbage!", archive.size(), line("Unknown frame descriptor")},
      {"a stream cut inside a frame header", good.substr(0, firstFrame + 3), archive.size(),
       line("Src size is incorrect")},
      {"a frame declaring a window larger than its content",
       zstdFrameDeclaring(archive, 20, archive.size()), archive.size(),
       line("Frame requires too much memory for decoding")},
      {"a frame declaring a window over 64 MiB",
       zstdFrameDeclaring(archive, 27, std::uint64_t{1} << 28), std::uint64_t{1} << 28,
       line("Frame requires too much memory for decoding")},
      {"a frame without its checksum", compressFrames(archive, frameSize, 0), archive.size(),
       line("Unsupported frame parameter")},
      {"a frame without its content size", compressFrames(archive, frameSize, 1, 0), archive.size(),
       line("Unsupported frame parameter")},
      {"a longer total than declared", good, archive.size() - 1,
       line("Destination buffer is too small")},
      {"a shorter total than declared", good, archive.size() + 1, "error: LengthMismatch\n"},
  };
}

}  // namespace wexlo::testing
