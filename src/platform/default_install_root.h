// Where ".wexlo" goes on POSIX when no override variable is set.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace wexlo {

// Looks a variable up; nothing when it is not set.
using VariableLookup = std::function<std::optional<std::string>(std::string_view name)>;

// APPDATA when set; else XDG_DATA_HOME when it is an absolute path; else
// HOME/.local/share when HOME is not empty; else nothing.
std::optional<std::string> posixDefaultInstallRoot(const VariableLookup& lookup);

}  // namespace wexlo
