// The example Elixir release, packed by the packer and run through the
// launcher with the real runtime.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#include "support/launcher_kit.h"
#include "support/running_process.h"

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

  ProcessResult run(std::vector<std::string> args, std::vector<std::string> env = {},
                    const fs::path& launcher = launcher_) {
    args.insert(args.begin(), launcher.string());
    env.insert(env.end(), {"HOME=" + (dir_->path() / "home").string(), "LANG=C.UTF-8"});
    return runProcess(args, {env, std::nullopt, dir_->path()});
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
  // wait forever; `timeout` would then end it with 124. Its next write after
  // `head` left asks it to stop, which it does cleanly, with status 0.
  const fs::path out = dir_->path() / "head.out";
  const std::string home = (dir_->path() / "home").string();
  auto result =
      runProcess({"/bin/bash", "-c",
                  "timeout 30 \"$0\" $(seq 1 100000) | head -2 >\"$1\"; "
                  "echo \"status=${PIPESTATUS[0]}\"; pgrep -f -- \"[b]eam.*$2\" && echo left",
                  launcher_.string(), out.string(), home},
                 {{"HOME=" + home, "PATH=/usr/bin:/bin"}, std::nullopt, dir_->path()});
  EXPECT_EQ(result.out, "status=0\n") << result.err;
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

// A release that keeps running, packed with the service mode: it takes its
// own options, serves a real client and stops cleanly (stop/1 runs) on SIGTERM.
TEST_F(DemoTest, AServiceServesOnItsPortAndStopsCleanlyOnSigterm) {
  const fs::path launcher = dir_->path() / "demo_service";
  auto packed = runProcess({packerPath().string(), "pack", "--quiet", "--service",
                            WEXLO_DEMO_SERVICE_RELEASE_DIR, "--stub", stubPath().string(), "-o",
                            launcher.string()});
  ASSERT_EQ(packed.status, 0) << packed.err;
  const std::vector<std::string> env = {"HOME=" + (dir_->path() / "home").string(), "LANG=C.UTF-8"};

  RunningProcess service({launcher.string(), "--port", "0", "--greeting", "Hi"},
                         {env, std::nullopt, dir_->path()}, dir_->path() / "service.err");
  auto listening = service.readLine();
  ASSERT_TRUE(listening) << service.wait().err;
  const std::string prefix = "demo_service listening on port ";
  ASSERT_TRUE(listening->starts_with(prefix)) << *listening;
  const int port = std::stoi(listening->substr(prefix.size()));

  auto response = httpGet(port, "/hello");
  ASSERT_TRUE(response);
  EXPECT_TRUE(response->starts_with("HTTP/1.1 200 OK\r\n")) << *response;
  EXPECT_TRUE(response->ends_with("\r\n\r\nHi from demo_service: GET /hello\n")) << *response;

  auto taken = run({"--port", std::to_string(port)}, {}, launcher);
  EXPECT_EQ(taken.status, 1);
  EXPECT_EQ(taken.err, "demo_service: cannot listen on port " + std::to_string(port) +
                           ": address already in use\n");

  service.signal(SIGTERM);
  auto stopped = service.wait();
  EXPECT_EQ(stopped.status, 0);
  EXPECT_EQ(stopped.out, "demo_service stopped\n");
  EXPECT_EQ(stopped.err, "");

  auto misused = run({"--port", "many"}, {}, launcher);
  EXPECT_EQ(misused.status, 2);
  EXPECT_EQ(misused.err, "demo_service: usage: demo_service --port N [--greeting TEXT]\n");
}

// The same application in a release that reboots after its runtime
// configuration, writing that configuration to RELEASE_SYS_CONFIG on the way.
TEST_F(DemoTest, TheReadmesSystemdUnitPassesSystemdsOwnCheck) {
  const fs::path source = WEXLO_SOURCE_DIR;
  const std::string unit = readFile(source / "examples/demo_service/demo_service.service");
  EXPECT_NE(readFile(source / "README.md").find(unit), std::string::npos)
      << "the README's copy of the unit differs from examples/demo_service's";
  if (!fs::exists("/usr/bin/systemd-analyze")) {
    GTEST_SKIP() << "needs systemd-analyze (Debian: systemd)";
  }
  auto verify = [&](const std::string& name, std::string text) {
    writeFile(dir_->path() / name, text);
    return runProcess({"/usr/bin/systemd-analyze", "verify", (dir_->path() / name).string()});
  };
  if (auto plain = verify("plain.service", "[Service]\nExecStart=/bin/true\n"); plain.status != 0) {
    GTEST_SKIP() << "systemd-analyze cannot verify units here (a container?): " << plain.err;
  }
  // verify wants the executable to be there: a packed launcher stands in.
  std::string local = unit;
  const std::string installed = "/usr/local/bin/demo_service";
  local.replace(local.find(installed), installed.size(), launcher_.string());
  auto verified = verify("demo_service.service", local);
  EXPECT_EQ(verified.status, 0) << verified.err;
  EXPECT_EQ(verified.err, "");
}

TEST_F(DemoTest, EachRunOfARebootingReleaseReadsItsOwnEnvironment) {
  const fs::path launcher = dir_->path() / "demo_app_rebooting";
  auto packed =
      runProcess({packerPath().string(), "pack", "--quiet", WEXLO_DEMO_REBOOTING_RELEASE_DIR,
                  "--stub", stubPath().string(), "-o", launcher.string()});
  ASSERT_EQ(packed.status, 0) << packed.err;
  for (const std::string greeting : {"Hi", "Ahoy"}) {
    auto result = run({"Ada"}, {"DEMO_GREETING=" + greeting}, launcher);
    EXPECT_EQ(result.out, greeting + ", Ada!\n") << result.err;
  }
  auto meta = run({"maintenance", "directory"}, {}, launcher);
  const fs::path install = meta.out.substr(0, meta.out.size() - 1);
  const std::string sysConfig = "releases/0.1.0/sys.config";
  EXPECT_EQ(readFile(install / sysConfig),
            readFile(fs::path(WEXLO_DEMO_REBOOTING_RELEASE_DIR) / sysConfig));
  // One copy per run, for the user's eyes alone.
  ASSERT_TRUE(fs::is_directory(install / "tmp"));
  int copies = 0;
  for (const auto& entry : fs::directory_iterator(install / "tmp")) {
    EXPECT_EQ(entry.status().permissions() & fs::perms::all, fs::perms(0600));
    EXPECT_TRUE(entry.path().string().ends_with(".runtime.config"));
    ++copies;
  }
  EXPECT_EQ(copies, 2);

  const fs::path elsewhere = dir_->path() / "release-tmp";
  auto env = run({"--env"}, {"RELEASE_TMP=" + elsewhere.string()}, launcher);
  EXPECT_TRUE(env.out.find("RELEASE_SYS_CONFIG=<" + elsewhere.string() +
                           "/demo_app_rebooting-0.1.0-") != std::string::npos)
      << env.out;
  EXPECT_EQ(std::distance(fs::directory_iterator(elsewhere), {}), 1);
}

}  // namespace
}  // namespace wexlo::testing
