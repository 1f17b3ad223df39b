#include <gtest/gtest.h>

#include "metadata/start_mode.h"

namespace wexlo {
namespace {

TEST(StartModeIn, OnlyTheServiceWordOutsideUsersValuesMakesAService) {
  const std::vector<std::pair<std::string_view, StartMode>> cases = {
      {"", StartMode::CommandLine},
      {"-O ReleaseSmall", StartMode::CommandLine},
      {"--target linux-x86_64 --block-size 8388608 --payload-crc64 00ab", StartMode::CommandLine},
      {"--target linux-x86_64 --block-size 8388608 --service --payload-crc64 00ab",
       StartMode::Service},
      {"  --service  ", StartMode::Service},
      {"--services", StartMode::CommandLine},
      {"--Service", StartMode::CommandLine},
      {"x--service", StartMode::CommandLine},
      // A name or version the user chose may hold the word itself.
      {"--target linux-x86_64 --app-name my --service --payload-crc64 00ab",
       StartMode::CommandLine},
      {"--erts-version 1 --service", StartMode::CommandLine},
      {"--app-version 1.0.0 --service", StartMode::CommandLine},
  };
  for (const auto& [options, mode] : cases) {
    EXPECT_EQ(startModeIn(options), mode) << options;
  }
}

TEST(StartModeName, NamesBothModes) {
  EXPECT_EQ(startModeName(StartMode::Service), "service");
  EXPECT_EQ(startModeName(StartMode::CommandLine), "command line");
}

}  // namespace
}  // namespace wexlo
