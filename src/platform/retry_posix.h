// Retrying a system call that a signal interrupted.
#pragma once

#include <cerrno>

namespace wexlo {

// Calls `call` until it no longer fails with EINTR, and returns its last
// result. For calls that report failure as -1 with errno set.
template <typename Call>
auto retryAfterSignal(Call&& call) -> decltype(call()) {
  decltype(call()) result;
  do {
    result = call();
  } while (result == -1 && errno == EINTR);
  return result;
}

}  // namespace wexlo
