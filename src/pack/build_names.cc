#include "pack/build_names.h"

#include <algorithm>
#include <string>

#include "metadata/semantic_version.h"
#include "platform/path.h"

namespace wexlo {

namespace {

// What most file systems allow in one name.
constexpr std::size_t kLongestFileName = 255;

// The longest names a launcher makes of these: its install directory
// "<app>_erts-<erts>_<version>" renamed aside with ".wexlo-removing" for its
// removal, and a runtime configuration's copy
// "<app>-<version>-<seconds>-<16 hex digits>.runtime.config", whose seconds
// have ten digits until the year 2286.
PackResult<void> checkDerivedNameLengths(std::string_view appName, std::string_view appVersion,
                                         std::string_view ertsVersion) {
  const std::size_t aside = appName.size() + std::string_view("_erts-").size() +
                            ertsVersion.size() + 1 + appVersion.size() +
                            std::string_view(".wexlo-removing").size();
  const std::size_t copy = appName.size() + 1 + appVersion.size() + 1 + 10 + 1 + 16 +
                           std::string_view(".runtime.config").size();
  for (auto [what, length] : {std::pair{"install directory's name (while it is removed)", aside},
                              std::pair{"runtime configuration copy's name", copy}}) {
    if (length > kLongestFileName) {
      return packError("the application name and version make a launcher's " + std::string(what) +
                       " " + std::to_string(length) + " bytes long; file systems allow " +
                       std::to_string(kLongestFileName) + ": shorten them");
    }
  }
  return {};
}

}  // namespace

PackResult<void> checkDirectoryName(std::string_view what, std::string_view value) {
  const bool control = std::ranges::any_of(
      value, [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
  if (control || !isPlainPathComponent(value)) {
    return packError(std::string(what) + " '" + std::string(value) +
                     "' is not usable as a directory name");
  }
  return {};
}

PackResult<void> checkBuildNames(std::string_view appName, std::string_view appVersion,
                                 std::string_view ertsVersion) {
  for (auto [what, value] :
       {std::pair{"application name", appName}, std::pair{"application version", appVersion},
        std::pair{"ERTS version", ertsVersion}}) {
    if (auto checked = checkDirectoryName(what, value); !checked) return checked;
  }
  if (!parseSemanticVersion(appVersion)) {
    return packError("application version '" + std::string(appVersion) +
                     "' is not a semantic version (MAJOR.MINOR.PATCH, such as 1.0.0); a "
                     "launcher could not tell it from older versions");
  }
  return checkDerivedNameLengths(appName, appVersion, ertsVersion);
}

}  // namespace wexlo
