// Message lines ("[i] ...", "[w] ...") and error log lines ("error: ...").
#pragma once

#include <initializer_list>
#include <optional>
#include <string_view>

#include "console/colour.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "platform/failure.h"

namespace wexlo {

// Writes the pieces of one message through a fresh 64-byte buffer, in order,
// and flushes at the end. Fails with WriteFailed.
Status writeMessage(Console& console, StreamId stream,
                    std::initializer_list<std::string_view> pieces);

// Writes error log lines to standard error. The colour mode is chosen at the
// first line and kept for the rest of the process.
class ErrorLog {
 public:
  ErrorLog(Console& console, const Environment& environment)
      : console_(console), environment_(environment) {}

  // One line: "error", ": ", the pieces, "\n", coloured by the colour mode.
  // A line that cannot be written is dropped.
  void logError(std::initializer_list<std::string_view> pieces);

  // The failed-run ending's line: the failure name alone.
  void logFailure(Failure failure) { logError({failureName(failure)}); }

 private:
  Console& console_;
  const Environment& environment_;
  std::optional<ColourMode> colour_;
};

}  // namespace wexlo
