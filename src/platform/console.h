// The launcher's standard streams and what it needs to know about them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "platform/failure.h"

namespace wexlo {

enum class StreamId { Output, Error };

// The styles an error log line is drawn with.
enum class TextStyle { Red, Bold, Dim, Reset };

class Console {
 public:
  virtual ~Console() = default;

  // Writes every byte unchanged (no conversion, no line-ending translation),
  // except to a Windows console, which gets the WTF-8 text as UTF-16 so that
  // it reads right in any code page. Fails with WriteFailed.
  virtual Status write(StreamId stream, std::span<const char> bytes) = 0;

  // Reads up to bytes.size() bytes from standard input; 0 means end of input.
  // Fails with ReadFailed.
  virtual Result<std::size_t> readInput(std::span<char> bytes) = 0;

  // A terminal the user looks at: a console, a tty, or the pty pipe of an
  // MSYS/Cygwin terminal emulator.
  virtual bool isTerminal(StreamId stream) = 0;

  // Standard error understands escape codes, or could be switched to: a
  // console with virtual-terminal processing, a tty, an MSYS/Cygwin pty.
  virtual bool enableEscapeCodes() = 0;

  // Standard error is a console that styles text through attributes of its
  // own rather than escape codes (a Windows console without virtual-terminal
  // processing; never on POSIX). Asking remembers its current attributes.
  virtual bool hasStyleAttributes() = 0;

  // Sets such a console's attributes for `style`; Reset restores the ones
  // remembered by hasStyleAttributes().
  virtual Status setStyleAttributes(TextStyle style) = 0;
};

// The process's own standard streams.
Console& realConsole();

}  // namespace wexlo
