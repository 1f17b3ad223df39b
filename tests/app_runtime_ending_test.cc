#include <gtest/gtest.h>

#include "app/runtime_ending.h"

namespace wexlo {
namespace {

TEST(RuntimeEndingMessage, NamesFailedStartsAndCrashesOnly) {
  const std::vector<std::pair<std::uint32_t, std::optional<std::string>>> cases = {
      {0xC0000135, "the runtime could not start: a DLL the runtime needs is missing (0xC0000135)"},
      {0xC000007B,
       "the runtime could not start: the runtime or a DLL it needs is not a program for this "
       "system (0xC000007B)"},
      {0xC0000005, "the runtime crashed: access violation (0xC0000005)"},
      {0x80000003, "the runtime crashed: breakpoint (0x80000003)"},
      {0xC000013A, std::nullopt},  // Ctrl-C
      {0, std::nullopt},
      {1, std::nullopt},
      {0x135, std::nullopt},
      {0xC0000001, std::nullopt},
  };
  for (const auto& [status, expected] : cases) {
    EXPECT_EQ(runtimeEndingMessage(status), expected) << std::hex << status;
  }
}

}  // namespace
}  // namespace wexlo
