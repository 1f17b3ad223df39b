// One self-overwriting progress line on a terminal, e.g. "compressing  42%".
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace wexlo {

class ProgressLine {
 public:
  explicit ProgressLine(std::FILE* stream) : stream_(stream) {}
  ~ProgressLine() { finish(); }

  // Redraws only when the step or the whole percentage changes.
  void update(std::string_view step, std::uint64_t done, std::uint64_t total);
  // Ends the line so later output starts on a fresh one.
  void finish();

 private:
  std::FILE* stream_;
  std::string step_;
  int percent_ = -1;
};

}  // namespace wexlo
