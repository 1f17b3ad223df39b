// Writes a launcher: stub | payload | metadata | app name | footer, into a
// temporary file beside the output that is renamed into place only when
// complete, so a failed pack never leaves a partial launcher behind.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
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

// A launcher written as its payload is made: the stub at once, the payload
// a piece at a time, the rest at the end. Dropped unfinished, it leaves
// nothing behind.
class LauncherOutput {
 public:
  static PackResult<std::unique_ptr<LauncherOutput>> create(const std::filesystem::path& output,
                                                            std::span<const std::uint8_t> stub);
  virtual ~LauncherOutput() = default;

  // Appends the next payload bytes.
  virtual PackResult<void> appendPayload(std::span<const std::uint8_t> bytes) = 0;
  virtual std::uint64_t payloadLength() const = 0;
  // Appends the rest and moves the launcher into place, with mode 0755.
  virtual PackResult<void> finish(std::string_view metadataText, std::string_view appName,
                                  std::uint64_t decompressedLength) = 0;
};

// All parts at once.
PackResult<void> writeLauncher(const std::filesystem::path& output, const LauncherParts& parts);

}  // namespace wexlo
