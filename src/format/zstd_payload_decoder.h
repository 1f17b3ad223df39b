// The frames of a zstd payload as the payload stream decodes them.
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <span>

#include "format/block_codec.h"

namespace wexlo {

// For a payload that readZstdFrames accepts, and whose frames add up to
// exactly `decompressedLength` (judged before anything is decoded): each
// frame is decoded on its own with its checksum verified.
// `walked` as in readZstdFrames.
std::expected<std::unique_ptr<BlockCodec>, DecodeFailure> zstdFrameCodec(
    std::span<const std::uint8_t> compressed, std::uint64_t decompressedLength,
    const std::function<void(std::span<const std::uint8_t>)>& walked = {});

}  // namespace wexlo
