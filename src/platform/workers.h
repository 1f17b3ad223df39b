// A few threads sharing a list of items: handed out in order, with the first
// failure in that order kept whatever the timing.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

namespace wexlo {

// How many workers to run for `items` items: `requested`, or one per core
// when 0; at least one, and no more than there are items.
std::size_t workerCount(unsigned requested, std::size_t items);

// Runs `work` on this thread and on up to `workers - 1` more, and returns
// once every one has returned. When the system refuses a thread, the ones
// already running do its share.
void runOnWorkers(std::size_t workers, const std::function<void()>& work);

// Items 0 to count - 1, handed out in order to any number of workers. When
// items fail, the answer is the first failing one in order: every item
// before it is handed out, and none after it once its failure is known.
template <typename Error>
class OrderedItems {
 public:
  explicit OrderedItems(std::size_t count) : count_(count) {}

  // The next item to do, or nothing when the work is over.
  std::optional<std::size_t> take() {
    const std::size_t index = next_.fetch_add(1);
    if (index >= count_ || index > failed_.load()) return std::nullopt;
    return index;
  }

  void fail(std::size_t index, Error error) {
    std::lock_guard lock(mutex_);
    if (index < failed_.load()) {
      failed_.store(index);
      error_ = std::move(error);
    }
  }

  // The failure of the first failing item; read once the workers are done.
  std::optional<Error> firstFailure() const {
    if (failed_.load() == kNone) return std::nullopt;
    return error_;
  }

 private:
  static constexpr std::size_t kNone = SIZE_MAX;

  std::size_t count_;
  std::atomic<std::size_t> next_{0};
  std::atomic<std::size_t> failed_{kNone};
  std::mutex mutex_;
  Error error_{};
};

}  // namespace wexlo
