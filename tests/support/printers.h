// Lets GoogleTest print failure names instead of raw bytes.
#pragma once

#include <ostream>

#include "platform/failure.h"

namespace wexlo {

inline void PrintTo(Failure failure, std::ostream* out) { *out << failureName(failure); }

}  // namespace wexlo
