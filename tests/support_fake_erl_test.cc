// The fake runtime and its record reader must be exact, or every launch test
// built on them would check the wrong thing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/fake_erl_record.h"

namespace wexlo::testing {
namespace {

namespace fs = std::filesystem;

const std::string kFakeErl = WEXLO_TEST_HELPERS_DIR "/fake_erl";

struct Outcome {
  int waitStatus = 0;
  std::string out;
  std::string err;
};

std::string drain(int fd) {
  std::string bytes;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) bytes.append(buffer, static_cast<size_t>(n));
  close(fd);
  return bytes;
}

// Starts fake_erl with exactly this vector and environment (no search path,
// nothing added), feeds `input` and collects both output streams.
Outcome runFakeErl(const std::vector<std::string>& args, const std::vector<std::string>& env,
                   const fs::path& directory, const std::string& input = "") {
  auto pointers = [](const std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (const std::string& s : strings) result.push_back(const_cast<char*>(s.c_str()));
    result.push_back(nullptr);
    return result;
  };
  std::vector<char*> argv = pointers(args);
  std::vector<char*> envp = pointers(env);
  int in[2], out[2], err[2];
  if (pipe(in) != 0 || pipe(out) != 0 || pipe(err) != 0) ADD_FAILURE() << "pipe";
  pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
    if (chdir(directory.c_str()) != 0) _exit(126);
    execve(kFakeErl.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  // Small inputs only: they fit in the pipe, so nothing can block here.
  if (!input.empty() && write(in[1], input.data(), input.size()) < 0) ADD_FAILURE() << "write";
  close(in[1]);
  Outcome run;
  run.out = drain(out[0]);
  run.err = drain(err[0]);
  waitpid(pid, &run.waitStatus, 0);
  return run;
}

class FakeErlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ = fs::temp_directory_path() /
                 ("wexlo-fake-erl-" + std::to_string(getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(directory_);
    recordPath_ = (directory_ / "record").string();
  }
  void TearDown() override { fs::remove_all(directory_); }

  fs::path directory_;
  std::string recordPath_;
};

TEST_F(FakeErlTest, RecordsArgumentsEnvironmentAndDirectoryByteForByte) {
  std::vector<std::string> args = {
      "/any/argument zero", "",   " ", "a b", "tab\there", "line\nfeed", "\xff\xfe",
      "-mode embedded",     "x=y"};
  std::vector<std::string> env = {"WEXLO_FAKE_ERL_RECORD=" + recordPath_,
                                  "EMPTY=",
                                  "EQUALS=a=b==",
                                  "NEWLINE=one\ntwo",
                                  "BYTES=\x01\x80\xff",
                                  "DUP=first",
                                  "DUP=second"};
  Outcome run = runFakeErl(args, env, directory_);
  ASSERT_TRUE(WIFEXITED(run.waitStatus));
  EXPECT_EQ(WEXITSTATUS(run.waitStatus), 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");

  auto record = readFakeErlRecord(recordPath_);
  ASSERT_TRUE(record) << record.error();
  EXPECT_EQ(record->args, args);
  EXPECT_EQ(record->environment, env);
  EXPECT_EQ(record->workingDirectory, fs::canonical(directory_).string());
  EXPECT_EQ(record->executable, fs::canonical(kFakeErl).string());
  EXPECT_FALSE(record->commandLine);
  EXPECT_FALSE(record->standardInput);

  EXPECT_EQ(record->env("EMPTY"), "");
  EXPECT_EQ(record->env("EQUALS"), "a=b==");
  EXPECT_EQ(record->env("DUP"), "first");
  EXPECT_EQ(record->env("empty"), std::nullopt);
  EXPECT_EQ(record->envIgnoringCase("empty"), "");
  EXPECT_EQ(record->env("MISSING"), std::nullopt);
  EXPECT_EQ(record->envNames(),
            (std::vector<std::string>{"WEXLO_FAKE_ERL_RECORD", "EMPTY", "EQUALS", "NEWLINE",
                                      "BYTES", "DUP", "DUP"}));
}

TEST_F(FakeErlTest, ExitStatusOutputsAndInputFollowTheControls) {
  struct Case {
    std::string exit;
    int expected;
  };
  for (const Case& c :
       {Case{"", 0}, Case{"3", 3}, Case{"258", 2}, Case{"255", 255}, Case{"not a number", 0}}) {
    Outcome run = runFakeErl({"erl"},
                             {"WEXLO_FAKE_ERL_EXIT=" + c.exit, "WEXLO_FAKE_ERL_STDOUT=to out\n",
                              "WEXLO_FAKE_ERL_STDERR=to err"},
                             directory_);
    ASSERT_TRUE(WIFEXITED(run.waitStatus)) << c.exit;
    EXPECT_EQ(WEXITSTATUS(run.waitStatus), c.expected) << c.exit;
    EXPECT_EQ(run.out, "to out\n");
    EXPECT_EQ(run.err, "to err");
  }

  Outcome run =
      runFakeErl({"erl"}, {"WEXLO_FAKE_ERL_RECORD=" + recordPath_, "WEXLO_FAKE_ERL_READ_STDIN=1"},
                 directory_, std::string("typed\0in\n", 9));
  ASSERT_TRUE(WIFEXITED(run.waitStatus));
  auto record = readFakeErlRecord(recordPath_);
  ASSERT_TRUE(record) << record.error();
  EXPECT_EQ(record->standardInput, std::string("typed\0in\n", 9));
}

TEST_F(FakeErlTest, SignalAndUnwritableRecordAreVisible) {
  Outcome killed = runFakeErl({"erl"}, {"WEXLO_FAKE_ERL_SIGNAL=15"}, directory_);
  ASSERT_TRUE(WIFSIGNALED(killed.waitStatus));
  EXPECT_EQ(WTERMSIG(killed.waitStatus), 15);

  Outcome failed =
      runFakeErl({"erl"}, {"WEXLO_FAKE_ERL_RECORD=" + (directory_ / "missing" / "record").string()},
                 directory_);
  ASSERT_TRUE(WIFEXITED(failed.waitStatus));
  EXPECT_EQ(WEXITSTATUS(failed.waitStatus), 125);
  EXPECT_NE(failed.err.find("cannot write the record"), std::string::npos);
}

TEST(FakeErlRecordParse, WindowsKindsDecodeUtf16AndKeepLoneSurrogates) {
  // "a\"b" / "a\"b" split / "=C:=C:\x" / lone high surrogate D800 in the directory.
  std::string text =
      "cmdline16\t61002200620022002000\n"
      "arg16\t610062002000\n"
      "arg16\t\n"
      "env16\t3d0043003a003d0043003a005c007800\n"
      "env16\t52004500\n"
      "cwd16\t00d8\n";
  auto record = parseFakeErlRecord(text);
  ASSERT_TRUE(record) << record.error();
  EXPECT_EQ(record->commandLine, "a\"b\" ");
  EXPECT_EQ(record->commandLine16, u"a\"b\" ");
  EXPECT_EQ(record->args, (std::vector<std::string>{"ab ", ""}));
  EXPECT_EQ(record->env("=C:"), "C:\\x");
  EXPECT_EQ(record->env("RE"), "");
  EXPECT_EQ(record->workingDirectory, "\xed\xa0\x80");
}

TEST(FakeErlRecordParse, RejectsMalformedRecordsNamingTheLine) {
  struct Case {
    std::string text;
    std::string message;
  };
  const Case cases[] = {
      {"arg\t61\narg 62\n", "line 2: no tab"},
      {"arg\t6\n", "line 1: bad hex"},
      {"arg\t6g\n", "line 1: bad hex"},
      {"argv\t61\n", "line 1: unknown kind \"argv\""},
      {"arg\t61\narg\t62", "line 2: ends without a line feed"},
      {"arg\t61\ncwd\t2f\ncwd\t2f\n", "line 3: \"cwd\" occurs twice"},
      {"arg16\t610\n", "line 1: bad hex"},
      {"arg16\t61\n", "line 1: odd number of UTF-16 bytes"},
      {"", "holds no arguments"},
      {"env\t413d31\n", "holds no arguments"},
  };
  for (const Case& c : cases) {
    auto record = parseFakeErlRecord(c.text);
    ASSERT_FALSE(record) << c.text;
    EXPECT_NE(record.error().find(c.message), std::string::npos) << record.error();
  }
  EXPECT_FALSE(readFakeErlRecord("/nonexistent/fake_erl_record"));
}

}  // namespace
}  // namespace wexlo::testing
