// The names a launcher turns into directory names, checked before packing so
// that no launcher is made that could never install.
#pragma once

#include <string_view>

#include "pack/pack_error.h"

namespace wexlo {

// One plain path component without control characters; `what` names the
// value in the error line.
PackResult<void> checkDirectoryName(std::string_view what, std::string_view value);

// The application's name and versions, each a directory name; the
// application version must also be a semantic version, or a launcher's
// cleanup could never order it against the versions installed beside it.
PackResult<void> checkBuildNames(std::string_view appName, std::string_view appVersion,
                                 std::string_view ertsVersion);

}  // namespace wexlo
