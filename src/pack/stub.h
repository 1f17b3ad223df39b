// Finds and checks the launcher stub a release is appended to.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "format/stub_marker.h"
#include "pack/pack_error.h"
#include "pack/target.h"

namespace wexlo {

struct StubChoice {
  std::optional<std::string> target;          // --target; else the stub's own
  std::optional<std::filesystem::path> path;  // --stub; else found in `directory`
  std::filesystem::path directory;            // where the packer's stubs are installed
};

struct Stub {
  std::filesystem::path path;
  std::vector<std::uint8_t> bytes;
  StubInfo info;
};

// Loads the chosen stub and refuses one without a marker, of another target
// than asked for, already carrying a release, or already signed (appending
// would break its signature and hide the release from the launcher).
PackResult<Stub> loadStub(const StubChoice& choice);

// The directory of the running packer, where its stubs are installed.
std::filesystem::path packerDirectory();

}  // namespace wexlo
