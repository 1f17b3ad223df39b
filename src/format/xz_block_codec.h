// The blocks of one xz stream as the payload stream decodes them.
#pragma once

#include <cstdint>
#include <expected>
#include <memory>
#include <span>

#include "format/block_codec.h"

namespace wexlo {

// Judges the stream's framing and shape first: check none or CRC32 and
// LZMA2 alone in every block. A stream whose index declares less than
// `decompressedLength` is LengthMismatch; one that declares more fails in
// the block that crosses the declared end (kXzOutputFull, or kXzCorrupt when
// its data is found bad first).
std::expected<std::unique_ptr<BlockCodec>, DecodeFailure> xzBlockCodec(
    std::span<const std::uint8_t> compressed, std::uint64_t decompressedLength);

}  // namespace wexlo
