// The failure name for a POSIX errno value.
#pragma once

#include "platform/failure.h"

namespace wexlo {

// Unknown values map to Unexpected.
Failure failureFromErrno(int error);

}  // namespace wexlo
