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
  std::optional<std::string> target;               // --target; else the stub's own
  std::optional<std::filesystem::path> path;       // --stub; else the first found in `directories`
  std::vector<std::filesystem::path> directories;  // where installed stubs are looked for
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

// The directory of the running packer.
std::filesystem::path packerDirectory();

// Where a packer in `packerDirectory` looks for its stubs, in order: beside
// itself (the build tree), then ../lib/wexlo (where `cmake --install` and
// the .deb put them).
std::vector<std::filesystem::path> stubDirectories(const std::filesystem::path& packerDirectory);

struct InstalledStub {
  std::string target;
  std::filesystem::path path;
};

// The stubs found in `directories`, one per target (the first found wins),
// sorted by target; the target is read from the file name.
std::vector<InstalledStub> installedStubs(const std::vector<std::filesystem::path>& directories);

}  // namespace wexlo
