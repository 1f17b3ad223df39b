// The launcher's standard streams and what it needs to know about them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "platform/failure.h"

namespace wexlo {

enum class StreamId { Output, Error };

class Console {
 public:
  virtual ~Console() = default;

  // Writes every byte unchanged (no conversion, no line-ending translation).
  // Fails with WriteFailed.
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

  // The current text attributes of a console on standard error; nothing where
  // there is no such console (always nothing on POSIX).
  virtual std::optional<std::uint16_t> consoleAttributes() = 0;
  virtual Status setConsoleAttributes(std::uint16_t attributes) = 0;
};

// The process's own standard streams.
Console& realConsole();

}  // namespace wexlo
