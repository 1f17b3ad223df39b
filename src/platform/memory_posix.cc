#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

#include "platform/memory.h"

namespace wexlo {

void releasePages(std::span<const std::uint8_t> bytes) {
  static const auto page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const auto start = reinterpret_cast<std::uintptr_t>(bytes.data());
  const std::uintptr_t first = (start + page - 1) & ~(page - 1);
  const std::uintptr_t end = (start + bytes.size()) & ~(page - 1);
  if (end <= first) return;
  // Advice only: on failure the pages simply stay.
  (void)::madvise(reinterpret_cast<void*>(first), end - first, MADV_DONTNEED);
}

void adviseLargePages(std::span<std::uint8_t> bytes) {
#ifdef MADV_HUGEPAGE
  const auto start = reinterpret_cast<std::uintptr_t>(bytes.data());
  const std::uintptr_t first = (start + kLargePageSize - 1) & ~(kLargePageSize - 1);
  const std::uintptr_t end = (start + bytes.size()) & ~(kLargePageSize - 1);
  if (end <= first) return;
  // Advice only: where it is refused (no large pages), small ones serve.
  (void)::madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#else
  (void)bytes;
#endif
}

}  // namespace wexlo
