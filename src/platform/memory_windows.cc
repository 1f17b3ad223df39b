#include "platform/memory.h"

namespace wexlo {

// Windows offers nothing that drops part of a heap block or of a mapped view
// of a file without unmapping it, so the pages stay until they are freed.
void releasePages(std::span<const std::uint8_t>) {}

}  // namespace wexlo
