// How error log lines are coloured.
#pragma once

#include "platform/console.h"
#include "platform/environment.h"

namespace wexlo {

enum class ColourMode { None, EscapeCodes, ConsoleAttributes };

// NO_COLOR wins; then a terminal that takes escape codes; then a console's
// text attributes; then escape codes only when CLICOLOR_FORCE is set. Both
// variables count when present, whatever their value or letter case.
ColourMode chooseColourMode(Console& console, const Environment& environment);

}  // namespace wexlo
