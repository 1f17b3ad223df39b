// What a release's vm.args says that the packer acts on: the cookie it sets,
// and whether it names the node.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "pack/pack_error.h"

namespace wexlo {

struct VmArgs {
  std::optional<std::string> cookie;    // the value of -setcookie
  std::optional<std::string> nodeName;  // "-sname NAME" or "-name NAME", as written
  // The file without its -setcookie flags: a runtime given the flag twice
  // (the launcher always gives it) takes neither, and uses ~/.erlang.cookie.
  std::string withoutCookie;
};

// Reads the file the way the runtime reads an args file: words split on
// white space, `#` starting a comment to the end of the line, a backslash
// taking the next character as it is. The last flag of each kind wins.
VmArgs parseVmArgs(std::string_view text);

// releases/<version>/vm.args of the release, or nothing when it has none.
PackResult<std::optional<VmArgs>> readVmArgs(const std::filesystem::path& directory,
                                             std::string_view appVersion);

}  // namespace wexlo
