#include <gtest/gtest.h>

#include "platform/command_line.h"

namespace wexlo {
namespace {

using Entries = std::vector<std::string>;

struct Case {
  std::u16string line;
  Entries expected;
};

void expectSplits(const Case& c) {
  EXPECT_EQ(splitCommandLine(c.line), c.expected)
      << "line: " << ::testing::PrintToString(std::string(c.line.begin(), c.line.end()));
}

TEST(SplitCommandLine, EmptyOrNulFirstGivesNoEntries) {
  expectSplits({u"", {}});
  expectSplits({std::u16string(u"\0 a b", 5), {}});
}

TEST(SplitCommandLine, ProgramEntry) {
  const Case cases[] = {
      {u"tool", {"tool"}},
      {uR"("C:\Program Files\tool.exe" run)", {R"(C:\Program Files\tool.exe)", "run"}},
      // Backslashes stay, even before a quote, and quotes only toggle.
      {uR"(C:\dir\"a b"\x y)", {R"(C:\dir\a b\x)", "y"}},
      {uR"("a b"c d)", {"a bc", "d"}},
      {uR"("unterminated)", {"unterminated"}},
      {u"\ttool", {"", "tool"}},
      {u" a", {"", "a"}},
      {u"  a", {"", "a"}},
  };
  for (const auto& c : cases) expectSplits(c);
}

TEST(SplitCommandLine, LaterEntries) {
  const Case cases[] = {
      {u"p a \t b\t", {"p", "a", "b"}},
      {uR"(p "a b" "c	d")", {"p", "a b", "c\td"}},
      {uR"(p a"b c"d)", {"p", "ab cd"}},
      {uR"(p a\"b)", {"p", "a\"b"}},
      {uR"(p "a\"b c")", {"p", "a\"b c"}},  // escaped quote keeps the quoted state
      {uR"(p a\\"b c")", {"p", R"(a\b c)"}},
      {uR"(p a\\\"b)", {"p", R"(a\"b)"}},
      {uR"(p a\\\\"b c")", {"p", R"(a\\b c)"}},
      {uR"(p "a""b" c)", {"p", "a\"b", "c"}},
      {uR"(p a""b)", {"p", "ab"}},  // outside quotes a doubled quote is two toggles
      {uR"(p """")", {"p", "\""}},
      {uR"(p "" x)", {"p", "", "x"}},
      {uR"(p "")", {"p", ""}},
      {uR"(p a\\\b c\)", {"p", R"(a\\\b)", R"(c\)"}},
      {uR"(p "a b\\" c)", {"p", R"(a b\)", "c"}},
      {uR"(p "unterminated \\)", {"p", R"(unterminated \\)"}},
  };
  for (const auto& c : cases) expectSplits(c);
}

TEST(SplitCommandLine, NulEndsTheLine) {
  expectSplits({std::u16string(u"p a\0b c", 7), {"p", "a"}});
  expectSplits({std::u16string(u"p\0 a", 4), {"p"}});
  expectSplits({std::u16string(u"p \0 a", 5), {"p"}});
  expectSplits({std::u16string(u"p a\\\0b", 6), {"p", "a\\"}});
}

TEST(SplitCommandLine, EntriesAreWtf8) {
  std::u16string line = u"p \u00e9 ";
  line += char16_t(0xD800);  // unpaired surrogate survives as its own bytes
  EXPECT_EQ(splitCommandLine(line), (Entries{"p", "\xC3\xA9", "\xED\xA0\x80"}));
}

}  // namespace
}  // namespace wexlo
