#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "platform/errno_failure_posix.h"
#include "platform/process_start.h"

namespace wexlo {

namespace {

bool closedAtStart[3] = {};

}  // namespace

bool standardStreamWasClosed(int stream) {
  return stream >= 0 && stream <= 2 && closedAtStart[stream];
}

Status openClosedStandardStreams() {
  for (int stream = 0; stream <= 2; ++stream) {
    if (::fcntl(stream, F_GETFD) >= 0) continue;
    if (errno != EBADF) return fail(failureFromErrno(errno));
    closedAtStart[stream] = true;
    // The lowest free number is this one: every stream below it is open.
    const int opened = ::open("/dev/null", stream == 0 ? O_RDONLY : O_WRONLY);
    if (opened < 0) return fail(failureFromErrno(errno));
    if (opened != stream) {
      ::close(opened);
      return fail(Failure::Unexpected);
    }
  }
  return {};
}

FileSizeLimitAsFailure::FileSizeLimitAsFailure() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  changed_ = ::sigaction(SIGXFSZ, &ignore, &previous_) == 0;
}

FileSizeLimitAsFailure::~FileSizeLimitAsFailure() {
  if (!changed_) return;
  ::sigaction(SIGXFSZ, &previous_, nullptr);
}

}  // namespace wexlo
