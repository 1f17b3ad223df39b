#include "pack/progress_line.h"

namespace wexlo {

void ProgressLine::update(std::string_view step, std::uint64_t done, std::uint64_t total) {
  const int percent = total == 0 ? 100 : static_cast<int>(done >= total ? 100 : done * 100 / total);
  if (step == step_ && percent == percent_) return;
  if (step != step_ && !step_.empty()) std::fputc('\n', stream_);
  step_ = step;
  percent_ = percent;
  std::fprintf(stream_, "\r%-12s %3d%%", step_.c_str(), percent);
  std::fflush(stream_);
}

void ProgressLine::finish() {
  if (step_.empty()) return;
  std::fputc('\n', stream_);
  std::fflush(stream_);
  step_.clear();
  percent_ = -1;
}

}  // namespace wexlo
