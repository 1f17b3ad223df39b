// How a launcher boots its release, as the packer records it in the
// metadata's "options".
#pragma once

#include <string_view>

namespace wexlo {

enum class StartMode {
  // Elixir's command-line handler runs once the boot script is done
  // (`-s elixir start_cli`): the application halts in its start callback.
  CommandLine,
  // No start function: the release runs until it stops itself or is stopped,
  // as a server does.
  Service,
};

// The word that selects the service mode. The packer writes it before any
// value that comes from the user (names and versions may hold spaces).
inline constexpr std::string_view kServiceOption = "--service";

// The mode `options` records; records without the word (every launcher
// packed before the mode existed) boot the command-line way.
StartMode startModeIn(std::string_view options);

std::string_view startModeName(StartMode mode);

}  // namespace wexlo
