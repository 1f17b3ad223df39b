#include "pack/build_names.h"

#include <algorithm>
#include <string>

#include "metadata/semantic_version.h"
#include "platform/path.h"

namespace wexlo {

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
  return {};
}

}  // namespace wexlo
