// Writing a decoded archive's entries into the install directory.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

#include "platform/file_system.h"

namespace wexlo {

// Called with an entry's content once it is written and nothing reads it again.
using EntryWrittenFn = std::function<void(std::span<const std::uint8_t> content)>;

// Writes every archive entry below `installDirectory` on up to `threads`
// threads (0: one per core). Each directory is created once, before the
// files in it. Entries whose paths could escape the install directory are
// refused with BadPathName before anything of them is written. When entries
// fail, the failure is that of the first failing one in archive order; every
// entry before it is written, and later ones may be.
Status unpackArchive(FileSystem& fs, std::span<const std::uint8_t> archive,
                     std::string_view installDirectory, unsigned threads = 0,
                     const EntryWrittenFn& written = {});

}  // namespace wexlo
