// Giving memory back to the system before it is freed.
#pragma once

#include <cstdint>
#include <span>

namespace wexlo {

// Drops the whole pages inside `bytes` from the process's memory. Only for
// memory that is never read again (it may read as zeros afterwards) or for a
// read-only mapping of a file (read from the file again when touched).
// Where the platform offers no such call, nothing happens.
void releasePages(std::span<const std::uint8_t> bytes);

}  // namespace wexlo
