// A release built for another CPU packs and unpacks fine, then fails to start
// on every user's machine; its runtime programs tell the CPU beforehand.
#pragma once

#include <filesystem>
#include <string_view>

#include "pack/pack_error.h"

namespace wexlo {

// Refuses a release whose runtime programs in `ertsBin` (erlexec and
// beam.smp, ELF files on Linux) were built for another CPU than `target`'s.
// Programs that are missing or not ELF files tell nothing and pass.
PackResult<void> checkRuntimeCpu(const std::filesystem::path& ertsBin, std::string_view target);

}  // namespace wexlo
