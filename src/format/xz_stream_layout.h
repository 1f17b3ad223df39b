// The structure of one xz stream read from its header, footer, index and
// block headers, without decoding any data.
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string_view>
#include <vector>

#include "platform/failure.h"

namespace wexlo {

// Result codes of a payload decode, as printed after "XZ/LZMA Decode Failed: ".
inline constexpr int kXzNotXz = 5;        // the header magic differs
inline constexpr int kXzUnsupported = 6;  // options this decoder does not take
inline constexpr int kXzCorrupt = 7;      // bad checksums, sizes or data; input ends early
inline constexpr int kXzOutputFull = 8;   // decodes to more than the declared length

// code != 0: the xz decoder result code to print, and failure is ParseError.
// zstdError set: the zstd library's error name to print, and failure is
// ParseError. Neither: a plain failure such as OutOfMemory or LengthMismatch.
struct DecodeFailure {
  Failure failure = Failure::ParseError;
  int code = 0;
  std::string_view zstdError;  // a static string of the library
};

// Where one block lies, as the index records it.
struct XzBlock {
  std::uint64_t compressedOffset = 0;  // of its header, from the stream's start
  std::uint64_t unpaddedSize = 0;      // header, data and check, without padding
  std::uint64_t uncompressedOffset = 0;
  std::uint64_t uncompressedSize = 0;
};

struct XzStreamLayout {
  std::uint32_t check = 0;  // integrity check id of the stream flags
  std::uint64_t streamSize = 0;
  std::uint64_t uncompressedSize = 0;  // as the index records it
  std::uint64_t blockCount = 0;
  bool lzma2Only = true;                // every block's filter chain is LZMA2 alone
  std::uint64_t largestDictionary = 0;  // the biggest LZMA2 dictionary of any block
  std::vector<XzBlock> blocks;          // in stream order
};

// Reads the stream's framing. The stream must fill `stream` exactly: trailing
// bytes, padding or a second stream are corrupt data. Block headers whose
// options liblzma does not know are unsupported; the caller judges the rest
// (check type, filters, dictionary) from the returned layout.
std::expected<XzStreamLayout, DecodeFailure> readXzStreamLayout(
    std::span<const std::uint8_t> stream);

// The stream shape the launcher decodes: check none or CRC32, LZMA2 alone
// with a dictionary of at most 3 GiB.
bool isAcceptedXzShape(const XzStreamLayout& layout);

}  // namespace wexlo
