// Giving memory back to the system before it is freed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace wexlo {

// Drops the whole pages inside `bytes` from the process's memory. Only for
// memory that is never read again (it may read as zeros afterwards) or for a
// read-only mapping of a file (read from the file again when touched).
// Where the platform offers no such call, nothing happens.
void releasePages(std::span<const std::uint8_t> bytes);

// The alignment that lets a buffer take large pages (2 MiB on x86-64 and
// aarch64 Linux).
inline constexpr std::size_t kLargePageSize = std::size_t{2} << 20;

// Asks for large pages over the whole large pages inside `bytes`: a buffer
// filled afresh at every use then costs a few page faults where it cost
// thousands, which a virtual machine makes dear. Advice only; where the
// platform offers no such call, nothing happens.
void adviseLargePages(std::span<std::uint8_t> bytes);

}  // namespace wexlo
