// Finished files closed on a thread of their own, after their writeback is
// started: both calls can take a while for each file (the file system
// allocates a file's blocks once its writeback starts), time the thread
// that unpacks has better use for.
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/failure.h"

namespace wexlo {

class FileCloser {
 public:
  FileCloser() = default;
  // Waits for every file handed over.
  ~FileCloser();
  FileCloser(const FileCloser&) = delete;
  FileCloser& operator=(const FileCloser&) = delete;

  // Takes the open file `fd` and closes it soon. Waits while many are
  // queued, so open descriptors stay few; closes it at once where no thread
  // can be started.
  Status hand(int fd);
  // Waits until every file handed over is closed; the first failure to
  // close one since the last call.
  Status drain();

 private:
  void run();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<int> queue_;
  bool closing_ = false;  // the thread holds a file taken off the queue
  bool stopping_ = false;
  std::optional<Failure> failure_;
  std::thread thread_;
};

// Starts writing `fd`'s dirty pages back without waiting, and closes it.
Status startWritebackAndClose(int fd);

}  // namespace wexlo
