// Reading a Windows environment block: "name=value" entries, each ended by a
// NUL unit, the whole ended by an empty entry.
#pragma once

#include <string_view>
#include <vector>

#include "platform/environment.h"

namespace wexlo {

// Entries in block order, names and values as WTF-8. A name ends at the first
// "=" after its first unit, so the per-drive entries ("=C:=C:\dir") keep their
// leading "="; an entry without such an "=" is a name with an empty value.
// The block ends at an empty entry or at the end of `block`.
std::vector<EnvironmentVariable> parseEnvironmentBlock(std::u16string_view block);

}  // namespace wexlo
