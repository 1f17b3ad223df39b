// Writes a launcher: stub | payload | metadata | app name | footer, into a
// temporary file beside the output that is renamed into place only when
// complete, so a failed pack never leaves a partial launcher behind.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>

#include "pack/pack_error.h"

namespace wexlo {

struct LauncherParts {
  std::span<const std::uint8_t> stub;
  std::span<const std::uint8_t> payload;
  std::uint64_t decompressedLength = 0;
  std::string_view metadataText;
  std::string_view appName;
};

// The output gets mode 0755.
PackResult<void> writeLauncher(const std::filesystem::path& output, const LauncherParts& parts);

}  // namespace wexlo
