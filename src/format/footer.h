// How a launcher carries its build. The packer appends to a prebuilt stub:
//
//   stub | xz payload | metadata text | application name | footer (64 bytes)
//
// The footer is found at the end of the file or, on Windows, right before an
// Authenticode certificate table added after packing (signing tools may put up
// to 7 zero bytes between the footer and the table). All offsets count from
// the start of the file; integers are little-endian.
//
// Footer bytes: magic "WEXLOBLD" | u32 format version | u32 metadata length |
// u64 payload offset | u64 payload length | u64 decompressed length |
// u64 metadata offset | u32 app name length | 8 zero bytes |
// u32 CRC32 of the 60 bytes before it.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "platform/failure.h"

namespace wexlo {

inline constexpr std::size_t kFooterSize = 64;
inline constexpr std::uint32_t kFooterFormatVersion = 1;

struct Footer {
  std::uint64_t payloadOffset = 0;
  std::uint64_t payloadLength = 0;
  std::uint64_t decompressedLength = 0;
  std::uint64_t metadataOffset = 0;
  std::uint32_t metadataLength = 0;
  std::uint32_t appNameLength = 0;
};

std::array<std::uint8_t, kFooterSize> encodeFooter(const Footer& footer);

// Reads a footer: InvalidExe when the bytes are not a footer at all,
// CorruptedData when they are one whose checksum or version is wrong.
Result<Footer> decodeFooter(std::span<const std::uint8_t, kFooterSize> bytes);

// The build as the launcher sees it, read in place from its own image.
struct EmbeddedBuild {
  std::span<const std::uint8_t> payload;
  std::string_view metadataText;
  std::string_view appName;
  std::uint64_t decompressedLength = 0;
};

// Finds the build appended to an executable image. InvalidExe: the image
// carries none (a bare stub); CorruptedData: a footer whose pieces do not fit
// the image. Never reads outside `image`.
Result<EmbeddedBuild> locateEmbeddedBuild(std::span<const std::uint8_t> image);

// Where the packer's appended data ends in a file: the file's length, or the
// offset of a PE certificate table when one was added after packing.
std::size_t endOfAppendedData(std::span<const std::uint8_t> image);

}  // namespace wexlo
