// The example Elixir release, packed by the packer and run through the
// launcher with the real runtime.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/launcher_kit.h"

namespace wexlo::testing {
namespace {

namespace fs = std::filesystem;

class DemoTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    launcher_ = dir_->path() / "demo_app";
    auto packed = runProcess({packerPath().string(), "pack", "--quiet", WEXLO_DEMO_RELEASE_DIR,
                              "--stub", stubPath().string(), "-o", launcher_.string()});
    ASSERT_EQ(packed.status, 0) << packed.err;
  }
  static void TearDownTestSuite() { delete dir_; }

  ProcessResult run(std::vector<std::string> args) {
    args.insert(args.begin(), launcher_.string());
    return runProcess(
        args,
        {{"HOME=" + (dir_->path() / "home").string(), "LANG=C.UTF-8"}, std::nullopt, dir_->path()});
  }

  static TempDir* dir_;
  static fs::path launcher_;
};

TempDir* DemoTest::dir_ = nullptr;
fs::path DemoTest::launcher_;

TEST_F(DemoTest, TheAppSeesItsArgumentsExactly) {
  auto result = run({"--echo", "with space", "", "quo\"te", "back\\slash\\", "tab\tx"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out,
            "argc=5\n"
            "arg[0]=<with space>\n"
            "arg[1]=<>\n"
            "arg[2]=<quo\"te>\n"
            "arg[3]=<back\\\\slash\\\\>\n"
            "arg[4]=<tab\\u{9}x>\n");
}

TEST_F(DemoTest, TheAppSeesTheLauncherVariables) {
  auto result = run({"--env"});
  ASSERT_EQ(result.status, 0) << result.err;
  auto meta = run({"maintenance", "directory"});
  std::string install = meta.out.substr(0, meta.out.size() - 1);
  EXPECT_EQ(result.out, "RELEASE_ROOT=<" + install + ">\n" + "RELEASE_SYS_CONFIG=<" + install +
                            "/releases/0.1.0/sys>\n" + "__WEXLO=<1>\n" + "__WEXLO_BIN_PATH=<" +
                            fs::canonical(launcher_).string() + ">\n" + "_IS_TTY=<0>\n");
}

TEST_F(DemoTest, TheAppsStatusIsTheLaunchers) {
  for (int status : {0, 3, 255}) {
    EXPECT_EQ(run({"--exit", std::to_string(status)}).status, status);
  }
  auto failed = run({"--raise", "disk full"});
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(failed.out, "");
  EXPECT_EQ(failed.err, "demo_app: error: disk full\n");
  EXPECT_FALSE(fs::exists(dir_->path() / "erl_crash.dump"));
  auto greeting = run({"Ada"});
  EXPECT_EQ(greeting.status, 0);
  EXPECT_EQ(greeting.out, "Hello, Ada!\n");
}

TEST_F(DemoTest, AnAppWhoseOutputReaderGoesAwayEndsPromptly) {
  // `demo_app 1 2 ... 100000 | head -2`: without a reader the runtime would
  // wait forever; `timeout` would then end it with 124.
  const fs::path out = dir_->path() / "head.out";
  const std::string home = (dir_->path() / "home").string();
  auto result =
      runProcess({"/bin/bash", "-c",
                  "timeout 30 \"$0\" $(seq 1 100000) | head -2 >\"$1\"; "
                  "echo \"status=${PIPESTATUS[0]}\"; pgrep -f -- \"[b]eam.*$2\" && echo left",
                  launcher_.string(), out.string(), home},
                 {{"HOME=" + home, "PATH=/usr/bin:/bin"}, std::nullopt, dir_->path()});
  EXPECT_EQ(result.out, "status=137\n") << result.err;
  EXPECT_EQ(readFile(out), "Hello, 1!\nHello, 2!\n");
}

TEST_F(DemoTest, ALaterRunStartsWithoutUnpacking) {
  ASSERT_EQ(run({"--exit", "0"}).status, 0);
  auto meta = run({"maintenance", "directory"});
  fs::path install = meta.out.substr(0, meta.out.size() - 1);
  // The release's own start script is not needed by the launcher; a second
  // run that unpacked again would bring it back.
  ASSERT_TRUE(fs::remove(install / "bin/demo_app"));
  EXPECT_EQ(run({"Grace"}).out, "Hello, Grace!\n");
  EXPECT_FALSE(fs::exists(install / "bin/demo_app"));
}

}  // namespace
}  // namespace wexlo::testing
