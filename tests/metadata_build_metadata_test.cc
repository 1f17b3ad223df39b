#include <gtest/gtest.h>

#include <string>

#include "console/message.h"
#include "metadata/build_metadata.h"
#include "support/fake_console.h"

namespace wexlo {
namespace {

constexpr std::string_view kPacked =
    R"({"options":"-O ReleaseSmall","erts_version":"17.1","app_name":"demo_app",)"
    R"("app_version":"0.1.3","zig_build_arguments":["-Dtarget=x86_64","-Drelease"],)"
    R"("zig_version":"0.14.0"})";

BuildMetadata packedRecord() {
  return BuildMetadata{"demo_app", "0.14.0",          {"-Dtarget=x86_64", "-Drelease"},
                       "0.1.3",    "-O ReleaseSmall", "17.1"};
}

TEST(DecodeBuildMetadata, ReadsEveryMember) {
  auto record = decodeBuildMetadata(kPacked);
  ASSERT_TRUE(record) << failureName(record.error());
  EXPECT_EQ(*record, packedRecord());
}

TEST(DecodeBuildMetadata, MemberOrderAndWhitespaceDoNotMatter) {
  constexpr std::string_view text =
      " \r\n\t{ \"zig_version\" : \"0.14.0\" ,\n \"app_version\":\"0.1.3\",\r\n"
      "\t\"zig_build_arguments\" : [ \"-Dtarget=x86_64\" , \"-Drelease\" ] ,"
      "\"app_name\":\"demo_app\",\"erts_version\":\"17.1\",\"options\":\"-O ReleaseSmall\"}\n\t ";
  auto record = decodeBuildMetadata(text);
  ASSERT_TRUE(record) << failureName(record.error());
  EXPECT_EQ(*record, packedRecord());
}

TEST(DecodeBuildMetadata, DecodesEscapes) {
  auto record = decodeBuildMetadata(
      R"({"app_name":"\u0041\n\"\\\/","options":"\u00e9\u20AC\ud83d\ude00","zig_version":"a\u0000b"})");
  ASSERT_TRUE(record) << failureName(record.error());
  EXPECT_EQ(record->appName, "A\n\"\\/");
  EXPECT_EQ(record->options, "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(record->zigVersion, std::string("a\0b", 3));
}

TEST(DecodeBuildMetadata, MissingMembersStayEmpty) {
  auto record = decodeBuildMetadata(R"({"app_name":"demo_app","zig_build_arguments":[]})");
  ASSERT_TRUE(record) << failureName(record.error());
  EXPECT_EQ(record->appName, "demo_app");
  EXPECT_TRUE(record->appVersion.empty());
  EXPECT_TRUE(record->zigBuildArguments.empty());
  EXPECT_TRUE(decodeBuildMetadata("{}"));
}

TEST(DecodeBuildMetadata, ReadsOnlyTheGivenLength) {
  std::string text(kPacked);
  text += "garbage";
  EXPECT_TRUE(decodeBuildMetadata(std::string_view(text).substr(0, kPacked.size())));
  EXPECT_EQ(decodeBuildMetadata(std::string_view(text).substr(0, kPacked.size() - 1)).error(),
            Failure::UnexpectedEndOfInput);
}

struct Refusal {
  std::string text;
  Failure failure;
  friend void PrintTo(const Refusal& refusal, std::ostream* out) {
    *out << ::testing::PrintToString(refusal.text) << " -> " << failureName(refusal.failure);
  }
};

class DecodeBuildMetadataRefuses : public ::testing::TestWithParam<Refusal> {};

TEST_P(DecodeBuildMetadataRefuses, WithTheRightName) {
  auto record = decodeBuildMetadata(GetParam().text);
  ASSERT_FALSE(record);
  EXPECT_EQ(failureName(record.error()), failureName(GetParam().failure));
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    Texts, DecodeBuildMetadataRefuses,
    ::testing::Values(
        // Not well-formed.
        Refusal{R"({"app_name":"a"}{})", Failure::SyntaxError},
        Refusal{R"({"app_name":"a"} x)", Failure::SyntaxError},
        Refusal{R"({"app_name" "a"})", Failure::SyntaxError},
        Refusal{R"({"app_name":"a" "options":"b"})", Failure::SyntaxError},
        Refusal{R"({"app_name":"a",})", Failure::SyntaxError},
        Refusal{R"({"app_name":"\x"})", Failure::SyntaxError},
        Refusal{R"({"app_name":"\ud800x"})", Failure::SyntaxError},
        Refusal{R"({"app_name":"\udc00"})", Failure::SyntaxError},
        Refusal{"{\"app_name\":\"a\tb\"}", Failure::SyntaxError},
        Refusal{"{\"app_name\":\"\xC3\x28\"}", Failure::SyntaxError},
        Refusal{"{\"app_name\":\"\xED\xA0\x80\"}", Failure::SyntaxError},
        Refusal{"{\"app_name\":\"\xC0\xAF\"}", Failure::SyntaxError},
        Refusal{"\xEF\xBB\xBF{}", Failure::SyntaxError},
        Refusal{"{\"app_name\":\"a\"}\0"s, Failure::SyntaxError},
        Refusal{"{\"app_name\":\"a\0b\"}"s, Failure::SyntaxError},
        Refusal{"{\0}"s, Failure::SyntaxError},
        // The text ends too soon.
        Refusal{"", Failure::UnexpectedEndOfInput},
        Refusal{" \n\t ", Failure::UnexpectedEndOfInput},
        Refusal{"{", Failure::UnexpectedEndOfInput},
        Refusal{R"({"app_name")", Failure::UnexpectedEndOfInput},
        Refusal{R"({"app_name":)", Failure::UnexpectedEndOfInput},
        Refusal{R"({"app_name":"dem)", Failure::UnexpectedEndOfInput},
        Refusal{R"({"app_name":"\ud83d)", Failure::UnexpectedEndOfInput},
        Refusal{"{\"app_name\":\"\xC3", Failure::UnexpectedEndOfInput},
        Refusal{R"({"zig_build_arguments":["a",)", Failure::UnexpectedEndOfInput},
        // A value of the wrong kind, or not an object at all.
        Refusal{"[]", Failure::UnexpectedToken}, Refusal{R"("demo_app")", Failure::UnexpectedToken},
        Refusal{"42", Failure::UnexpectedToken},
        Refusal{R"({"app_version":0.1})", Failure::UnexpectedToken},
        Refusal{R"({"app_version":1e999})", Failure::UnexpectedToken},
        Refusal{R"({"app_name":null})", Failure::UnexpectedToken},
        Refusal{R"({"app_name":true})", Failure::UnexpectedToken},
        Refusal{R"({"app_name":["a"]})", Failure::UnexpectedToken},
        Refusal{R"({"app_name":{}})", Failure::UnexpectedToken},
        Refusal{R"({"zig_build_arguments":"-Drelease"})", Failure::UnexpectedToken},
        Refusal{R"({"zig_build_arguments":["a",1]})", Failure::UnexpectedToken},
        Refusal{R"({"zig_build_arguments":[["a"]]})", Failure::UnexpectedToken},
        // Unknown and repeated members, caught where they appear.
        Refusal{R"({"app_name":"a","extra":"b"})", Failure::UnknownField},
        Refusal{R"({"App_name":"a"})", Failure::UnknownField},
        Refusal{R"({"app_name\u0000":"a"})", Failure::UnknownField},
        Refusal{R"({"extra")", Failure::UnknownField},
        Refusal{R"({"app_name":"a","app_name":"a"})", Failure::DuplicateField},
        Refusal{R"({"zig_build_arguments":[],"zig_build_arguments":[]})",
                Failure::DuplicateField}));

TEST(EncodeBuildMetadata, WritesThePackedLayout) {
  EXPECT_EQ(encodeBuildMetadata(packedRecord()), kPacked);
}

TEST(EncodeBuildMetadata, RoundTripsAwkwardText) {
  BuildMetadata record{"d\"emo\\",     std::string("nul\0ctl\x01\x1f", 9),  {},
                       "1.0.0-rc.1+b", "\xF0\x9F\x98\x80 line\nbreak\ttab", ""};
  std::string text = encodeBuildMetadata(record);
  EXPECT_EQ(text.find('\n'), std::string::npos);
  auto decoded = decodeBuildMetadata(text);
  ASSERT_TRUE(decoded) << failureName(decoded.error());
  EXPECT_EQ(*decoded, record);
}

TEST(ParseBuildMetadata, ReportsTheFailureOnOneErrorLine) {
  testing::FakeConsole console;
  Environment environment;
  ErrorLog log(console, environment);
  EXPECT_FALSE(parseBuildMetadata(R"({"app_name":"a","extra":"b"})", log));
  EXPECT_EQ(console.err, "error: Error when parsing metadata: UnknownField\n");
  EXPECT_EQ(console.out, "");
}

TEST(ParseBuildMetadata, PrintsNothingOnSuccess) {
  testing::FakeConsole console;
  Environment environment;
  ErrorLog log(console, environment);
  auto record = parseBuildMetadata(kPacked, log);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->ertsVersion, "17.1");
  EXPECT_EQ(console.err, "");
}

}  // namespace
}  // namespace wexlo
