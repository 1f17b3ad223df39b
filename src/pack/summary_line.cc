#include "pack/summary_line.h"

#include <array>
#include <cstdio>

namespace wexlo {

std::string formatByteSize(std::uint64_t bytes) {
  if (bytes < 1000) return std::to_string(bytes) + " B";
  constexpr std::array<const char*, 5> kUnits = {"kB", "MB", "GB", "TB", "PB"};
  // Tenths of the unit, rounded; a value that rounds up to 1000 moves on
  // to the next unit, so 999,960 bytes reads "1.0 MB" rather than "1000.0 kB".
  double value = static_cast<double>(bytes) / 1000;
  std::size_t unit = 0;
  while (value >= 999.95 && unit + 1 < kUnits.size()) {
    value /= 1000;
    ++unit;
  }
  std::array<char, 32> text{};
  std::snprintf(text.data(), text.size(), "%.1f %s", value, kUnits[unit]);
  return text.data();
}

std::string summaryLine(const PackSummary& summary, const std::filesystem::path& output) {
  std::string shown = output.string();
  if (!output.has_parent_path()) shown = "./" + shown;
  std::string line = "packed " + summary.appName + " (" + formatByteSize(summary.launcherBytes) +
                     ", " + std::to_string(summary.fileCount) + " files) -> " + shown;
  for (const auto& note : summary.notes) line += "\n  " + note;
  return line;
}

}  // namespace wexlo
