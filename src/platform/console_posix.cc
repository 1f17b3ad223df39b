#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "platform/console.h"
#include "platform/process_start.h"
#include "platform/retry_posix.h"

namespace wexlo {

namespace {

int descriptorOf(StreamId stream) { return stream == StreamId::Output ? 1 : 2; }

class PosixConsole : public Console {
 public:
  PosixConsole() {
    // A closed or broken output stream must not kill the launcher: its
    // messages are simply lost. The runtime gets the default back at exec.
    std::signal(SIGPIPE, SIG_IGN);
  }

  Status write(StreamId stream, std::span<const char> bytes) override {
    int fd = descriptorOf(stream);
    // It holds the null device only for the runtime's sake.
    if (standardStreamWasClosed(fd)) return fail(Failure::WriteFailed);
    while (!bytes.empty()) {
      ssize_t n = retryAfterSignal([&] { return ::write(fd, bytes.data(), bytes.size()); });
      if (n < 0) return fail(Failure::WriteFailed);
      bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return {};
  }

  Result<std::size_t> readInput(std::span<char> bytes) override {
    if (standardStreamWasClosed(0)) return fail(Failure::ReadFailed);
    ssize_t n = retryAfterSignal([&] { return ::read(0, bytes.data(), bytes.size()); });
    if (n < 0) return fail(Failure::ReadFailed);
    return static_cast<std::size_t>(n);
  }

  bool isTerminal(StreamId stream) override { return ::isatty(descriptorOf(stream)) == 1; }
  bool enableEscapeCodes() override { return ::isatty(2) == 1; }
  bool hasStyleAttributes() override { return false; }
  Status setStyleAttributes(TextStyle) override { return fail(Failure::Unsupported); }
};

}  // namespace

Console& realConsole() {
  static PosixConsole console;
  return console;
}

}  // namespace wexlo
