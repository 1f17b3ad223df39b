#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/environment_block.h"

namespace wexlo {
namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

Entries parse(std::u16string_view block) {
  Entries entries;
  for (auto& entry : parseEnvironmentBlock(block)) entries.emplace_back(entry.name, entry.value);
  return entries;
}

TEST(EnvironmentBlock, ReadsEntriesInBlockOrderUpToTheEmptyEntry) {
  std::u16string block(u"Path=C:\\bin\0HOME=\0=C:=C:\\work\0A=b=c\0\0IGNORED=1\0\0", 43);
  EXPECT_EQ(parse(block),
            (Entries{{"Path", "C:\\bin"}, {"HOME", ""}, {"=C:", "C:\\work"}, {"A", "b=c"}}));
}

TEST(EnvironmentBlock, OddEntriesAndEnds) {
  struct Case {
    std::u16string block;
    Entries expected;
  };
  const std::vector<Case> cases = {
      {std::u16string(u"\0\0", 2), {}},
      {u"", {}},
      // No terminator at all: the text up to the end is the last entry.
      {u"K=v", {{"K", "v"}}},
      // No "=" after the first unit: a name without a value.
      {std::u16string(u"=\0LONELY\0\0", 10), {{"=", ""}, {"LONELY", ""}}},
  };
  for (const auto& c : cases) EXPECT_EQ(parse(c.block), c.expected);
}

TEST(EnvironmentBlock, ConvertsUtf16IncludingUnpairedSurrogatesToWtf8) {
  std::u16string block = u"N\u00e4me=\u20ac";
  block += u'\xD800';  // unpaired lead surrogate survives as its own sequence
  block += std::u16string(u"\0\0", 2);
  EXPECT_EQ(parse(block), (Entries{{"N\xc3\xa4me", "\xe2\x82\xac\xed\xa0\x80"}}));
}

}  // namespace
}  // namespace wexlo
