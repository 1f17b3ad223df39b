// The programs and libraries a release carries, found by their headers
// wherever they are, and the check that each is built for the target.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "image/executable_kind.h"
#include "pack/pack_error.h"
#include "pack/release.h"

namespace wexlo {

struct NativeFile {
  std::string path;  // relative, '/'-separated
  image::Executable executable;
};

struct NativeCode {
  std::vector<NativeFile> files;   // in archive order
  std::vector<std::string> paths;  // every entry's, sorted
};

// Looks at the start of every file of `release`, and through each one that
// may be a program; a file is mapped rather than read, so even a large
// library costs only the pages its headers are on.
PackResult<NativeCode> findNativeCode(const Release& release);

// Whether `file` runs on `target`: an ELF file for Linux on its CPU (64-bit,
// little-endian), or a PE32+ image for its CPU.
bool runsOn(const image::Executable& file, std::string_view target);

struct NativeCheck {
  std::string_view target;
  std::filesystem::path releaseDirectory;  // for the paths error lines show
  std::string ertsVersion;
  std::vector<std::string> allowed;  // paths let through whatever they are built for
};

// Refuses a release carrying a program or library for another target (its
// runtime first, with the target that would fit), and a Windows release
// whose erl.exe is no 64-bit x86 console program. Every allowed path must
// name a file of the release.
PackResult<void> checkNativeCode(const NativeCode& code, const NativeCheck& check);

}  // namespace wexlo
