#include <gtest/gtest.h>

#include "install/location.h"
#include "support/fake_console.h"
#include "support/fake_file_system.h"

namespace wexlo {
namespace {

using testing::FakeConsole;
using testing::FakeFileSystem;

class FixedRootProcess : public Process {
 public:
  std::optional<std::string> root;
  Result<std::vector<std::string>> arguments() override { return std::vector<std::string>{}; }
  Result<Environment> environment() override { return Environment(); }
  std::optional<std::string> defaultInstallRoot() override { return root; }
  Result<std::string> selfExecutablePath() override { return std::string("/x"); }
  Result<int> handOver(const std::string&, const std::vector<std::string>&,
                       const Environment&) override {
    return 0;
  }
};

TEST(OverrideVariableName, UpperCasesOnlyAsciiLetters) {
  EXPECT_EQ(overrideVariableName("demo_app"), "DEMO_APP_INSTALL_DIR");
  EXPECT_EQ(overrideVariableName("my-app2"), "MY-APP2_INSTALL_DIR");
  EXPECT_EQ(overrideVariableName("\xc3\xa9t\xc3\xa9"), "\xc3\xa9T\xc3\xa9_INSTALL_DIR");
}

TEST(InstallDirectoryName, ConcatenatesWithoutTouchingThePieces) {
  EXPECT_EQ(installDirectoryName("demo_app", "17.1", "0.1.3"), "demo_app_erts-17.1_0.1.3");
  EXPECT_EQ(installDirectoryName("a/b", "", "x y"), "a/b_erts-_x y");
}

TEST(ResolveBaseDirectory, OverrideIsAnnouncedAndWins) {
  FakeConsole console;
  FixedRootProcess process;
  process.root = "/home/u/.local/share";
  auto environment =
      Environment::fromEntries({{"DEMO_APP_INSTALL_DIR", "/apps/"}}, exactNameEquals);
  auto base = resolveBaseDirectory(console, environment, process, "demo_app");
  ASSERT_TRUE(base);
  EXPECT_EQ(*base, "/apps/.wexlo");
  EXPECT_EQ(console.out,
            "[i] Install path is being overridden using `DEMO_APP_INSTALL_DIR`\n"
            "[i] New install path is: /apps/\n");
}

TEST(ResolveBaseDirectory, EmptyOverrideCountsAsSet) {
  FakeConsole console;
  FixedRootProcess process;
  auto environment = Environment::fromEntries({{"DEMO_APP_INSTALL_DIR", ""}}, exactNameEquals);
  auto base = resolveBaseDirectory(console, environment, process, "demo_app");
  EXPECT_EQ(base.value(), ".wexlo");
  EXPECT_TRUE(console.out.ends_with("[i] New install path is: \n"));
}

TEST(ResolveBaseDirectory, DefaultRootOrNothing) {
  FakeConsole console;
  FixedRootProcess process;
  Environment environment;
  process.root = "/data";
  EXPECT_EQ(resolveBaseDirectory(console, environment, process, "demo_app").value(),
            "/data/.wexlo");
  process.root.reset();
  EXPECT_EQ(resolveBaseDirectory(console, environment, process, "demo_app").error(),
            Failure::AppDataDirUnavailable);
  EXPECT_EQ(console.out, "");
}

TEST(ResolveInstallDirectory, CreatesTheBaseButNotTheInstall) {
  FakeFileSystem fs;
  auto install = resolveInstallDirectory(fs, "/r/.wexlo", "demo_app_erts-17.1_0.1.3");
  EXPECT_EQ(install.value(), "/r/.wexlo/demo_app_erts-17.1_0.1.3");
  EXPECT_TRUE(fs.isDirectory("/r/.wexlo"));
  EXPECT_FALSE(fs.exists("/r/.wexlo/demo_app_erts-17.1_0.1.3"));

  fs.addFile("/f", "x");
  EXPECT_FALSE(resolveInstallDirectory(fs, "/f/.wexlo", "x"));
}

TEST(ReportInstallLocationFailure, FiveLinesOnStandardError) {
  FakeConsole console;
  reportInstallLocationFailure(console, "my-app2");
  EXPECT_EQ(console.out, "");
  EXPECT_EQ(console.err,
            "[!] We could not install this application to the default directory.\n"
            "[!] This may be due to a permission error.\n"
            "[!] Please override the default my-app2 install directory using the "
            "`MY-APP2_INSTALL_DIR` environment variable.\n"
            "[!] On Linux or MacOS you can run the command: `export "
            "MY-APP2_INSTALL_DIR=/some/other/path`\n"
            "[!] On Windows you can use: `SET MY-APP2_INSTALL_DIR=D:\\some\\other\\path`\n");
}

TEST(RuntimePathTooLong, CountsUtf16UnitsAgainstTheLimitAndNamesTheOverride) {
  EXPECT_EQ(runtimePathTooLong("C:\\a\\erl.exe", "demo_app", 12), std::nullopt);
  EXPECT_EQ(runtimePathTooLong("C:\\a\\erl.exe", "demo_app", 11),
            "the runtime's path in this install is 12 characters long, and programs can only be "
            "started by paths of at most 11; set DEMO_APP_INSTALL_DIR to a shorter directory");
  // Two bytes, one unit each; four bytes, two units.
  EXPECT_EQ(runtimePathTooLong("\xc3\xa9\xc3\xa9", "a", 2), std::nullopt);
  EXPECT_NE(runtimePathTooLong("\xf0\x9f\x98\x80", "a", 1), std::nullopt);
  EXPECT_EQ(runtimePathTooLong(std::string(100000, 'x'), "a", std::nullopt), std::nullopt);
}

}  // namespace
}  // namespace wexlo
