#include <gtest/gtest.h>

#include <string>

#include "platform/wtf8.h"

namespace wexlo {
namespace {

struct Pair {
  std::u16string wide;
  std::string bytes;
};

TEST(Wtf8, ConvertsBothWays) {
  const Pair cases[] = {
      {u"", ""},
      {u"plain ascii", "plain ascii"},
      {u"\u00e9", "\xC3\xA9"},              // two bytes
      {u"\u20ac", "\xE2\x82\xAC"},          // three bytes
      {u"\U0001F600", "\xF0\x9F\x98\x80"},  // surrogate pair -> four bytes
      {u"\U0010FFFF", "\xF4\x8F\xBF\xBF"},  // highest code point
      {std::u16string(1, u'\0'), std::string(1, '\0')},
      {std::u16string{0xD800}, "\xED\xA0\x80"},                      // lone lead
      {std::u16string{0xDFFF}, "\xED\xBF\xBF"},                      // lone trail
      {std::u16string{0xDC00, 0xD800}, "\xED\xB0\x80\xED\xA0\x80"},  // trail before lead
      {std::u16string{u'a', 0xD83D, u'b'},
       "a\xED\xA0\xBD"
       "b"},
      {std::u16string{0xD83D, 0xD83D, 0xDE00}, "\xED\xA0\xBD\xF0\x9F\x98\x80"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(wtf16ToWtf8(c.wide), c.bytes);
    auto back = wtf8ToWtf16(c.bytes);
    ASSERT_TRUE(back.has_value()) << c.bytes;
    EXPECT_EQ(*back, c.wide);
  }
}

TEST(Wtf8, RejectsBytesThatAreNotWtf8) {
  const std::string bad[] = {
      "\x80",      // stray continuation byte
      "\xC3",      // truncated
      "\xE2\x82",  // truncated
      "\xC3"
      "a",                     // continuation missing
      "\xC0\x80",              // overlong NUL
      "\xE0\x80\xAF",          // overlong '/'
      "\xF0\x82\x82\xAC",      // overlong euro sign
      "\xF4\x90\x80\x80",      // above U+10FFFF
      "\xF8\x88\x80\x80\x80",  // five-byte form
      "\xFF",
      "\xED\xA0\xBD\xED\xB8\x80",  // a surrogate pair spelled as two halves
  };
  for (const auto& bytes : bad) {
    auto result = wtf8ToWtf16(bytes);
    ASSERT_FALSE(result.has_value()) << ::testing::PrintToString(bytes);
    EXPECT_EQ(result.error(), Failure::InvalidWtf8);
  }
}

TEST(Wtf8, PiecesCutAnywhereConvertWholeAndBadBytesBecomeReplacements) {
  std::string pending;
  EXPECT_EQ(wtf8PieceToWtf16(pending, "Jos\xC3"), u"Jos");
  EXPECT_EQ(wtf8PieceToWtf16(pending, "\xA9 \xF0\x9F"), u"\u00e9 ");
  EXPECT_EQ(pending, "\xF0\x9F");
  EXPECT_EQ(wtf8PieceToWtf16(pending, "\x98\x80\xED\xA0\x80"), u"\U0001F600\xD800");
  // Each byte of a bad sequence, an overlong one included, stands for itself.
  EXPECT_EQ(wtf8PieceToWtf16(pending,
                             "\x80\xE0\x80\xAF\xC3"
                             "a"),
            u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFDa");
  EXPECT_EQ(pending, "");
}

}  // namespace
}  // namespace wexlo
