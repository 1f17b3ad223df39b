#include "platform/output_relay_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <string_view>

#include "platform/errno_failure_posix.h"
#include "platform/failure.h"
#include "platform/retry_posix.h"

namespace wexlo {

#if defined(__linux__) && defined(SYS_pidfd_open) && defined(SYS_pidfd_send_signal)

namespace {

// How long a runtime asked to stop may take before it is killed.
constexpr std::int64_t kStopGraceMs = 2'000;
// The relay's pipe is made this large where the system allows it, and
// moved in chunks of this size: fewer switches between runtime and relay.
constexpr std::size_t kChunkBytes = 1024 * 1024;

// Everything below runs in the relay process, which has one thread, so it
// keeps to system calls.

char chunk[kChunkBytes];

std::int64_t nowMs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1'000'000;
}

void signalRuntime(int processFd, int signal) {
  // A runtime that has already ended cannot be signalled; nothing is lost.
  (void)::syscall(SYS_pidfd_send_signal, processFd, signal, nullptr, 0U);
}

enum class Step { Moved, EndOfInput, ReaderGone, Failed };

Step afterWriteError() {
  switch (errno) {
    case EPIPE:
    case ECONNRESET:
      return Step::ReaderGone;
    case EAGAIN: {
      // Someone made the shared output non-blocking: wait until it takes more.
      pollfd output{STDOUT_FILENO, POLLOUT, 0};
      return retryAfterSignal([&] { return ::poll(&output, 1, -1); }) < 0 ? Step::Failed
                                                                          : Step::Moved;
    }
    default:
      return Step::Failed;
  }
}

// Moves the next bytes from the relay's pipe to the real output: splice(2)
// where the kernel can, read and write elsewhere.
class Copier {
 public:
  explicit Copier(int input) : input_(input) {}

  Step step() {
    if (useSplice_) {
      const ssize_t moved = retryAfterSignal([&] {
        return ::splice(input_, nullptr, STDOUT_FILENO, nullptr, kChunkBytes, SPLICE_F_MOVE);
      });
      if (moved > 0) return Step::Moved;
      if (moved == 0) return Step::EndOfInput;
      // Only a reader that has gone, or an output that takes nothing more
      // for now, is the output's answer; anything else (no splice for
      // these files, no memory for it) leaves the bytes where they were,
      // and read and write move them instead.
      if (errno == EPIPE || errno == ECONNRESET || errno == EAGAIN) return afterWriteError();
      useSplice_ = false;
    }
    const ssize_t got = retryAfterSignal([&] { return ::read(input_, chunk, sizeof chunk); });
    if (got <= 0) return got == 0 ? Step::EndOfInput : Step::Failed;
    for (ssize_t done = 0; done < got;) {
      const ssize_t written = retryAfterSignal([&] {
        return ::write(STDOUT_FILENO, chunk + done, static_cast<std::size_t>(got - done));
      });
      if (written >= 0) {
        done += written;
      } else if (Step next = afterWriteError(); next != Step::Moved) {
        return next;
      }
    }
    return Step::Moved;
  }

 private:
  int input_;
  bool useSplice_ = true;
};

// Reads and drops what the runtime still writes, so that its shutdown never
// blocks on a full pipe, until the last writer is gone. With `processFd`,
// the runtime has just been asked to stop and is killed if it has not ended
// when the grace period is over.
void drain(int input, int processFd) {
  const std::int64_t deadline = nowMs() + kStopGraceMs;
  bool open = true;
  bool running = processFd >= 0;
  while (open || running) {
    pollfd fds[2] = {{open ? input : -1, POLLIN, 0}, {running ? processFd : -1, POLLIN, 0}};
    const int timeout =
        running ? static_cast<int>(std::max<std::int64_t>(deadline - nowMs(), 0)) : -1;
    const int ready = retryAfterSignal([&] { return ::poll(fds, 2, timeout); });
    if (ready <= 0) {
      // The grace period is over (or the relay can no longer wait for it).
      if (running) signalRuntime(processFd, SIGKILL);
      running = false;
      if (ready < 0) return;
      continue;
    }
    if (fds[1].revents != 0) running = false;
    if (fds[0].revents != 0) {
      const ssize_t got = retryAfterSignal([&] { return ::read(input, chunk, sizeof chunk); });
      if (got <= 0) open = false;
    }
  }
}

// The one line the relay says when the real output fails: from then on what
// the runtime writes there is dropped, and the runtime runs on.
void reportFailedOutput(int error) {
  const std::string_view name = failureName(failureFromErrno(error));
  const std::string_view parts[] = {"error: the application's standard output failed (", name,
                                    "); what it writes there is dropped\n"};
  for (auto part : parts) {
    if (retryAfterSignal([&] { return ::write(STDERR_FILENO, part.data(), part.size()); }) < 0) {
      return;
    }
  }
}

[[noreturn]] void relay(int input, int processFd) {
  Copier copier(input);
  Step step;
  do {
    step = copier.step();
  } while (step == Step::Moved);
  if (step == Step::ReaderGone) {
    signalRuntime(processFd, SIGTERM);
    drain(input, processFd);
  } else if (step == Step::Failed) {
    reportFailedOutput(errno);
    drain(input, -1);
  }
  ::_exit(0);
}

bool closeRange(unsigned first, unsigned last) {
  if (first > last) return true;
  if (::syscall(SYS_close_range, first, last, 0U) == 0) return true;
  if (errno != ENOSYS) return false;
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
  const unsigned end = static_cast<unsigned>(std::min<rlim_t>(limit.rlim_cur, last + 1ULL));
  for (unsigned fd = first; fd < end; ++fd) {
    if (::close(static_cast<int>(fd)) != 0 && errno != EBADF && errno != EINTR) return false;
  }
  return true;
}

// Closes every descriptor but standard output and error, `input` and
// `processFd`.
bool keepOnly(int input, int processFd) {
  unsigned keep[] = {STDOUT_FILENO, STDERR_FILENO, static_cast<unsigned>(input),
                     static_cast<unsigned>(processFd)};
  std::ranges::sort(keep);
  unsigned next = 0;
  for (unsigned fd : keep) {
    if (fd > next && !closeRange(next, fd - 1)) return false;
    next = fd + 1;
  }
  return closeRange(next, ~0U);
}

// The first child: prepares the relay and leaves it to init, so that it is
// never a zombie of the runtime. Exits 0 once the relay runs.
[[noreturn]] void startRelay(int input, int processFd) {
  // A session of its own: a Ctrl-C or hang-up meant for the runtime does not
  // end the relay before the runtime's last words are out.
  if (::setsid() < 0) ::_exit(1);
  // A write into a pipe with no reader fails with EPIPE instead.
  if (::signal(SIGPIPE, SIG_IGN) == SIG_ERR) ::_exit(1);
  // Keeps no directory busy, and no lock or file of the launcher alive.
  if (::chdir("/") != 0 || !keepOnly(input, processFd)) ::_exit(1);
  const pid_t relayProcess = ::fork();
  if (relayProcess < 0) ::_exit(1);
  if (relayProcess == 0) relay(input, processFd);
  ::_exit(0);
}

bool isPipeOrSocket(const struct stat& file) {
  return S_ISFIFO(file.st_mode) || S_ISSOCK(file.st_mode);
}

}  // namespace

void relayStandardOutput() {
  struct stat output {};
  if (::fstat(STDOUT_FILENO, &output) != 0 || !isPipeOrSocket(output)) return;
  struct stat error {};
  // Standard error that is the same file goes through the relay too, so that
  // `app 2>&1 | tee log` keeps the order of the lines.
  const bool sameFile = ::fstat(STDERR_FILENO, &error) == 0 && error.st_dev == output.st_dev &&
                        error.st_ino == output.st_ino;

  const int processFd = static_cast<int>(::syscall(SYS_pidfd_open, ::getpid(), 0U));
  if (processFd < 0) return;
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    ::close(processFd);
    return;
  }
  // Only a larger buffer is lost should this fail.
  (void)::fcntl(ends[1], F_SETPIPE_SZ, static_cast<int>(kChunkBytes));
  const pid_t child = ::fork();
  if (child == 0) startRelay(ends[0], processFd);
  ::close(processFd);
  ::close(ends[0]);
  int status = 0;
  const bool relaying = child > 0 &&
                        retryAfterSignal([&] { return ::waitpid(child, &status, 0); }) == child &&
                        WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (relaying && retryAfterSignal([&] { return ::dup2(ends[1], STDOUT_FILENO); }) >= 0 &&
      sameFile) {
    // Should this fail, standard error still reaches the same file directly.
    (void)retryAfterSignal([&] { return ::dup2(ends[1], STDERR_FILENO); });
  }
  // Without a relay, closing the only write end lets a started relay end.
  ::close(ends[1]);
}

#else

void relayStandardOutput() {}

#endif

}  // namespace wexlo
