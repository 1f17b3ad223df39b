#include "console/colour.h"

namespace wexlo {

ColourMode chooseColourMode(Console& console, const Environment& environment) {
  bool noColour = false;
  bool forceColour = false;
  for (const auto& variable : environment.entries()) {
    if (asciiCaseInsensitiveEquals(variable.name, "NO_COLOR")) noColour = true;
    if (asciiCaseInsensitiveEquals(variable.name, "CLICOLOR_FORCE")) forceColour = true;
  }
  if (noColour) return ColourMode::None;
  if (console.enableEscapeCodes()) return ColourMode::EscapeCodes;
  if (console.hasStyleAttributes()) return ColourMode::ConsoleAttributes;
  return forceColour ? ColourMode::EscapeCodes : ColourMode::None;
}

}  // namespace wexlo
