// The launcher as a user meets it before any release runs: start-up
// failures, the install location and the maintenance commands.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/launcher_kit.h"

namespace wexlo::testing {
namespace {

namespace fs = std::filesystem;

class MaintenanceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    metadata_ = metadataText("demo_app", "0.1.3", "17.1");
    launcher_ = packFiles(dir_ / "demo_app", metadata_, {{"bin/demo_app", "#!/bin/sh\n", 0100755}});
    home_ = dir_ / "home";
    fs::create_directories(home_);
  }

  ProcessResult run(std::vector<std::string> args, std::vector<std::string> env = {},
                    std::optional<std::string> input = std::nullopt) {
    args.insert(args.begin(), launcher_.string());
    if (env.empty()) env = {"HOME=" + home_.string()};
    return runProcess(args, {env, input, dir_.path()});
  }

  fs::path base() const { return home_ / ".local/share/.wexlo"; }
  fs::path install() const { return base() / "demo_app_erts-17.1_0.1.3"; }

  TempDir dir_;
  std::string metadata_;
  fs::path launcher_;
  fs::path home_;
};

TEST_F(MaintenanceTest, NoRootForTheBaseDirectoryGivesTheFailureBlock) {
  auto result = run({"maintenance", "directory"}, {"PATH=/usr/bin"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, kDemoAppLocationFailure);
}

TEST_F(MaintenanceTest, BaseDirectoryBelowARegularFileGivesNoticeThenBlock) {
  writeFile(dir_ / "plain-file", "x");
  std::string value = (dir_ / "plain-file").string();
  auto result = run({"maintenance", "directory"}, {"DEMO_APP_INSTALL_DIR=" + value});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out,
            "[i] Install path is being overridden using `DEMO_APP_INSTALL_DIR`\n"
            "[i] New install path is: " +
                value + "\n");
  EXPECT_EQ(result.err, kDemoAppLocationFailure);
}

TEST_F(MaintenanceTest, DirectoryPrintsTheInstallPathAndCreatesOnlyTheBase) {
  auto result = run({"maintenance", "directory", "extra"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, install().string() + "\n");
  EXPECT_EQ(result.err, "");
  EXPECT_TRUE(fs::is_directory(base()));
  EXPECT_FALSE(fs::exists(install()));
}

TEST_F(MaintenanceTest, OverrideNoticeComesOnceBeforeTheOutput) {
  std::string value = (dir_ / "custom").string();
  auto result = run({"maintenance", "directory"}, {"DEMO_APP_INSTALL_DIR=" + value});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out,
            "[i] Install path is being overridden using `DEMO_APP_INSTALL_DIR`\n"
            "[i] New install path is: " +
                value + "\n" + value + "/.wexlo/demo_app_erts-17.1_0.1.3\n");
}

TEST_F(MaintenanceTest, XdgDataHomeIsUsedOnlyWhenAbsolute) {
  auto result = run({"maintenance", "directory"},
                    {"HOME=" + home_.string(), "XDG_DATA_HOME=" + (dir_ / "xdg").string()});
  EXPECT_EQ(result.out, (dir_ / "xdg/.wexlo/demo_app_erts-17.1_0.1.3").string() + "\n");
  result = run({"maintenance", "directory"}, {"HOME=" + home_.string(), "XDG_DATA_HOME=rel"});
  EXPECT_EQ(result.out, install().string() + "\n");
}

TEST_F(MaintenanceTest, MetaIsTheEmbeddedTextByteForByte) {
  auto result = run({"maintenance", "meta"});
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, metadata_);
  EXPECT_EQ(result.err, "");
}

TEST_F(MaintenanceTest, MissingOrUnknownSubCommands) {
  auto alone = run({"maintenance"});
  EXPECT_EQ(alone.status, 0);
  EXPECT_EQ(alone.err, "[w] No sub-command provided!\n");
  EXPECT_EQ(alone.out, "");
  EXPECT_TRUE(fs::is_directory(base()));
  EXPECT_FALSE(fs::exists(install()));

  for (std::string word : {"frobnicate", "", "Directory", "dir"}) {
    auto result = run({"maintenance", word});
    EXPECT_EQ(result.status, 0) << word;
    EXPECT_EQ(result.out + result.err, "") << word;
  }
}

struct UninstallCase {
  std::string input;
  bool deletes;
};

TEST_F(MaintenanceTest, UninstallAnswers) {
  const std::string warning =
      "[w] This will uninstall the application runtime for this Wexlo binary!\n";
  const std::string prompt = "[?] Please confirm this action [y/n]: ";
  for (auto [input, deletes] : std::vector<UninstallCase>{{"y\n", true},
                                                          {"Yes\n", true},
                                                          {"y", true},
                                                          {"y\r\n", true},
                                                          {"n\n", false},
                                                          {"\n", false},
                                                          {" y\n", false},
                                                          {"no", false}}) {
    fs::create_directories(install() / "lib");
    writeFile(install() / "_metadata.json", metadata_);
    auto result = run({"maintenance", "uninstall"}, {}, input);
    EXPECT_EQ(result.status, 0) << input;
    if (deletes) {
      EXPECT_EQ(result.out, prompt + "[i] Deleting directory: " + install().string() +
                                "\n[i] Uninstall complete!\n[i] Quitting.\n")
          << input;
      EXPECT_EQ(result.err, warning) << input;
      EXPECT_FALSE(fs::exists(install())) << input;
    } else {
      EXPECT_EQ(result.out, prompt + "[i] Quitting.\n") << input;
      EXPECT_EQ(result.err, warning + "[w] Uninstall was aborted!\n") << input;
      EXPECT_TRUE(fs::exists(install() / "_metadata.json")) << input;
    }
  }
}

TEST_F(MaintenanceTest, UninstallWithoutAnAnswerDeletesNothing) {
  fs::create_directories(install());
  for (auto [input, name] : std::vector<std::pair<std::optional<std::string>, std::string>>{
           {std::nullopt, "EndOfStream"}, {"yessssss\n", "StreamTooLong"}}) {
    auto result = run({"maintenance", "uninstall"}, {}, input);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err,
              "[w] This will uninstall the application runtime for this Wexlo binary!\n"
              "[!] Failed to confirm: " +
                  name + "\nerror: " + name + "\n");
    EXPECT_TRUE(fs::exists(install()));
  }
}

TEST_F(MaintenanceTest, UninstallRemovesOnlyThisInstallAndNeverFollowsLinks) {
  fs::create_directories(install() / "lib");
  fs::create_directories(base() / "demo_app_erts-17.1_0.1.2");
  fs::create_directories(dir_ / "outside");
  writeFile(dir_ / "outside/keep.txt", "keep");
  fs::create_directory_symlink(dir_ / "outside", install() / "lib/link");
  auto result = run({"maintenance", "uninstall"}, {}, "y\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_FALSE(fs::exists(install()));
  EXPECT_TRUE(fs::is_directory(base() / "demo_app_erts-17.1_0.1.2"));
  EXPECT_EQ(readFile(dir_ / "outside/keep.txt"), "keep");
}

TEST_F(MaintenanceTest, UninstallOfAnAbsentInstallSucceeds) {
  auto result = run({"maintenance", "uninstall"}, {}, "y\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_NE(result.out.find("[i] Uninstall complete!\n[i] Quitting.\n"), std::string::npos);
  EXPECT_TRUE(fs::is_directory(base()));
}

TEST_F(MaintenanceTest, ClosedStandardOutputFailsMetaWithWriteFailed) {
  auto result = runProcess({"/bin/sh", "-c", "exec \"$0\" maintenance meta >&-", launcher_},
                           {{"HOME=" + home_.string()}, std::nullopt, {}});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "error: WriteFailed\n");
}

}  // namespace
}  // namespace wexlo::testing
