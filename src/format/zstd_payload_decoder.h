// Decodes a payload of independent zstd frames into the archive it carries.
#pragma once

#include "format/payload_decoder.h"

namespace wexlo {

// As decodePayload, for a payload that readZstdFrames accepts: the frames
// are decoded in parallel, each straight into its part of the buffer with
// its checksum verified, and the whole is checked before this returns.
std::expected<PayloadBuffer, DecodeFailure> decodeZstdPayload(
    std::span<const std::uint8_t> compressed, std::uint64_t decompressedLength, unsigned threads,
    const BlockDoneFn& done);

}  // namespace wexlo
