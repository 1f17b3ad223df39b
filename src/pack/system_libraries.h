// The shared libraries a release's programs and NIFs need from the machine it
// runs on: what they ask the loader for that the release does not carry.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "pack/native_code.h"

namespace wexlo {

struct SystemLibrary {
  std::string name;       // as the files ask for it, e.g. "libtinfo.so.6"
  std::string neededBy;   // the first file that asks for it
  std::size_t users = 0;  // how many files ask for it
};

// Whether a DLL ships with every Windows this target supports: the API sets
// (api-ms-win-*, ext-ms-win-*) and the system's own DLLs in a fixed list. The
// C++ runtime (vcruntime140.dll, msvcp140.dll) is not among them: a machine
// without the redistributable lacks it.
bool isWindowsSystemDll(std::string_view name);

// For the files built for `target` (others are never loaded there), sorted
// by name. A library whose file name is in the release counts as carried;
// Windows names compare without regard to case.
std::vector<SystemLibrary> systemLibraries(const NativeCode& code, std::string_view target);

}  // namespace wexlo
