#include <gtest/gtest.h>

#include "pack/windows_resources.h"

namespace wexlo {
namespace {

TEST(WindowsResourcesTest, TheFileVersionIsTheVersionsLeadingNumbers) {
  using Version = std::array<std::uint16_t, 4>;
  const struct {
    std::string version;
    std::optional<Version> expected;  // none: refused
  } cases[] = {
      {"1.4.2", Version{1, 4, 2, 0}},
      {"2.0.0-rc.1", Version{2, 0, 0, 0}},
      {"1.2.3+build.7", Version{1, 2, 3, 0}},
      {"65535.0.0.65535", Version{65535, 0, 0, 65535}},
      {"7", Version{7, 0, 0, 0}},
      {"release-1", Version{0, 0, 0, 0}},
      {"1.65536.0", std::nullopt},
      {"99999999999999999999", std::nullopt},
      {"1.2.3.4.5", std::nullopt},
  };
  for (const auto& c : cases) {
    auto version = fileVersionOf(c.version);
    EXPECT_EQ(version ? std::optional(*version) : std::nullopt, c.expected) << c.version;
  }
}

TEST(WindowsResourcesTest, AVersionStringSplitsAtItsFirstEqualsSign) {
  EXPECT_EQ(parseVersionInfo("Comments=a=b"),
            (std::pair<std::string, std::string>{"Comments", "a=b"}));
  EXPECT_EQ(parseVersionInfo("Comments="), (std::pair<std::string, std::string>{"Comments", ""}));
  EXPECT_FALSE(parseVersionInfo("=value"));
}

}  // namespace
}  // namespace wexlo
