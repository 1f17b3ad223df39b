// The Windows rule for environment variable names (Windows builds only).
#pragma once

#include <string_view>

namespace wexlo {

// Names match when their UTF-16 units are equal after the system's
// upper-casing of each unit; text that is not valid WTF-8 never matches
// anything but itself.
bool windowsNameEquals(std::string_view a, std::string_view b);

}  // namespace wexlo
