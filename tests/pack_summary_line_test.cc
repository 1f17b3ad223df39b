#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "pack/summary_line.h"

namespace wexlo {
namespace {

TEST(SummaryLine, NamesTheLauncherItsSizeAndFileCount) {
  const std::vector<std::pair<std::uint64_t, std::string>> sizes = {
      {0, "0 B"},          {999, "999 B"},         {1000, "1.0 kB"},
      {12345, "12.3 kB"},  {999949, "999.9 kB"},   {999950, "1.0 MB"},
      {4856423, "4.9 MB"}, {1500000000, "1.5 GB"}, {~std::uint64_t{0}, "18446.7 PB"},
  };
  for (const auto& [bytes, text] : sizes) EXPECT_EQ(formatByteSize(bytes), text) << bytes;

  PackSummary summary{"demo_app", 607, 4856423, {}};
  EXPECT_EQ(summaryLine(summary, "demo_app"), "packed demo_app (4.9 MB, 607 files) -> ./demo_app");
  EXPECT_EQ(summaryLine(summary, "out/demo_app"),
            "packed demo_app (4.9 MB, 607 files) -> out/demo_app");
  EXPECT_EQ(summaryLine(summary, "/tmp/demo_app"),
            "packed demo_app (4.9 MB, 607 files) -> /tmp/demo_app");
  summary.notes = {"start mode: service", "added releases/COOKIE"};
  EXPECT_EQ(summaryLine(summary, "d"),
            "packed demo_app (4.9 MB, 607 files) -> ./d\n  start mode: service\n"
            "  added releases/COOKIE");
}

}  // namespace
}  // namespace wexlo
