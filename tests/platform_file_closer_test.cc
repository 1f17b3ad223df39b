#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "platform/file_closer_posix.h"

namespace wexlo {
namespace {

std::size_t openDescriptors() {
  return static_cast<std::size_t>(std::distance(
      std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator()));
}

// More files than the queue holds: the hand-over waits rather than piling up
// descriptors, and the drain returns once every one is closed.
TEST(FileCloser, DrainReturnsOnceEveryFileHandedOverIsClosed) {
  const std::size_t before = openDescriptors();
  FileCloser closer;
  for (int i = 0; i < 300; ++i) {
    const int fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(closer.hand(fd));
    EXPECT_LE(openDescriptors(), before + 80);
  }
  EXPECT_TRUE(closer.drain());
  EXPECT_EQ(openDescriptors(), before);
}

// A close that fails is told by the next drain, once.
TEST(FileCloser, AFailedCloseIsToldByTheNextDrain) {
  FileCloser closer;
  ASSERT_TRUE(closer.hand(-1));
  auto drained = closer.drain();
  ASSERT_FALSE(drained);
  EXPECT_TRUE(closer.drain());
}

}  // namespace
}  // namespace wexlo
