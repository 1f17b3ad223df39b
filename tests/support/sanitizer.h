// Whether the tests (and the programs they run, built alike) carry
// AddressSanitizer, which reserves terabytes of address space, cannot run
// under ptrace, and takes SIGSEGV for its own reports.
#pragma once

namespace wexlo::testing {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kAddressSanitizer = true;
#else
inline constexpr bool kAddressSanitizer = false;
#endif

}  // namespace wexlo::testing
