#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "metadata/semantic_version.h"

namespace wexlo {
namespace {

using Identifiers = std::vector<std::string>;

TEST(ParseSemanticVersion, ReadsEveryPart) {
  auto version = parseSemanticVersion("1.22.333-rc.1.alpha-2+exp.sha.5114f85.007");
  ASSERT_TRUE(version);
  EXPECT_EQ(version->major, 1u);
  EXPECT_EQ(version->minor, 22u);
  EXPECT_EQ(version->patch, 333u);
  EXPECT_EQ(version->preRelease, (Identifiers{"rc", "1", "alpha-2"}));
  EXPECT_EQ(version->build, (Identifiers{"exp", "sha", "5114f85", "007"}));
}

TEST(ParseSemanticVersion, BuildWithoutPreRelease) {
  auto version = parseSemanticVersion("1.0.0+build-1.x-y");
  ASSERT_TRUE(version);
  EXPECT_TRUE(version->preRelease.empty());
  EXPECT_EQ(version->build, (Identifiers{"build-1", "x-y"}));
}

TEST(ParseSemanticVersion, AcceptsValidTexts) {
  for (const char* text :
       {"1.2.3", "0.0.0", "1.2.3-rc.1", "1.2.3-alpha-2", "1.2.3+build.007",
        "1.2.3-rc.1+exp.sha.5114f85", "1.2.3--", "1.2.3-0", "1.2.3-0a", "18446744073709551615.0.0",
        "1.2.3-18446744073709551615", "1.2.3+99999999999999999999"}) {
    EXPECT_TRUE(parseSemanticVersion(text)) << text;
  }
}

TEST(ParseSemanticVersion, RefusesInvalidTexts) {
  for (const char* text :
       {"",           "1.2",    "1.0",        "1.2.3.4", "01.2.3",     "1.02.3",
        "1.2.03",     "1.2.3-", "1.2.3-01",   "1.2.3+",  "1.2.3-a..b", "1.2.3-a.",
        "1.2.3+a..b", "1..3",   ".1.2",       "1.2.3.",  "v1.2.3",     " 1.2.3",
        "1.2.3 ",     "1.2.-3", "+1.2.3",     "-1.2.3",  "1.2.3-a_b",  "1.2.3+b\xC3\xA9",
        "1.2.3-+b",   "1.2.x",  "1.2.3-a+b+c"}) {
    auto version = parseSemanticVersion(text);
    ASSERT_FALSE(version) << text;
    EXPECT_EQ(version.error(), Failure::InvalidVersion) << text;
  }
}

TEST(ParseSemanticVersion, NumbersPast64BitsOverflow) {
  for (const char* text :
       {"18446744073709551616.0.0", "0.0.99999999999999999999", "1.2.3-18446744073709551616"}) {
    auto version = parseSemanticVersion(text);
    ASSERT_FALSE(version) << text;
    EXPECT_EQ(version.error(), Failure::Overflow) << text;
  }
}

std::strong_ordering compare(const char* a, const char* b) {
  auto left = parseSemanticVersion(a);
  auto right = parseSemanticVersion(b);
  EXPECT_TRUE(left && right) << a << " / " << b;
  return comparePrecedence(*left, *right);
}

TEST(ComparePrecedence, OrdersTheChain) {
  const std::vector<const char*> chain = {"0.9.0",
                                          "0.10.0",
                                          "1.0.0-0",
                                          "1.0.0-2",
                                          "1.0.0-10",
                                          "1.0.0-alpha",
                                          "1.0.0-alpha.1",
                                          "1.0.0-alpha.beta",
                                          "1.0.0-beta",
                                          "1.0.0-beta.2",
                                          "1.0.0-beta.11",
                                          "1.0.0-rc.1",
                                          "1.0.0",
                                          "1.0.1",
                                          "1.1.0",
                                          "2.0.0",
                                          "18446744073709551615.0.0"};
  for (std::size_t i = 0; i < chain.size(); ++i) {
    for (std::size_t j = 0; j < chain.size(); ++j) {
      EXPECT_EQ(compare(chain[i], chain[j]), i <=> j) << chain[i] << " vs " << chain[j];
    }
  }
}

TEST(ComparePrecedence, IgnoresTheBuildPart) {
  EXPECT_EQ(compare("1.0.0+build.1", "1.0.0+build.2"), std::strong_ordering::equal);
  EXPECT_EQ(compare("1.0.0-rc.1+a", "1.0.0-rc.1"), std::strong_ordering::equal);
  EXPECT_EQ(compare("1.0.0+zzz", "1.0.1+aaa"), std::strong_ordering::less);
}

TEST(ComparePrecedence, ComparesIdentifiersByTheirKind) {
  EXPECT_EQ(compare("1.0.0-9", "1.0.0-10"), std::strong_ordering::less);
  EXPECT_EQ(compare("1.0.0-999", "1.0.0-a"), std::strong_ordering::less);
  EXPECT_EQ(compare("1.0.0-B", "1.0.0-a"), std::strong_ordering::less);
  EXPECT_EQ(compare("1.0.0-a9", "1.0.0-a10"), std::strong_ordering::greater);
  EXPECT_EQ(compare("1.0.0-alpha", "1.0.0-alpha-1"), std::strong_ordering::less);
  EXPECT_EQ(compare("1.0.0-rc.1.x", "1.0.0-rc.1"), std::strong_ordering::greater);
}

}  // namespace
}  // namespace wexlo
