#include <gtest/gtest.h>

#include <algorithm>

#include "launch/runtime_launch.h"
#include "platform/windows_command_line.h"
#include "support/fake_console.h"
#include "support/fake_file_system.h"
#include "support/runtime_arguments.h"

namespace wexlo {
namespace {

using Strings = std::vector<std::string>;
using testing::FakeConsole;
using testing::FakeFileSystem;

constexpr std::string_view kInstall = "/home/u/.wexlo/demo_erts-17.1_0.1.3";
constexpr std::string_view kCookiePath = "/home/u/.wexlo/demo_erts-17.1_0.1.3/releases/COOKIE";
constexpr std::string_view kSelf = "/opt/demo/demo";

// Tells the process fake whether the cookie file is still open.
class TrackingFileSystem : public FakeFileSystem {
 public:
  int openFiles = 0;

  Result<std::unique_ptr<ReadableFile>> openForReading(std::string_view path) override {
    auto file = FakeFileSystem::openForReading(path);
    if (!file) return file;
    return std::make_unique<Tracked>(std::move(*file), openFiles);
  }

 private:
  class Tracked : public ReadableFile {
   public:
    Tracked(std::unique_ptr<ReadableFile> inner, int& count)
        : inner_(std::move(inner)), count_(count) {
      ++count_;
    }
    ~Tracked() override { --count_; }
    Result<std::string> readAll(std::size_t limit) override { return inner_->readAll(limit); }

   private:
    std::unique_ptr<ReadableFile> inner_;
    int& count_;
  };
};

class RecordingProcess : public Process {
 public:
  explicit RecordingProcess(const TrackingFileSystem& fs) : fs_(fs) {}

  Environment startEnvironment;
  Result<int> status = 0;
  std::optional<Failure> environmentFailure;

  bool ran = false;
  std::string program;
  Strings argv;
  std::vector<EnvironmentVariable> runEnvironment;
  int filesOpenWhileRunning = 0;

  Result<Strings> arguments() override { return Strings{}; }
  Result<Environment> environment() override {
    if (environmentFailure) return fail(*environmentFailure);
    return startEnvironment;
  }
  std::optional<std::string> defaultInstallRoot() override { return std::nullopt; }
  Result<std::string> selfExecutablePath() override { return std::string(kSelf); }
  Result<int> handOver(const std::string& program_, const Strings& argv_,
                       const Environment& environment_) override {
    ran = true;
    program = program_;
    argv = argv_;
    runEnvironment = environment_.entries();
    filesOpenWhileRunning = fs_.openFiles;
    return status;
  }

 private:
  const TrackingFileSystem& fs_;
};

class LaunchRuntimeTest : public ::testing::Test {
 protected:
  LaunchRuntimeTest() {
    metadata.appName = "demo";
    metadata.appVersion = "0.1.3";
    metadata.ertsVersion = "17.1";
    fs.addFile(kCookiePath, "monster");
  }

  Result<int> launch(const Strings& arguments = {"demo"}) {
    return launchRuntime(fs, console, process, arguments, kSelf, metadata, kInstall,
                         [&] { return stamp; });
  }

  std::string variable(std::string_view name) const {
    for (const auto& entry : process.runEnvironment) {
      if (entry.name == name) return entry.value;
    }
    return "(unset)";
  }

  TrackingFileSystem fs;
  FakeConsole console;
  RecordingProcess process{fs};
  BuildMetadata metadata;
  RunStamp stamp{1700000000, 0xab};
};

TEST_F(LaunchRuntimeTest, PathsLieInTheInstallDirectory) {
  const std::string install(kInstall);
  auto paths = releasePaths(kInstall, metadata);
  EXPECT_EQ(paths.runtimeExecutable, install + "/erts-17.1/bin/erl");
  EXPECT_EQ(paths.cookieFile, kCookiePath);
  EXPECT_EQ(paths.libraryDirectory, install + "/lib");
  EXPECT_EQ(paths.bootFile, install + "/releases/0.1.3/start");
  EXPECT_EQ(paths.argumentsFile, install + "/releases/0.1.3/vm.args");
  EXPECT_EQ(paths.configurationFile, install + "/releases/0.1.3/sys.config");
  EXPECT_EQ(paths.configurationBase, install + "/releases/0.1.3/sys");
}

TEST_F(LaunchRuntimeTest, RunsTheRuntimeWithTheFixedArgumentsAlone) {
  for (const Strings& arguments : {Strings{"demo"}, Strings{}}) {
    ASSERT_EQ(launch(arguments), 0);
    const auto paths = releasePaths(kInstall, metadata);
    EXPECT_EQ(process.program, paths.runtimeExecutable);
    EXPECT_EQ(process.argv,
              testing::expectedRuntimeArguments(kInstall, "17.1", "0.1.3", "monster"));
  }
}

TEST_F(LaunchRuntimeTest, AServiceRecordBootsWithoutTheStartFunction) {
  metadata.options = "--target linux-x86_64 --block-size 8 --service --payload-crc64 00ab";
  ASSERT_EQ(launch({"demo", "--port", "80"}), 0);
  auto expected = testing::expectedRuntimeArguments(kInstall, "17.1", "0.1.3", "monster", '/',
                                                    testing::Boot::Service);
  expected.insert(expected.end(), {"--port", "80"});
  EXPECT_EQ(process.argv, expected);
}

TEST_F(LaunchRuntimeTest, AppendsTheUsersArgumentsButNotTheProgram) {
  ASSERT_EQ(launch({"demo", "run", "", "maintenance", "a b"}), 0);
  ASSERT_EQ(process.argv.size(), 25u);
  EXPECT_EQ(process.argv[20], "-extra");
  EXPECT_EQ(Strings(process.argv.begin() + 21, process.argv.end()),
            (Strings{"run", "", "maintenance", "a b"}));
}

TEST_F(LaunchRuntimeTest, CookieComesFromTheFileUnchanged) {
  fs.addFile(kCookiePath, "monster\n");
  ASSERT_EQ(launch(), 0);
  EXPECT_EQ(process.argv[10], "monster\n");
}

TEST_F(LaunchRuntimeTest, ReleaseCookieWinsAndPassesThrough) {
  for (const std::string value : {"from-env", ""}) {
    process.startEnvironment = Environment();
    process.startEnvironment.set("RELEASE_COOKIE", value);
    ASSERT_EQ(launch(), 0);
    EXPECT_EQ(process.argv[10], value);
    EXPECT_EQ(process.runEnvironment.front().name, "RELEASE_COOKIE");
    EXPECT_EQ(process.runEnvironment.front().value, value);
  }
}

TEST_F(LaunchRuntimeTest, CookieFileIsRequiredAndLimitedEvenWithReleaseCookie) {
  process.startEnvironment.set("RELEASE_COOKIE", "from-env");
  fs.addFile(kCookiePath, std::string(255, 'c'));
  EXPECT_EQ(launch(), 0);

  fs.addFile(kCookiePath, std::string(256, 'c'));
  process.ran = false;
  EXPECT_EQ(launch(), fail(Failure::StreamTooLong));
  EXPECT_FALSE(process.ran);

  (void)fs.deleteTree(kCookiePath);
  EXPECT_EQ(launch(), fail(Failure::FileNotFound));
  EXPECT_FALSE(process.ran);
}

TEST_F(LaunchRuntimeTest, CookieFileStaysOpenWhileTheRuntimeRuns) {
  ASSERT_EQ(launch(), 0);
  EXPECT_EQ(process.filesOpenWhileRunning, 1);
  EXPECT_EQ(fs.openFiles, 0);
}

TEST_F(LaunchRuntimeTest, SetsTheReleaseVariablesInOrderAfterTheInheritedOnes) {
  process.startEnvironment.set("HOME", "/home/u");
  for (bool terminal : {false, true}) {
    console.terminal = terminal;
    ASSERT_EQ(launch(), 0);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"HOME", "/home/u"},
        {"_IS_TTY", terminal ? "1" : "0"},
        {"RELEASE_ROOT", std::string(kInstall)},
        {"RELEASE_SYS_CONFIG", std::string(kInstall) + "/releases/0.1.3/sys"},
        {"__WEXLO", "1"},
        {"__WEXLO_BIN_PATH", std::string(kSelf)},
    };
    std::vector<std::pair<std::string, std::string>> actual;
    for (const auto& [name, value] : process.runEnvironment) actual.emplace_back(name, value);
    EXPECT_EQ(actual, expected);
  }
}

TEST_F(LaunchRuntimeTest, ExistingVariableInOtherCaseKeepsNameAndPlace) {
  process.startEnvironment = Environment::fromEntries(
      {{"release_root", "/old"}, {"_is_tty", "x"}, {"PATH", "/bin"}}, asciiCaseInsensitiveEquals);
  ASSERT_EQ(launch(), 0);
  ASSERT_GE(process.runEnvironment.size(), 3u);
  EXPECT_EQ(process.runEnvironment[0].name, "release_root");
  EXPECT_EQ(process.runEnvironment[0].value, kInstall);
  EXPECT_EQ(process.runEnvironment[1].name, "_is_tty");
  EXPECT_EQ(process.runEnvironment[1].value, "0");
  EXPECT_EQ(process.runEnvironment[2].name, "PATH");
  EXPECT_EQ(process.runEnvironment[3].name, "RELEASE_SYS_CONFIG");
  EXPECT_EQ(process.runEnvironment.size(), 6u);
}

constexpr std::string_view kSysConfig =
    "/home/u/.wexlo/demo_erts-17.1_0.1.3/releases/0.1.3/sys.config";
constexpr std::string_view kRebootingConfig =
    "%% coding: utf-8\n%% RUNTIME_CONFIG=true\n[{elixir,[{config_provider_init,x}]}].\n";

TEST_F(LaunchRuntimeTest, OnlyAReleaseThatConfiguresAtBootGetsACopy) {
  struct Case {
    std::string_view sysConfig;
    bool copied;
  };
  for (const auto& c : std::vector<Case>{
           {kRebootingConfig, true},
           {"%% RUNTIME_CONFIG=true\r\n[].", true},
           {"%% RUNTIME_CONFIG=true", true},
           {"%% coding: utf-8\n%% RUNTIME_CONFIG=false\n[].", false},
           {"[].\n%% RUNTIME_CONFIG=true\n", false},
           {"%% RUNTIME_CONFIG=truest\n[].", false},
           {"", false},
       }) {
    fs.addFile(kSysConfig, c.sysConfig);
    ASSERT_EQ(launch(), 0);
    auto expected = testing::expectedRuntimeArguments(kInstall, "17.1", "0.1.3", "monster");
    const std::string copy =
        std::string(kInstall) + "/tmp/demo-0.1.3-1700000000-00000000000000ab.runtime";
    if (c.copied) expected[19] = copy + ".config";
    EXPECT_EQ(process.argv, expected) << c.sysConfig;
    EXPECT_EQ(variable("RELEASE_SYS_CONFIG"),
              c.copied ? copy : std::string(kInstall) + "/releases/0.1.3/sys")
        << c.sysConfig;
    EXPECT_EQ(fs.exists(std::string(kInstall) + "/tmp"), c.copied) << c.sysConfig;
    (void)fs.deleteTree(std::string(kInstall) + "/tmp");
  }
}

TEST_F(LaunchRuntimeTest, EachRunOfAReleaseThatConfiguresAtBootGetsItsOwnPrivateCopy) {
  fs.addFile(kSysConfig, kRebootingConfig);
  const std::string tmp = std::string(kInstall) + "/tmp/";
  for (const auto& [releaseTmp, directory] : std::vector<std::pair<std::string, std::string>>{
           {"", tmp}, {"/run/user/1000/demo", "/run/user/1000/demo/"}}) {
    process.startEnvironment.set("RELEASE_TMP", releaseTmp);
    std::vector<std::string> copies;
    for (auto nonce : {std::uint64_t{0xab}, std::uint64_t{0xfedcba9876543210}}) {
      stamp.nonce = nonce;
      ASSERT_EQ(launch(), 0);
      ASSERT_EQ(process.argv.size(), 21u);
      const std::string copy = process.argv[19];
      EXPECT_EQ(process.argv[18], "-config");
      EXPECT_EQ(variable("RELEASE_SYS_CONFIG") + ".config", copy);
      EXPECT_EQ(fs.content(copy), kRebootingConfig);
      EXPECT_EQ(fs.node(copy)->mode, 0600u);
      copies.push_back(copy);
    }
    EXPECT_EQ(copies, (std::vector<std::string>{
                          directory + "demo-0.1.3-1700000000-00000000000000ab.runtime.config",
                          directory + "demo-0.1.3-1700000000-fedcba9876543210.runtime.config"}));
  }
  EXPECT_EQ(fs.content(kSysConfig), kRebootingConfig);
  // The rest of the command line and environment stay as they were.
  auto expected = testing::expectedRuntimeArguments(kInstall, "17.1", "0.1.3", "monster");
  expected[19] = process.argv[19];
  EXPECT_EQ(process.argv, expected);
  EXPECT_EQ(variable("RELEASE_ROOT"), kInstall);
}

TEST_F(LaunchRuntimeTest, ExpiredCopiesOfTheApplicationGoAndNothingElse) {
  fs.addFile(kSysConfig, kRebootingConfig);
  const std::string tmp = std::string(kInstall) + "/tmp/";
  const std::vector<std::string> expired = {
      "demo-0.1.3-1699996399-0123456789abcdef.runtime.config",
      "demo-0.1.2-rc.1-1600000000-0123456789abcdef.runtime.config",
      "demo-0.1.3-1700007201-0123456789abcdef.runtime.config",  // ahead of the clock
  };
  const std::vector<std::string> kept = {
      "demo-0.1.3-1699996400-0123456789abcdef.runtime.config",
      "demo-0.1.3-20231114221320-0123456789ab.runtime.config",  // a start script's
      "demo-0.1.3-1600000000-0123456789ABCDEF.runtime.config",
      "demo-0.1.3-1600000000-0123456789abcdef.runtime",
      "demo-1600000000-0123456789abcdef.runtime.config",
      "demonstration-0.1.3-1600000000-0123456789abcdef.runtime.config",
      "other-0.1.3-1600000000-0123456789abcdef.runtime.config",
      // Application "demo-app", not "demo", and a name that is no version.
      "demo-app-0.1.3-1600000000-0123456789abcdef.runtime.config",
      "demo-0.1-1600000000-0123456789abcdef.runtime.config",
      "demo-0.1.3-1600000000-1111111111111111.runtime.config",  // another user's
  };
  for (const auto& name : expired) fs.addFile(tmp + name, "old");
  for (const auto& name : kept) fs.addFile(tmp + name, "old");
  fs.giveToAnotherUser(tmp + kept.back());
  fs.addDirectory(tmp + "demo-0.1.3-1600000000-fedcba9876543210.runtime.config");
  fs.failOn(FakeFileSystem::Op::DeleteTree, tmp + expired[0], Failure::AccessDenied);
  ASSERT_EQ(launch(), 0);
  std::vector<std::string> left = fs.tree(tmp);
  std::vector<std::string> expected = kept;
  expected.push_back(expired[0]);  // a failed removal does not stop the run
  expected.push_back("demo-0.1.3-1600000000-fedcba9876543210.runtime.config/");
  expected.push_back("demo-0.1.3-1700000000-00000000000000ab.runtime.config");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(left, expected);
}

TEST_F(LaunchRuntimeTest, AConfigurationThatCannotBeCopiedStopsBeforeTheRuntimeRuns) {
  fs.addFile(kSysConfig, kRebootingConfig);
  const std::string tmp = std::string(kInstall) + "/tmp";
  const std::string copy = tmp + "/demo-0.1.3-1700000000-00000000000000ab.runtime.config";
  struct Case {
    FakeFileSystem::Op op;
    std::string path;
  };
  for (const auto& c :
       {Case{FakeFileSystem::Op::ReadAll, std::string(kSysConfig)},
        Case{FakeFileSystem::Op::MakePath, tmp}, Case{FakeFileSystem::Op::WriteFile, copy}}) {
    TrackingFileSystem fresh;
    fresh.addFile(kCookiePath, "monster");
    fresh.addFile(kSysConfig, kRebootingConfig);
    fresh.failOn(c.op, c.path, Failure::NoSpaceLeft);
    RecordingProcess recording{fresh};
    EXPECT_EQ(launchRuntime(fresh, console, recording, {"demo"}, kSelf, metadata, kInstall,
                            [&] { return stamp; }),
              fail(Failure::NoSpaceLeft))
        << c.path;
    EXPECT_FALSE(recording.ran) << c.path;
  }
}

TEST_F(LaunchRuntimeTest, PassesTheRuntimeResultBack) {
  for (Result<int> status :
       {Result<int>(0), Result<int>(3), Result<int>(255), Result<int>(fail(Failure::InvalidExe))}) {
    process.status = status;
    EXPECT_EQ(launch(), status);
  }
}

TEST_F(LaunchRuntimeTest, EnvironmentFailureStopsBeforeAnythingRuns) {
  process.environmentFailure = Failure::OutOfMemory;
  EXPECT_EQ(launch(), fail(Failure::OutOfMemory));
  EXPECT_FALSE(process.ran);
}

// The command line a Windows runtime is started with, end to end.
TEST(QuoteCommandLine, WorkedExample) {
  const ReleasePaths paths{
      .runtimeExecutable = "D:\\inst\\erts-17.1\\bin\\erl.exe",
      .cookieFile = "D:\\inst\\releases\\COOKIE",
      .libraryDirectory = "D:\\inst\\lib",
      .bootFile = "D:\\inst\\releases\\0.1.3\\start",
      .argumentsFile = "D:\\inst\\releases\\0.1.3\\vm.args",
      .configurationFile = "D:\\inst\\releases\\0.1.3\\sys.config",
      .configurationBase = "D:\\inst\\releases\\0.1.3\\sys",
  };
  const std::string head =
      "D:\\inst\\erts-17.1\\bin\\erl.exe -elixir ansi_enabled true -noshell -s elixir start_cli "
      "\"-mode embedded\" -setcookie ";
  const std::string tail =
      " -boot D:\\inst\\releases\\0.1.3\\start -boot_var RELEASE_LIB D:\\inst\\lib -args_file "
      "D:\\inst\\releases\\0.1.3\\vm.args -config D:\\inst\\releases\\0.1.3\\sys.config -extra "
      "run --verbose";
  const std::vector<std::string> launcherArguments = {"tool.exe", "run", "--verbose"};
  EXPECT_EQ(quoteCommandLine(runtimeArguments(paths, "SECRET", launcherArguments)),
            head + "SECRET" + tail);
  EXPECT_EQ(quoteCommandLine(runtimeArguments(paths, "", launcherArguments)), head + "\"\"" + tail);
  EXPECT_EQ(quoteCommandLine(runtimeArguments(paths, "line\n", launcherArguments)),
            head + "\"line\n\"" + tail);
  EXPECT_EQ(
      quoteCommandLine(runtimeArguments(paths, "SECRET", launcherArguments, StartMode::Service)),
      "D:\\inst\\erts-17.1\\bin\\erl.exe -elixir ansi_enabled true -noshell \"-mode embedded\" "
      "-setcookie SECRET" +
          tail);
}

}  // namespace
}  // namespace wexlo
