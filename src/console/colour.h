// How error log lines are coloured.
#pragma once

#include <cstdint>

#include "platform/console.h"
#include "platform/environment.h"

namespace wexlo {

enum class ColourMode { None, EscapeCodes, ConsoleAttributes };

struct ColourChoice {
  ColourMode mode = ColourMode::None;
  std::uint16_t resetAttributes = 0;  // console-attribute mode only
};

// NO_COLOR wins; then a terminal that takes escape codes; then a console's
// text attributes; then escape codes only when CLICOLOR_FORCE is set. Both
// variables count when present, whatever their value or letter case.
ColourChoice chooseColourMode(Console& console, const Environment& environment);

}  // namespace wexlo
