// The frames of a zstd payload read from their headers, without decoding
// any data.
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <functional>
#include <span>
#include <vector>

#include "format/xz_stream_layout.h"

namespace wexlo {

inline constexpr std::array<std::uint8_t, 4> kZstdFrameMagic{0x28, 0xB5, 0x2F, 0xFD};
// The largest window a launcher decodes with.
inline constexpr std::uint64_t kLargestZstdWindow = std::uint64_t{64} << 20;

// Whether `payload` starts like a zstd frame rather than an xz stream.
bool isZstdPayload(std::span<const std::uint8_t> payload);

struct ZstdFrame {
  std::uint64_t compressedOffset = 0;  // from the payload's start
  std::uint64_t compressedSize = 0;
  std::uint64_t uncompressedOffset = 0;
  std::uint64_t uncompressedSize = 0;  // as its header declares it
};

struct ZstdFrames {
  std::uint64_t uncompressedSize = 0;  // the frames' declared sizes added up
  std::vector<ZstdFrame> frames;       // in payload order
};

// Reads the frames that fill `payload` exactly. Every frame must declare its
// content size and carry a content checksum, use no dictionary, and need a
// window no larger than its content and kLargestZstdWindow; a frame that
// declares more content than its blocks can hold is corrupt. Anything else
// (skippable frames and trailing bytes included) fails with the library's
// error name.
// `walked`, when given, gets each frame's bytes once its headers are read:
// the walk touches every block header, and with them pages all over a
// mapped payload, which a caller can give back frame by frame.
std::expected<ZstdFrames, DecodeFailure> readZstdFrames(
    std::span<const std::uint8_t> payload,
    const std::function<void(std::span<const std::uint8_t>)>& walked = {});

}  // namespace wexlo
