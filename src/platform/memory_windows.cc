#include "platform/memory.h"

namespace wexlo {

// Windows offers nothing that drops part of a heap block or of a mapped view
// of a file without unmapping it, so the pages stay until they are freed.
void releasePages(std::span<const std::uint8_t>) {}

// Large pages need a privilege users do not have.
void adviseLargePages(std::span<std::uint8_t>) {}

}  // namespace wexlo
