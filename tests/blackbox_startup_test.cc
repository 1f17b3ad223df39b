// Start-up failures and the look of error lines.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/launcher_kit.h"

namespace wexlo::testing {
namespace {

namespace fs = std::filesystem;

class StartupTest : public ::testing::Test {
 protected:
  ProcessResult run(const fs::path& launcher, std::vector<std::string> args = {},
                    std::vector<std::string> env = {}) {
    args.insert(args.begin(), launcher.string());
    env.push_back("HOME=" + (dir_ / "home").string());
    return runProcess(args, {env, std::nullopt, dir_.path()});
  }
  TempDir dir_;
};

TEST_F(StartupTest, ABareStubSaysItCarriesNoApplication) {
  auto result = run(stubPath(), {"maintenance", "meta"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err,
            "error: this launcher carries no application: it is a bare stub, or it was stripped "
            "after packing\n");
}

TEST_F(StartupTest, ADamagedFooterIsReportedNotTrusted) {
  auto launcher = packFiles(dir_ / "app", metadataText("demo_app", "0.1.3", "17.1"), {});
  std::string bytes = readFile(launcher);
  bytes[bytes.size() - 40] ^= 0x55;  // inside the footer's offsets
  writeFile(launcher, bytes);
  fs::permissions(launcher, fs::perms::owner_all);
  auto result = run(launcher, {"maintenance", "meta"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_NE(result.err.find("error: this launcher's embedded application is damaged"),
            std::string::npos)
      << result.err;
}

TEST_F(StartupTest, EmbeddedMetadataThatDoesNotParseEndsTheRun) {
  std::string metadata = R"({"app_name":"demo_app","extra":1})";
  auto launcher = dir_ / "app";
  std::string archive = makeArchive({});
  packRaw(launcher, metadata, xzCompress(archive), archive.size(), "demo_app");
  auto result = run(launcher, {"maintenance", "meta"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "error: Error when parsing metadata: UnknownField\n");
}

TEST_F(StartupTest, ErrorLinesAreColouredOnlyWhenForcedAndNotDisabled) {
  const std::string plain = "error: EndOfStream\n";
  const std::string coloured = "\x1b[31m\x1b[1merror\x1b[0m\x1b[2m\x1b[1m: \x1b[0mEndOfStream\n";
  auto launcher = packFiles(dir_ / "app", metadataText("demo_app", "0.1.3", "17.1"), {});
  auto errorLine = [&](std::vector<std::string> env) {
    std::string err = run(launcher, {"maintenance", "uninstall"}, env).err;
    const std::string before = "[!] Failed to confirm: EndOfStream\n";
    return err.substr(err.find(before) + before.size());
  };
  EXPECT_EQ(errorLine({}), plain);
  EXPECT_EQ(errorLine({"CLICOLOR_FORCE=1"}), coloured);
  EXPECT_EQ(errorLine({"CLICOLOR_FORCE="}), coloured);
  EXPECT_EQ(errorLine({"CLICOLOR_FORCE=1", "NO_COLOR="}), plain);
  EXPECT_EQ(errorLine({"clicolor_force=1", "no_color=1"}), plain);
  EXPECT_EQ(errorLine({"clicolor_force=1"}), coloured);
}

}  // namespace
}  // namespace wexlo::testing
