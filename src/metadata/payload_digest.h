// The payload digest the packer records in the metadata's "options", so a
// launcher can tell its own build from another build of the same version.
#pragma once

#include <optional>
#include <string_view>

namespace wexlo {

// Followed by the CRC64 of the compressed payload in 16 hex digits.
inline constexpr std::string_view kPayloadDigestOption = "--payload-crc64";

// The digest that `options` carries, or nothing for records written before
// the packer recorded one (or by hand).
std::optional<std::string_view> payloadDigestIn(std::string_view options);

}  // namespace wexlo
