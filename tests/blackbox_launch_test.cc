// A packed launcher starting its runtime (the fake one, which records how it
// was started), and removing older installs on the way.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#include "support/fake_erl_record.h"
#include "support/launcher_kit.h"
#include "support/runtime_arguments.h"
#include "support/synthetic_release.h"

namespace wexlo::testing {
namespace {

namespace fs = std::filesystem;

class LaunchTest : public ::testing::Test {
 protected:
  fs::path pack(const std::string& app, const std::string& version,
                const std::string& cookie = "secret-cookie") {
    return packFiles(dir_ / (app + "-" + version), metadataText(app, version, "17.1"),
                     syntheticRelease(app, version, "17.1", 20, cookie));
  }

  ProcessResult run(const fs::path& launcher, std::vector<std::string> args = {},
                    std::vector<std::string> extraEnv = {}) {
    args.insert(args.begin(), launcher.string());
    std::vector<std::string> env = {"HOME=" + (dir_ / "home").string(),
                                    "WEXLO_FAKE_ERL_RECORD=" + record().string()};
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    return runProcess(args, {env, std::nullopt, dir_.path()});
  }

  fs::path record() const { return dir_ / "record"; }
  fs::path base() const { return dir_ / "home/.local/share/.wexlo"; }

  TempDir dir_;
};

TEST_F(LaunchTest, TheRuntimeGetsTheFixedArgumentsThenTheUsersUnchanged) {
  auto launcher = pack("demo_app", "0.1.3");
  std::vector<std::string> user = {"run", "with space", "", "quote\"d", "back\\slash\\", "--help"};
  auto result = run(launcher, user);
  ASSERT_EQ(result.status, 0) << result.err;
  auto seen = readFakeErlRecord(record());
  ASSERT_TRUE(seen) << seen.error();
  std::string install = (base() / "demo_app_erts-17.1_0.1.3").string();
  std::string release = install + "/releases/0.1.3";
  auto expected = expectedRuntimeArguments(install, "17.1", "0.1.3", "secret-cookie");
  expected.insert(expected.end(), user.begin(), user.end());
  EXPECT_EQ(seen->args, expected);
  EXPECT_EQ(seen->workingDirectory, dir_.path().string());
}

TEST_F(LaunchTest, AServiceGetsTheEighteenFixedArgumentsAndInspectSaysSo) {
  const fs::path release = dir_ / "release";
  auto files = syntheticRelease("demo_app", "0.1.3", "17.1", 20);
  files.push_back({"releases/0.1.3/demo_app.rel",
                   R"({release,{"demo_app","0.1.3"},{erts,"17.1"},[{elixir,"1.14.0"}]}.)",
                   0100644});
  writeTree(release, files);
  const fs::path service = packRelease(release, dir_ / "service", {"--service"});
  const std::vector<std::string> user = {"--port", "4101", "--version", "file.exs"};
  ASSERT_EQ(run(service, user).status, 0);
  auto seen = readFakeErlRecord(record());
  ASSERT_TRUE(seen) << seen.error();
  const std::string install = (base() / "demo_app_erts-17.1_0.1.3").string();
  auto expected =
      expectedRuntimeArguments(install, "17.1", "0.1.3", "secret-cookie", '/', Boot::Service);
  ASSERT_EQ(expected.size(), 18u);
  expected.insert(expected.end(), user.begin(), user.end());
  EXPECT_EQ(seen->args, expected);

  for (const auto& [launcher, mode] :
       {std::pair{service, "service"}, std::pair{pack("demo_app", "0.1.3"), "command line"}}) {
    auto inspected = runProcess({packerPath().string(), "inspect", launcher.string()});
    EXPECT_NE(inspected.out.find(std::string("\nstart mode: ") + mode + "\n"), std::string::npos)
        << inspected.out;
  }
}

TEST_F(LaunchTest, TheReleaseVariablesAreSetAfterTheCallersInOrder) {
  auto launcher = pack("demo_app", "0.1.3");
  ASSERT_EQ(run(launcher, {}, {"RELEASE_ROOT=old", "KEEP=me"}).status, 0);
  auto seen = readFakeErlRecord(record());
  ASSERT_TRUE(seen) << seen.error();
  std::string install = (base() / "demo_app_erts-17.1_0.1.3").string();
  EXPECT_EQ(seen->env("RELEASE_ROOT"), install);
  EXPECT_EQ(seen->env("RELEASE_SYS_CONFIG"), install + "/releases/0.1.3/sys");
  EXPECT_EQ(seen->env("__WEXLO"), "1");
  EXPECT_EQ(seen->env("__WEXLO_BIN_PATH"), fs::canonical(launcher).string());
  EXPECT_EQ(seen->env("_IS_TTY"), "0");
  EXPECT_EQ(seen->env("KEEP"), "me");
  auto names = seen->envNames();
  std::vector<std::string> expectedOrder = {
      "HOME",    "WEXLO_FAKE_ERL_RECORD", "RELEASE_ROOT", "KEEP",
      "_IS_TTY", "RELEASE_SYS_CONFIG",    "__WEXLO",      "__WEXLO_BIN_PATH"};
  EXPECT_EQ(names, expectedOrder);
}

TEST_F(LaunchTest, TheRuntimesStatusBecomesTheLaunchers) {
  auto launcher = pack("demo_app", "0.1.3");
  for (int status : {0, 3, 255}) {
    auto result = run(launcher, {}, {"WEXLO_FAKE_ERL_EXIT=" + std::to_string(status)});
    EXPECT_EQ(result.status, status);
    EXPECT_EQ(result.err, "");
  }
  EXPECT_EQ(run(launcher, {}, {"WEXLO_FAKE_ERL_SIGNAL=9"}).status, 128 + 9);
}

TEST_F(LaunchTest, TheRuntimeStartsWithDefaultSignalHandling) {
  auto files = syntheticRelease("demo_app", "0.1.3", "17.1", 1);
  for (auto& file : files) {
    if (file.path == "erts-17.1/bin/erl") {
      file.content = "#!/bin/sh\ngrep SigIgn /proc/$$/status > \"$WEXLO_FAKE_ERL_RECORD\"\n";
    }
  }
  auto launcher = packFiles(dir_ / "app", metadataText("demo_app", "0.1.3", "17.1"), files);
  ASSERT_EQ(run(launcher).status, 0);
  std::string line = readFile(record());
  ASSERT_TRUE(line.starts_with("SigIgn:")) << line;
  unsigned long long ignored = std::stoull(line.substr(7), nullptr, 16);
  EXPECT_EQ(ignored & (1ull << (SIGPIPE - 1)), 0u) << line;
}

TEST_F(LaunchTest, TheCookieComesFromTheFileOrTheEnvironment) {
  auto launcher = pack("demo_app", "0.1.3", std::string(255, 'c'));
  ASSERT_EQ(run(launcher, {}, {"RELEASE_COOKIE="}).status, 0);
  auto seen = readFakeErlRecord(record());
  ASSERT_TRUE(seen);
  EXPECT_EQ(seen->args.at(10), "");
  EXPECT_EQ(seen->env("RELEASE_COOKIE"), "");
  ASSERT_EQ(run(launcher).status, 0);
  EXPECT_EQ(readFakeErlRecord(record())->args.at(10), std::string(255, 'c'));
}

TEST_F(LaunchTest, ABadCookieFileStopsTheLaunch) {
  auto tooLong = pack("demo_app", "0.1.3", std::string(256, 'c'));
  auto result = run(tooLong, {}, {"RELEASE_COOKIE=set"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "error: StreamTooLong\n");
  EXPECT_FALSE(fs::exists(record()));

  fs::remove(base() / "demo_app_erts-17.1_0.1.3/releases/COOKIE");
  result = run(tooLong);
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "error: FileNotFound\n");
}

TEST_F(LaunchTest, MaintenanceInAnotherCaseIsAnOrdinaryArgument) {
  auto launcher = pack("demo_app", "0.1.3");
  ASSERT_EQ(run(launcher, {"Maintenance", "directory"}).status, 0);
  auto seen = readFakeErlRecord(record());
  ASSERT_TRUE(seen);
  EXPECT_EQ(std::vector<std::string>(seen->args.end() - 2, seen->args.end()),
            (std::vector<std::string>{"Maintenance", "directory"}));
}

TEST_F(LaunchTest, ANewerVersionRemovesOnlyOlderInstallsOfTheSameApp) {
  // Newest first, so that no earlier run removes anything.
  ASSERT_EQ(run(pack("demo_app", "0.3.0")).status, 0);
  ASSERT_EQ(run(pack("demo_app", "0.1.0")).status, 0);
  ASSERT_EQ(run(pack("other_app", "0.0.1")).status, 0);
  auto result = run(pack("demo_app", "0.2.0"));
  ASSERT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "[l] Uninstalled older version (v0.1.0)\n");
  EXPECT_FALSE(fs::exists(base() / "demo_app_erts-17.1_0.1.0"));
  EXPECT_TRUE(fs::exists(base() / "demo_app_erts-17.1_0.3.0/_metadata.json"));
  EXPECT_TRUE(fs::exists(base() / "demo_app_erts-17.1_0.2.0/_metadata.json"));
  EXPECT_TRUE(fs::exists(base() / "other_app_erts-17.1_0.0.1/_metadata.json"));
}

TEST_F(LaunchTest, ForeignFoldersAreReportedAndLinksPassedBy) {
  auto launcher = pack("demo_app", "0.2.0");
  ASSERT_EQ(run(pack("demo_app", "0.1.0")).status, 0);
  fs::rename(base() / "demo_app_erts-17.1_0.1.0", dir_ / "elsewhere");
  fs::create_directory_symlink(dir_ / "elsewhere", base() / "link-to-old");
  fs::create_directories(base() / "empty");
  auto result = run(launcher);
  ASSERT_EQ(result.status, 0);
  EXPECT_EQ(result.err, "error: Failed to load the metadata file: " +
                            (base() / "empty/_metadata.json").string() + "\n");
  EXPECT_TRUE(fs::exists(dir_ / "elsewhere/_metadata.json"));
}

}  // namespace
}  // namespace wexlo::testing
