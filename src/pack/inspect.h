// `wexlo inspect`: what a launcher carries, and whether all of it is sound.
#pragma once

#include <filesystem>
#include <ostream>

#include "pack/pack_error.h"

namespace wexlo {

struct InspectOptions {
  std::filesystem::path launcher;
  bool list = false;    // print every archive entry: mode (octal), size, path
  bool verify = false;  // decode and check everything; any fault is an error
};

// Prints the target, metadata text, lengths, block count and the shared
// libraries the release needs from the target system to `out`.
PackResult<void> inspectLauncher(const InspectOptions& options, std::ostream& out);

}  // namespace wexlo
