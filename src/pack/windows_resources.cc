#include "pack/windows_resources.h"

#include <algorithm>
#include <cctype>

#include "image/pe_writer.h"
#include "pack/files.h"

namespace wexlo {

namespace {

// Runs as the user who starts it (no elevation prompt, no installer
// detection), declares Windows 10 and 11 (which share one identifier) and
// takes paths past MAX_PATH where the system allows them.
constexpr std::string_view kManifest =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">
  <trustInfo xmlns="urn:schemas-microsoft-com:asm.v3">
    <security>
      <requestedPrivileges>
        <requestedExecutionLevel level="asInvoker" uiAccess="false"/>
      </requestedPrivileges>
    </security>
  </trustInfo>
  <compatibility xmlns="urn:schemas-microsoft-com:compatibility.v1">
    <application>
      <supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>
    </application>
  </compatibility>
  <application xmlns="urn:schemas-microsoft-com:asm.v3">
    <windowsSettings>
      <longPathAware xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">true</longPathAware>
    </windowsSettings>
  </application>
</assembly>
)";

bool sameKey(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

}  // namespace

PackResult<std::pair<std::string, std::string>> parseVersionInfo(std::string_view text) {
  const auto equals = text.find('=');
  if (equals == std::string_view::npos || equals == 0) {
    return packError("--version-info '" + std::string(text) +
                     "' is not KEY=VALUE (for example CompanyName=\"Example Ltd\")");
  }
  return std::pair{std::string(text.substr(0, equals)), std::string(text.substr(equals + 1))};
}

PackResult<std::array<std::uint16_t, 4>> fileVersionOf(std::string_view appVersion) {
  std::array<std::uint16_t, 4> parts{};
  std::size_t count = 0;
  std::size_t at = 0;
  while (at < appVersion.size() && std::isdigit(static_cast<unsigned char>(appVersion[at]))) {
    std::uint64_t value = 0;
    for (; at < appVersion.size() && std::isdigit(static_cast<unsigned char>(appVersion[at]));
         ++at) {
      value = std::min<std::uint64_t>(value * 10 + static_cast<unsigned>(appVersion[at] - '0'),
                                      1'000'000);
    }
    if (count == parts.size()) {
      return packError("application version '" + std::string(appVersion) +
                       "' has more than four numbers; a Windows file version holds four");
    }
    if (value > 0xffff) {
      return packError("application version '" + std::string(appVersion) +
                       "': " + (value < 1'000'000 ? std::to_string(value) : "a number") +
                       " is above 65535, the largest part of a Windows file version");
    }
    parts[count++] = static_cast<std::uint16_t>(value);
    if (at + 1 < appVersion.size() && appVersion[at] == '.') ++at;
  }
  return parts;
}

PackResult<std::vector<std::uint8_t>> addWindowsResources(std::span<const std::uint8_t> stub,
                                                          const WindowsResourceOptions& options,
                                                          const LauncherIdentity& identity) {
  auto version = fileVersionOf(identity.appVersion);
  if (!version) return std::unexpected(version.error());
  image::ResourceSet resources{
      .fileVersion = *version,
      .versionStrings = {{"FileDescription", std::string(identity.appName)},
                         {"FileVersion", std::string(identity.appVersion)},
                         {"OriginalFilename", std::string(identity.fileName)},
                         {"ProductName", std::string(identity.appName)},
                         {"ProductVersion", std::string(identity.appVersion)}},
      .manifest = std::string(kManifest),
      .icon = {},
  };
  for (const auto& [key, value] : options.versionInfo) {
    auto same = std::find_if(resources.versionStrings.begin(), resources.versionStrings.end(),
                             [&](const auto& entry) { return sameKey(entry.first, key); });
    if (same != resources.versionStrings.end()) {
      same->second = value;
    } else {
      resources.versionStrings.emplace_back(key, value);
    }
  }
  std::vector<std::uint8_t> iconFile;
  if (options.icon) {
    auto bytes = readWholeFile(*options.icon, "icon");
    if (!bytes) return std::unexpected(bytes.error());
    iconFile = std::move(*bytes);
    auto images = image::readIconFile(iconFile);
    if (!images) return packError("icon " + quoted(*options.icon) + ": " + images.error());
    resources.icon = std::move(*images);
  }
  auto written = image::withResourceSection(stub, resources);
  if (!written) return packError("cannot write the launcher's resources: " + written.error());
  return std::move(*written);
}

}  // namespace wexlo
