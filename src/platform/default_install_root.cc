#include "platform/default_install_root.h"

namespace wexlo {

std::optional<std::string> posixDefaultInstallRoot(const VariableLookup& lookup) {
  // Present counts as set, even empty, as for APPDATA on Windows.
  if (auto appData = lookup("APPDATA")) return appData;
  // The XDG rules say a relative value is to be ignored.
  if (auto dataHome = lookup("XDG_DATA_HOME"); dataHome && dataHome->starts_with('/')) {
    return dataHome;
  }
  // An empty HOME would put installs at "/.local/share" or in the working
  // directory; neither is a home.
  if (auto home = lookup("HOME"); home && !home->empty()) {
    if (!home->ends_with('/')) *home += '/';
    return *home + ".local/share";
  }
  return std::nullopt;
}

}  // namespace wexlo
