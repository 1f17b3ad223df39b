#include <gtest/gtest.h>
#include <signal.h>

#include "platform/process_start.h"

namespace wexlo {
namespace {

void noteSignal(int) {}

sighandler_t currentHandler(int signal) {
  struct sigaction now {};
  ::sigaction(signal, nullptr, &now);
  return now.sa_handler;
}

TEST(FileSizeLimitAsFailure, IgnoresTheSignalWhileAliveThenRestoresTheEarlierHandler) {
  auto before = ::signal(SIGXFSZ, noteSignal);
  {
    const FileSizeLimitAsFailure guard;
    EXPECT_EQ(currentHandler(SIGXFSZ), SIG_IGN);
  }
  EXPECT_EQ(currentHandler(SIGXFSZ), &noteSignal);
  ::signal(SIGXFSZ, before);
}

}  // namespace
}  // namespace wexlo
