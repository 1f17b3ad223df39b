// Reads an assembled Erlang/Elixir release directory: its name and versions,
// and the files a launcher carries, in archive order.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "pack/pack_error.h"
#include "pack/release_kind.h"

namespace wexlo {

struct ReleaseOverrides {
  std::optional<std::string> appName;
  std::optional<std::string> appVersion;
  std::optional<std::string> ertsVersion;
};

struct ReleaseFile {
  std::string path;              // relative, '/'-separated
  std::filesystem::path source;  // empty for a file the packer adds itself
  std::uint64_t mode = 0;        // 0100644, or 0100755 when the owner may execute
  std::uint64_t size = 0;
  std::string content;  // what a file the packer adds holds
};

struct Release {
  std::string appName;
  std::string appVersion;
  std::string ertsVersion;
  std::vector<ReleaseFile> files;    // lib/, erts-*/, releases/, bin/; each sorted
  std::vector<std::string> leftOut;  // other top-level names, not carried
  ReleaseKind kind;
};

// The versions come from releases/start_erl.data ("ERTS_VSN APP_VSN"), the
// name from the one releases/<APP_VSN>/<name>.rel that names itself; the
// overrides replace them. Refuses links and special files, names the
// launcher could not unpack, versions without their erts-<V>/ and
// releases/<V>/ directories, and configuration left for a start script to
// render.
PackResult<Release> readRelease(const std::filesystem::path& directory,
                                const ReleaseOverrides& overrides);

// Reads the release name out of a .rel file: {release, {"NAME", "VSN"}, ...}.
std::optional<std::string> releaseNameFromRelFile(std::string_view text);

}  // namespace wexlo
