// What a Windows launcher tells Explorer and the loader about itself: its
// version record, application manifest and, when given, an icon, written
// into the stub's image before the release is appended.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "pack/pack_error.h"

namespace wexlo {

struct WindowsResourceOptions {
  std::optional<std::filesystem::path> icon;                     // --icon FILE.ico
  std::vector<std::pair<std::string, std::string>> versionInfo;  // --version-info KEY=VALUE
};

// "KEY=VALUE" split at the first '='; the key must be non-empty.
PackResult<std::pair<std::string, std::string>> parseVersionInfo(std::string_view text);

// The four numbers of a Windows file version: the leading numbers of
// `appVersion` (1.4.2 -> 1.4.2.0, 2.0.0-rc.1 -> 2.0.0.0), at most four, none
// above 65535.
PackResult<std::array<std::uint16_t, 4>> fileVersionOf(std::string_view appVersion);

struct LauncherIdentity {
  std::string_view appName;
  std::string_view appVersion;
  std::string_view fileName;  // the output's name
};

// `stub` with its resources written in: the version strings ProductName and
// FileDescription (the app name), ProductVersion and FileVersion (the app
// version), OriginalFilename, then those given, which replace a default of
// the same name; a manifest that runs as the invoker, declares Windows 10
// and 11 and long paths; the icon when given.
PackResult<std::vector<std::uint8_t>> addWindowsResources(std::span<const std::uint8_t> stub,
                                                          const WindowsResourceOptions& options,
                                                          const LauncherIdentity& identity);

}  // namespace wexlo
