// `wexlo pack`: a release directory, or ready-made metadata and payload
// bytes, appended to a launcher stub.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pack/pack_error.h"
#include "pack/release.h"
#include "pack/stub.h"
#include "pack/windows_resources.h"
#include "pack/zstd_encoder.h"

namespace wexlo {

// Progress of a long step: its name and bytes done out of total.
using PackProgress =
    std::function<void(std::string_view step, std::uint64_t done, std::uint64_t total)>;
// A note worth the user's attention that does not stop the pack.
using PackWarning = std::function<void(std::string_view message)>;

// How the payload is compressed: one xz stream, or zstd frames, which a
// launcher decodes several times as fast for a few per cent more bytes.
enum class Compression { Xz, Zstd };

struct PackOptions {
  std::filesystem::path releaseDirectory;
  std::filesystem::path output;
  StubChoice stub;
  ReleaseOverrides overrides;
  std::uint64_t blockSize = 0;  // 0: the encoder's default
  std::uint32_t threads = 0;    // 0: one per core; never changes the output
  bool service = false;         // boot without Elixir's command-line handler
  Compression compression = Compression::Xz;
  int zstdLevel = kDefaultZstdLevel;
  WindowsResourceOptions windowsResources;  // windows-x86_64 launchers only
  PackProgress progress;
  PackWarning warning;
};

// What a pack made, for the line that closes it on a terminal.
struct PackSummary {
  std::string appName;
  std::uint64_t fileCount = 0;      // files the launcher carries
  std::uint64_t launcherBytes = 0;  // the written launcher's size
  std::vector<std::string> notes;   // what the packer added or decided on its own
};

PackResult<PackSummary> packRelease(const PackOptions& options);

struct RawPackOptions {
  std::filesystem::path metadataFile;
  std::filesystem::path payloadFile;
  std::uint64_t decompressedLength = 0;
  std::optional<std::string> appName;  // default: the metadata's "app_name"
  std::filesystem::path output;
  StubChoice stub;
  bool service = false;  // the metadata must then record the service mode
};

// Embeds the given bytes unchanged; neither needs to be valid.
PackResult<void> packRaw(const RawPackOptions& options);

}  // namespace wexlo
