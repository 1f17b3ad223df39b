// A packed launcher's runtime and the pipe it writes into: a reader that
// leaves ends the runtime when it next writes, as SIGPIPE ends any other
// program, and never earlier; a reader that stays gets every byte.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/launcher_kit.h"
#include "support/sanitizer.h"
#include "support/synthetic_release.h"

namespace wexlo::testing {
namespace {

namespace fs = std::filesystem;

class LifecycleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    launcher_ = packFiles(dir_ / "app", metadataText("demo_app", "0.1.3", "17.1"),
                          syntheticRelease("demo_app", "0.1.3", "17.1", 1));
  }

  // Runs `pipeline` in bash, with $APP the launcher and `env` added to the
  // fake runtime's environment; returns what the pipeline prints.
  ProcessResult shell(const std::string& pipeline, const std::vector<std::string>& env = {}) {
    std::vector<std::string> environment = {"HOME=" + (dir_ / "home").string(),
                                            "PATH=/usr/bin:/bin", "APP=" + launcher_.string()};
    environment.insert(environment.end(), env.begin(), env.end());
    return runProcess({"/bin/bash", "-c", pipeline}, {environment, std::nullopt, dir_.path()});
  }

  TempDir dir_;
  fs::path launcher_;
};

TEST_F(LifecycleTest, AReaderThatLeavesEndsTheRuntimeOnlyWhenItWrites) {
  struct Case {
    std::string name;
    std::string pipeline;  // prints the launcher's status
    std::vector<std::string> env;
    std::string status;
  };
  const std::string stays = "WEXLO_FAKE_ERL_SLEEP_MS=600";
  const std::string writes = "WEXLO_FAKE_ERL_STDOUT=late line\n";
  const std::string lingers = "WEXLO_FAKE_ERL_LINGER_MS=10000";
  const std::vector<Case> cases = {
      // A runtime that never writes runs to its end, with its own status.
      {"reader gone before the start",
       "(sleep 0.2; exec $APP) | true; echo ${PIPESTATUS[0]}",
       {stays, "WEXLO_FAKE_ERL_EXIT=7"},
       "7"},
      {"reader gone mid-run",
       "$APP | sleep 0.1; echo ${PIPESTATUS[0]}",
       {stays, "WEXLO_FAKE_ERL_EXIT=7"},
       "7"},
      {"no output at all, reader stays",
       "$APP | cat; echo ${PIPESTATUS[0]}",
       {"WEXLO_FAKE_ERL_EXIT=5"},
       "5"},
      // One that writes after its reader left is asked to stop...
      {"stops on request",
       "$APP | true; echo ${PIPESTATUS[0]}",
       {stays, writes, lingers, "WEXLO_FAKE_ERL_ON_TERM=42"},
       "42"},
      {"ends by SIGTERM", "$APP | true; echo ${PIPESTATUS[0]}", {stays, writes, lingers}, "143"},
      // ... and killed when it does not listen.
      {"ignores SIGTERM",
       "$APP | true; echo ${PIPESTATUS[0]}",
       {stays, writes, lingers, "WEXLO_FAKE_ERL_ON_TERM=ignore"},
       "137"},
      // Standard error to another pipe is the runtime's own: this stand-in
      // does not ignore SIGPIPE.
      {"standard error to a gone reader",
       "$APP 2>&1 >/dev/null | true; echo ${PIPESTATUS[0]}",
       {stays, "WEXLO_FAKE_ERL_STDERR=x", "WEXLO_FAKE_ERL_EXIT=3"},
       "141"},
  };
  for (const auto& c : cases) {
    // `timeout` would end a runtime left hanging with 124.
    auto result = shell("APP=\"timeout 20 $APP\"; " + c.pipeline, c.env);
    EXPECT_EQ(result.out, c.status + "\n") << c.name << ": " << result.err;
  }
}

TEST_F(LifecycleTest, ASlowReaderGetsEveryByteInOrderWithStandardError) {
  // 1 MiB through the relay, then standard error, which must come after it.
  const std::string line(1023, 'o');
  auto result = shell("$APP 2>&1 | (sleep 1; cat) > out; echo ${PIPESTATUS[0]}",
                      {"WEXLO_FAKE_ERL_STDOUT=" + line + "\n", "WEXLO_FAKE_ERL_STDOUT_REPEAT=1024",
                       "WEXLO_FAKE_ERL_STDERR=the end\n", "WEXLO_FAKE_ERL_EXIT=9"});
  EXPECT_EQ(result.out, "9\n") << result.err;
  std::string expected;
  for (int i = 0; i < 1024; ++i) expected += line + "\n";
  expected += "the end\n";
  std::string got = readFile(dir_ / "out");
  EXPECT_EQ(got.size(), expected.size());
  EXPECT_TRUE(got == expected);
}

TEST_F(LifecycleTest, ASpliceFailureFallsBackAndOnlyAGoneReaderStopsTheRuntime) {
  if (shell("strace -o /dev/null true").status != 0) GTEST_SKIP() << "strace cannot trace here";
  if (kAddressSanitizer) GTEST_SKIP() << "AddressSanitizer's leak check cannot run under strace";
  // 3,000,000 bytes into a named pipe, so that faults can be aimed at the
  // relay's side of it alone.
  const std::string line(999, 'o');
  const std::vector<std::string> env = {"WEXLO_FAKE_ERL_STDOUT=" + line + "\n",
                                        "WEXLO_FAKE_ERL_STDOUT_REPEAT=3000",
                                        "WEXLO_FAKE_ERL_EXIT=9"};
  struct Case {
    std::string inject, status, err;
    bool everything;
  };
  const std::string failed =
      "error: the application's standard output failed (InputOutput); what it writes there is "
      "dropped\n";
  for (const auto& c : std::vector<Case>{
           {"splice:error=ENOMEM:when=1", "9", "", true},
           {"splice:error=EIO:when=1", "9", "", true},
           {"splice:error=EBADF:when=1", "9", "", true},
           {"splice:error=EAGAIN:when=1", "9", "", true},
           // The shell's word for a runtime ended by SIGTERM.
           {"splice:error=ECONNRESET:when=1", "143", "Terminated\n", false},
           // The output itself fails: said once, and the runtime runs on.
           {"splice,write:error=EIO", "9", failed, false},
       }) {
    auto result = shell(
        "rm -f out fifo; mkfifo fifo; cat fifo > out & "
        "strace -f -o /dev/null -P \"$PWD/fifo\" -e inject=" +
            c.inject + " timeout 20 $APP > fifo; echo $?; wait",
        env);
    EXPECT_EQ(result.out, c.status + "\n") << c.inject << ": " << result.err;
    EXPECT_EQ(result.err, c.err) << c.inject;
    EXPECT_EQ(fs::file_size(dir_ / "out") == 3'000'000, c.everything) << c.inject;
  }
}

TEST_F(LifecycleTest, TheRelayHoldsNothingButTheOutputItCarries) {
  // Standard output and error, its own pipe and the runtime's process
  // descriptor: no
  // lock, no file of the launcher's, no working directory kept busy.
  // Looked at once the runtime has recorded itself, so the relay is up.
  auto result = shell(
      "$APP | cat & for i in $(seq 400); do [ -s record ] && break; sleep 0.05; done; "
      "relay=$(pgrep -f -- \"$APP\"); "
      "ls /proc/$relay/fd | wc -l; readlink /proc/$relay/cwd; wait",
      {"WEXLO_FAKE_ERL_RECORD=" + (dir_ / "record").string(), "WEXLO_FAKE_ERL_SLEEP_MS=2000"});
  EXPECT_EQ(result.out, "4\n/\n") << result.err;
}

TEST_F(LifecycleTest, NoRelayOutlivesItsRuns) {
  auto result = shell(
      "for i in $(seq 100); do $APP | cat >/dev/null || exit 1; done; "
      "$APP | true; sleep 0.3; pgrep -f -- \"$APP\" || echo none",
      {"WEXLO_FAKE_ERL_STDOUT=x"});
  EXPECT_EQ(result.out, "none\n") << result.err;
}

}  // namespace
}  // namespace wexlo::testing
