#include <gtest/gtest.h>

#include "platform/command_line.h"
#include "platform/windows_command_line.h"
#include "platform/wtf8.h"

namespace wexlo {
namespace {

using namespace std::string_view_literals;

using Strings = std::vector<std::string>;

Strings roundTrip(const Strings& argv) {
  auto line = quoteCommandLine(argv);
  EXPECT_TRUE(line.has_value());
  if (!line) return {};
  auto wide = wtf8ToWtf16(*line);
  EXPECT_TRUE(wide.has_value());
  return wide ? splitCommandLine(*wide) : Strings{};
}

TEST(QuoteCommandLine, EveryArgumentSplitsBackUnchanged) {
  const Strings arguments[] = {
      {"plain"},
      {"two words"},
      {"tab\there"},
      {""},
      {"", "", "x", ""},
      {"say \"hi\""},
      {"\""},
      {"\"\""},
      {"a\\\"b"},
      {"a\\\\\"b c"},
      {"trailing\\"},
      {"trailing with space\\\\"},
      {"C:\\dir\\"},
      {"\\\\server\\share\\x y"},
      {"mid\\\\dle"},
      {"\\"},
      {"\"quoted\\\""},
      {"\x01\x1f control"},
      {"\xC3\xA9t\xC3\xA9 \xED\xA0\x80"},
      {"maintenance", "--flag=a b", "-x"},
  };
  for (const auto& user : arguments) {
    Strings argv = {"C:\\erts\\bin\\erl.exe"};
    argv.insert(argv.end(), user.begin(), user.end());
    EXPECT_EQ(roundTrip(argv), argv) << *quoteCommandLine(argv);
  }
}

TEST(QuoteCommandLine, ArgumentZeroIsQuotedWithoutEscapes) {
  const struct {
    std::string program;
    std::string expected;
  } cases[] = {
      {"C:\\inst\\erl.exe", "C:\\inst\\erl.exe x"},
      {"C:\\Users\\A B\\erl.exe", "\"C:\\Users\\A B\\erl.exe\" x"},
      {"C:\\A B\\", "\"C:\\A B\\\" x"},  // a trailing backslash is not doubled
      {"", "\"\" x"},
  };
  for (const auto& c : cases) {
    Strings argv = {c.program, "x"};
    EXPECT_EQ(quoteCommandLine(argv), c.expected);
    EXPECT_EQ(roundTrip(argv), argv);
  }
}

TEST(QuoteCommandLine, RefusesWhatCannotBeWritten) {
  EXPECT_EQ(quoteCommandLine({"C:\\a\"b\\erl.exe"}), fail(Failure::InvalidArg0));
  EXPECT_EQ(quoteCommandLine({"erl", std::string("co\0kie", 6), "-boot"}),
            fail(Failure::InvalidCharacter));
  EXPECT_EQ(quoteCommandLine({}), std::string());
}

std::u16string block(std::u16string_view text) { return std::u16string(text); }

TEST(EnvironmentBlock, EntriesInOrderThenOneMoreNul) {
  auto environment = Environment::fromEntries({{"B", "1"}, {"A", "\xC3\xA9"}}, exactNameEquals);
  EXPECT_EQ(environmentBlock(environment), block(u"B=1\0A=\u00e9\0\0"sv));
  EXPECT_EQ(environmentBlock(Environment()), block(u"\0\0"sv));
}

TEST(EnvironmentBlock, CaseInsensitiveNamesKeepStoredNameAndPlace) {
  auto environment = Environment::fromEntries(
      {{"=C:", "C:\\work"}, {"Path", "a"}, {"release_root", "old"}, {"PATH", "b"}},
      asciiCaseInsensitiveEquals);
  environment.set("RELEASE_ROOT", "D:\\inst");
  environment.set("__WEXLO", "1");
  EXPECT_EQ(environmentBlock(environment),
            block(u"=C:=C:\\work\0PATH=b\0release_root=D:\\inst\0__WEXLO=1\0\0"sv));
}

TEST(EnvironmentBlock, RefusesEntriesThatWouldChangeInTransit) {
  Environment invalid;
  invalid.set("NAME", "\xFF");
  EXPECT_EQ(environmentBlock(invalid), fail(Failure::InvalidWtf8));
  Environment withNul;
  withNul.set("NAME", std::string("a\0b", 3));
  EXPECT_EQ(environmentBlock(withNul), fail(Failure::InvalidCharacter));
}

}  // namespace
}  // namespace wexlo
