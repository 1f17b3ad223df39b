#include "platform/workers.h"

#include <algorithm>
#include <exception>
#include <thread>
#include <vector>

namespace wexlo {

std::size_t workerCount(unsigned requested, std::size_t items) {
  const std::size_t wanted = requested != 0 ? requested : std::thread::hardware_concurrency();
  return std::clamp<std::size_t>(wanted, 1, std::max<std::size_t>(items, 1));
}

void runOnWorkers(std::size_t workers, const std::function<void()>& work) {
  std::vector<std::thread> helpers;
  try {
    helpers.reserve(workers - 1);
    for (std::size_t i = 1; i < workers; ++i) helpers.emplace_back(work);
  } catch (const std::exception&) {
  }
  work();
  for (std::thread& helper : helpers) helper.join();
}

}  // namespace wexlo
