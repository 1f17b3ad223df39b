#include "platform/file_closer_posix.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <exception>
#include <utility>

#include "platform/errno_failure_posix.h"

namespace wexlo {

namespace {

// Files queued at most; beyond them the unpacker waits.
constexpr std::size_t kMostQueued = 64;

}  // namespace

Status startWritebackAndClose(int fd) {
  // A hint: where the call is missing or refused, the flush before the
  // install's marker does it all.
#ifdef __linux__
  (void)::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
  // A delayed write error surfaces here; after EINTR the descriptor is gone.
  if (::close(fd) != 0 && errno != EINTR) return fail(failureFromErrno(errno));
  return {};
}

FileCloser::~FileCloser() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

Status FileCloser::hand(int fd) {
  std::unique_lock lock(mutex_);
  if (!thread_.joinable()) {
    try {
      thread_ = std::thread([this] { run(); });
    } catch (const std::exception&) {
      lock.unlock();
      return startWritebackAndClose(fd);
    }
  }
  changed_.wait(lock, [&] { return queue_.size() < kMostQueued; });
  queue_.push_back(fd);
  changed_.notify_all();
  return {};
}

Status FileCloser::drain() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return queue_.empty() && !closing_; });
  if (auto failure = std::exchange(failure_, std::nullopt)) return fail(*failure);
  return {};
}

void FileCloser::run() {
  std::unique_lock lock(mutex_);
  while (true) {
    changed_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) return;
    const int fd = queue_.front();
    queue_.pop_front();
    closing_ = true;
    lock.unlock();
    auto closed = startWritebackAndClose(fd);
    lock.lock();
    closing_ = false;
    if (!closed && !failure_) failure_ = closed.error();
    changed_.notify_all();
  }
}

}  // namespace wexlo
