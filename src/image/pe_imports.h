// The DLLs a PE image imports, read from its import directory as the Windows
// loader does. Delay-loaded DLLs are left out: an image starts without them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace wexlo::image {

// The DLL names in the file's order; nothing when `file` is no PE image or
// its import directory or a name in it lies outside the file.
std::optional<std::vector<std::string>> readPeImports(std::span<const std::uint8_t> file);

}  // namespace wexlo::image
