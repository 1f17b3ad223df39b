#include "platform/output_watch_posix.h"

#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace wexlo {

#if defined(__linux__) && defined(SYS_pidfd_open) && defined(SYS_pidfd_send_signal)

namespace {

bool isPipeOrSocket(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode));
}

[[noreturn]] void watch(int processFd) {
  // Its own session: a Ctrl-C meant for the runtime is not meant for it.
  ::setsid();
  // Only standard output and the process are watched; every other
  // descriptor (the install's run lock among them) is let go.
  if (processFd != 3) {
    ::dup2(processFd, 3);
    processFd = 3;
  }
  ::close(0);
  ::close(2);
  ::syscall(SYS_close_range, 4U, ~0U, 0U);
  // A pipe's write end reports POLLERR once no reader is left; a process
  // descriptor turns readable when the process ends.
  pollfd fds[2] = {{1, 0, 0}, {processFd, POLLIN, 0}};
  while (::poll(fds, 2, -1) < 0 && errno == EINTR) {
  }
  if ((fds[1].revents & POLLIN) == 0 && (fds[0].revents & (POLLERR | POLLHUP)) != 0) {
    ::syscall(SYS_pidfd_send_signal, processFd, SIGKILL, nullptr, 0U);
  }
  ::_exit(0);
}

}  // namespace

void watchStandardOutput() {
  if (!isPipeOrSocket(STDOUT_FILENO)) return;
  const int processFd = static_cast<int>(::syscall(SYS_pidfd_open, ::getpid(), 0U));
  if (processFd < 0) return;
  const pid_t child = ::fork();
  if (child == 0) {
    // The watcher is the child's child, adopted by init once the child
    // exits, so it never lingers as a zombie of the runtime.
    if (::fork() == 0) watch(processFd);
    ::_exit(0);
  }
  ::close(processFd);
  if (child > 0) {
    while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
}

#else

void watchStandardOutput() {}

#endif

}  // namespace wexlo
