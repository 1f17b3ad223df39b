#include <gtest/gtest.h>

#include "console/message.h"
#include "support/fake_console.h"

namespace wexlo {
namespace {

using testing::FakeConsole;

TEST(WriteMessage, LongMessagesComeOutWholeInOrderIn64ByteWrites) {
  FakeConsole console;
  std::string path(150, 'p');
  ASSERT_TRUE(writeMessage(console, StreamId::Output, {"[i] Deleting directory: ", path, "\n"}));
  EXPECT_EQ(console.out, "[i] Deleting directory: " + path + "\n");
  ASSERT_EQ(console.writes.size(), 3u);
  EXPECT_EQ(console.writes[0].size(), 64u);
  EXPECT_EQ(console.writes[1].size(), 64u);
}

TEST(WriteMessage, StreamsInterleaveInTheOrderWritten) {
  FakeConsole console;
  (void)writeMessage(console, StreamId::Error, {"[w] a\n"});
  (void)writeMessage(console, StreamId::Output, {"[i] b\n"});
  EXPECT_EQ(console.interleaved, "E:[w] a\nO:[i] b\n");
}

TEST(WriteMessage, AFailedWriteIsReported) {
  FakeConsole console;
  console.outputFails = true;
  EXPECT_EQ(writeMessage(console, StreamId::Output, {"x"}).error(), Failure::WriteFailed);
}

struct ColourCase {
  const char* name;
  std::vector<EnvironmentVariable> environment;
  bool escapeCodes;
  bool styleAttributes;
  std::string expected;
};

TEST(ErrorLog, ColourModes) {
  const std::string plain = "error: FileNotFound\n";
  const std::string escaped = "\x1b[31m\x1b[1merror\x1b[0m\x1b[2m\x1b[1m: \x1b[0mFileNotFound\n";
  const std::string attributed = "<red><bold>error<reset><dim><bold>: <reset>FileNotFound\n";
  std::vector<ColourCase> cases = {
      {"redirected", {}, false, false, plain},
      {"terminal", {}, true, false, escaped},
      {"forced when redirected", {{"CLICOLOR_FORCE", ""}}, false, false, escaped},
      {"no colour wins", {{"CLICOLOR_FORCE", "1"}, {"NO_COLOR", ""}}, true, false, plain},
      {"lower-case name", {{"no_color", "1"}}, true, false, plain},
      {"old console", {}, false, true, attributed},
      {"escape codes before attributes", {}, true, true, escaped},
  };
  for (const auto& c : cases) {
    FakeConsole console;
    console.escapeCodes = c.escapeCodes;
    console.styleAttributes = c.styleAttributes;
    Environment environment = Environment::fromEntries(c.environment, exactNameEquals);
    ErrorLog log(console, environment);
    log.logFailure(Failure::FileNotFound);
    EXPECT_EQ(console.err, c.expected) << c.name;
    EXPECT_EQ(console.out, "") << c.name;
  }
}

TEST(ErrorLog, ModeIsChosenOnceForTheProcess) {
  FakeConsole console;
  console.escapeCodes = false;
  Environment environment;
  ErrorLog log(console, environment);
  log.logError({"first"});
  console.escapeCodes = true;
  log.logError({"second"});
  EXPECT_EQ(console.err, "error: first\nerror: second\n");
}

TEST(ErrorLog, AnUnwritableStandardErrorIsIgnored) {
  FakeConsole console;
  console.errorFails = true;
  Environment environment;
  ErrorLog log(console, environment);
  log.logError({"lost"});
  EXPECT_EQ(console.err, "");
}

}  // namespace
}  // namespace wexlo
