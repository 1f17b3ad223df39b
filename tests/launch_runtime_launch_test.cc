#include <gtest/gtest.h>

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
    return launchRuntime(fs, console, process, arguments, kSelf, metadata, kInstall);
  }

  TrackingFileSystem fs;
  FakeConsole console;
  RecordingProcess process{fs};
  BuildMetadata metadata;
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
}

}  // namespace
}  // namespace wexlo
