// The Windows launcher under Wine: install, maintenance and cleanup.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <thread>

#include "support/fake_erl_record.h"
#include "support/launcher_kit.h"
#include "support/runtime_arguments.h"
#include "support/synthetic_release.h"
#include "support/windows_launcher_fixture.h"
#include "support/wine_runner.h"

namespace wexlo::testing {
namespace {

TEST_F(WindowsLauncherTest, FirstRunUnpacksTheReleaseAndALaterRunDoesNot) {
  auto first = run({"hello"});
  ASSERT_EQ(first.status, 0) << first.err;
  // The notice before the install and again before the cleanup; nothing else.
  EXPECT_EQ(first.out, notice() + notice());
  EXPECT_EQ(first.err, "");
  expectInstallMatchesRelease();
  EXPECT_EQ(readRecord().args.back(), "hello");

  auto meta = run({"maintenance", "meta"});
  EXPECT_EQ(meta.status, 0);
  EXPECT_EQ(meta.out, notice() + readFile(install() / "_metadata.json"));
  EXPECT_TRUE(readFile(install() / "_metadata.json").starts_with("{\"options\":"));

  writeFile(install() / "lib/.wexlo", "changed by hand");
  fs::remove(install() / "releases/0.1.3/vm.args");
  fs::remove(record());
  auto later = run();
  ASSERT_EQ(later.status, 0) << later.err;
  EXPECT_EQ(later.err, "");
  EXPECT_EQ(readFile(install() / "lib/.wexlo"), "changed by hand");
  EXPECT_FALSE(fs::exists(install() / "releases/0.1.3/vm.args"));
  EXPECT_TRUE(fs::exists(record()));
}

TEST_F(WindowsLauncherTest, MaintenanceCommandsPrintTheirOutputAndNoticeOnce) {
  struct Case {
    std::vector<std::string> args;
    std::string out;  // after the notice
    std::string err;
  };
  const std::vector<Case> cases = {
      {{"maintenance", "directory", "extra"}, winInstall() + "\n", ""},
      {{"maintenance"}, "", "[w] No sub-command provided!\n"},
      {{"maintenance", "frobnicate"}, "", ""},
      {{"maintenance", ""}, "", ""},
      {{"maintenance", "Directory"}, "", ""},
  };
  for (const auto& c : cases) {
    auto result = run(c.args);
    EXPECT_EQ(result.status, 0) << ::testing::PrintToString(c.args);
    EXPECT_EQ(result.out, notice() + c.out) << ::testing::PrintToString(c.args);
    EXPECT_EQ(result.err, c.err) << ::testing::PrintToString(c.args);
  }
  // A maintenance run makes the base directory and nothing below it.
  EXPECT_TRUE(fs::is_directory(root() / ".wexlo"));
  EXPECT_TRUE(fs::is_empty(root() / ".wexlo"));
  EXPECT_FALSE(fs::exists(record()));
}

TEST_F(WindowsLauncherTest, UninstallDeletesOnlyAfterAYesFromStandardInput) {
  const std::string warning =
      "[w] This will uninstall the application runtime for this Wexlo binary!\n";
  const std::string prompt = "[?] Please confirm this action [y/n]: ";
  const std::string deleted =
      "[i] Deleting directory: " + winInstall() + "\n[i] Uninstall complete!\n[i] Quitting.\n";
  struct Case {
    std::optional<std::string> input;  // nothing: standard input at its end
    int status;
    std::string out;  // after the notice and the prompt
    std::string err;  // after the warning
    bool removed;
  };
  const std::vector<Case> cases = {
      {"y\n", 0, deleted, "", true},
      {"Yes\r\n", 0, deleted, "", true},
      {"y", 0, deleted, "", true},
      {"n\n", 0, "[i] Quitting.\n", "[w] Uninstall was aborted!\n", false},
      {"\n", 0, "[i] Quitting.\n", "[w] Uninstall was aborted!\n", false},
      {" y\n", 0, "[i] Quitting.\n", "[w] Uninstall was aborted!\n", false},
      {std::nullopt, 1, "", "[!] Failed to confirm: EndOfStream\nerror: EndOfStream\n", false},
      {"yessssss\n", 1, "", "[!] Failed to confirm: StreamTooLong\nerror: StreamTooLong\n", false},
  };
  makeInstall("demo_app", "0.2.0");
  for (const auto& c : cases) {
    std::string label = ::testing::PrintToString(c.input);
    makeInstall("demo_app", "0.1.3");
    auto result = run({"maintenance", "uninstall"}, {}, c.input);
    EXPECT_EQ(result.status, c.status) << label;
    EXPECT_EQ(result.out, notice() + prompt + c.out) << label;
    EXPECT_EQ(result.err, warning + c.err) << label;
    EXPECT_EQ(fs::exists(install()), !c.removed) << label;
    EXPECT_TRUE(fs::exists(root() / ".wexlo/demo_app_erts-17.1_0.2.0/_metadata.json")) << label;
  }
}

TEST_F(WindowsLauncherTest, UninstallOfAMissingInstallCompletes) {
  auto result = run({"maintenance", "uninstall"}, {}, "y\n");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, notice() +
                            "[?] Please confirm this action [y/n]: [i] Deleting directory: " +
                            winInstall() + "\n[i] Uninstall complete!\n[i] Quitting.\n");
}

TEST_F(WindowsLauncherTest, NoApplicationDataDirectoryGivesTheFailureBlock) {
  // Wine sets APPDATA for every process it starts from Linux, so only a
  // Windows parent can leave it out.
  auto none = start("maintenance directory", {"KEEP=1"});
  EXPECT_EQ(none.exitCode, 1u);
  EXPECT_EQ(none.result.out, "");
  EXPECT_EQ(none.result.err, kDemoAppLocationFailure);

  auto appData = start("maintenance directory", {"APPDATA=" + windowsPath(dir_ / "app data")});
  EXPECT_EQ(appData.exitCode, 0u) << appData.result.err;
  EXPECT_EQ(appData.result.out,
            windowsPath(dir_ / "app data") + "\\.wexlo\\" + kInstallName + "\n");
  EXPECT_TRUE(fs::is_directory(dir_ / "app data/.wexlo"));
}

TEST_F(WindowsLauncherTest, AnOverrideBelowARegularFileGivesTheNoticeThenTheBlock) {
  writeFile(root(), "a file, not a directory");
  auto result = run({"maintenance", "directory"});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, notice());
  EXPECT_EQ(result.err, kDemoAppLocationFailure);
}

TEST_F(WindowsLauncherTest, TheOverrideIsFoundInAnyLetterCaseAndJoinedWithoutDoubleSeparators) {
  const std::string value = windowsPath(root());
  std::string forward = value;
  std::replace(forward.begin(), forward.end(), '\\', '/');
  struct Case {
    std::string entry;      // in the environment block
    std::string shown;      // on the notice's second line
    std::string directory;  // what "maintenance directory" prints
  };
  const std::vector<Case> cases = {
      {"DEMO_APP_INSTALL_DIR=" + value, value, value + "\\.wexlo\\" + kInstallName},
      {"demo_app_Install_dir=" + value + "\\", value + "\\", value + "\\.wexlo\\" + kInstallName},
      {"DEMO_APP_INSTALL_DIR=" + forward + "/", forward + "/",
       forward + "/.wexlo\\" + kInstallName},
      // Printed and used as WTF-8, with no code page in between.
      {"DEMO_APP_INSTALL_DIR=" + windowsPath(dir_ / "\xc3\xbc dir \xe2\x82\xac"),
       windowsPath(dir_ / "\xc3\xbc dir \xe2\x82\xac"),
       windowsPath(dir_ / "\xc3\xbc dir \xe2\x82\xac") + "\\.wexlo\\" + kInstallName},
      // Empty still counts as set: the base directory is relative.
      {"DEMO_APP_INSTALL_DIR=", "", std::string(".wexlo\\") + kInstallName},
  };
  for (const auto& c : cases) {
    auto result =
        start("maintenance directory", {"APPDATA=" + windowsPath(dir_ / "appdata"), c.entry});
    EXPECT_EQ(result.exitCode, 0u) << c.entry << ": " << result.result.err;
    EXPECT_EQ(result.result.out,
              "[i] Install path is being overridden using `DEMO_APP_INSTALL_DIR`\n"
              "[i] New install path is: " +
                  c.shown + "\n" + c.directory + "\n")
        << c.entry;
  }
  EXPECT_TRUE(fs::is_directory(root() / ".wexlo"));
  EXPECT_TRUE(fs::is_directory(dir_ / ".wexlo"))
      << "the empty value's base, in the working directory";
  EXPECT_TRUE(fs::is_directory(dir_ / "\xc3\xbc dir \xe2\x82\xac/.wexlo"));
  EXPECT_FALSE(fs::exists(dir_ / "appdata"));
}

// The launch example: an install directory with a space, user arguments that
// need every quoting rule, and a caller's variable in another letter case.
TEST_F(WindowsLauncherTest, OnlyAnExactFirstArgumentSelectsMaintenance) {
  // A command line that begins with a space has an empty entry 0, so the
  // words after it are entries 1 and 2.
  const std::vector<std::string> env = {"DEMO_APP_INSTALL_DIR=" + windowsPath(root()),
                                        "WEXLO_FAKE_ERL_RECORD=" + windowsPath(record())};
  auto spaced =
      wine().start(launcher(), " maintenance directory", env, {{}, std::nullopt, dir_.path()});
  EXPECT_EQ(spaced.exitCode, 0u);
  EXPECT_EQ(spaced.result.out, notice() + winInstall() + "\n");
  EXPECT_FALSE(fs::exists(record()));

  for (const std::string word : {"Maintenance", "MAINTENANCE", "--maintenance"}) {
    fs::remove(record());
    auto result = start(word + " directory", env);
    EXPECT_EQ(result.exitCode, 0u) << word << ": " << result.result.err;
    auto seen = readRecord();
    ASSERT_EQ(seen.args.size(), 23u) << word;
    EXPECT_EQ(seen.args[21], word);
    EXPECT_EQ(seen.args[22], "directory");
  }

  // No entries at all: a run with no user arguments.
  fs::remove(record());
  auto empty = wine().start(launcher(), "", env, {{}, std::nullopt, dir_.path()});
  EXPECT_EQ(empty.exitCode, 0u) << empty.result.err;
  EXPECT_EQ(readRecord().args.size(), 21u);
}

TEST_F(WindowsLauncherTest, AnOlderInstallIsRemovedWithALogLine) {
  makeInstall("demo_app", "0.1.0");
  makeInstall("demo_app", "0.2.0");
  makeInstall("other_app", "0.0.1");
  auto result = run();
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "[l] Uninstalled older version (v0.1.0)\n");
  EXPECT_FALSE(fs::exists(root() / ".wexlo/demo_app_erts-17.1_0.1.0"));
  EXPECT_TRUE(fs::exists(root() / ".wexlo/demo_app_erts-17.1_0.2.0/lib/a-1/ebin/a.beam"));
  EXPECT_TRUE(fs::exists(root() / ".wexlo/other_app_erts-17.1_0.0.1/_metadata.json"));
}

TEST_F(WindowsLauncherTest, ARunningVersionIsNeitherRemovedByANewerOneNorUninstalled) {
  writeTree(dir_ / "newer", syntheticWindowsRelease("demo_app", "0.1.4", "17.1", 20));
  const fs::path newer =
      packRelease(dir_ / "newer", dir_ / "newer.exe", {"--target", "windows-x86_64"});
  auto runNewer = [&] { return wine().run(newer, {}, {environment(), std::nullopt, dir_.path()}); };

  auto held = std::async(std::launch::async, [&] {
    return run({}, {"WEXLO_FAKE_ERL_WAIT_FOR=" + windowsPath(dir_ / "go")});
  });
  for (int i = 0; i < 6000 && !fs::exists(record()); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(fs::exists(record()));

  auto upgraded = runNewer();
  EXPECT_EQ(upgraded.status, 0) << upgraded.err;
  EXPECT_EQ(upgraded.err, "");
  auto refused = run({"maintenance", "uninstall"}, {}, "y\n");
  EXPECT_EQ(refused.status, 1);
  EXPECT_TRUE(refused.err.ends_with("uninstall again.\nerror: FileBusy\n")) << refused.err;
  EXPECT_TRUE(refused.out.ends_with("[y/n]: ")) << refused.out;
  writeFile(dir_ / "go", "");
  EXPECT_EQ(held.get().status, 0);
  expectInstallMatchesRelease();

  auto later = runNewer();
  EXPECT_EQ(later.err, "[l] Uninstalled older version (v0.1.3)\n");
  EXPECT_FALSE(fs::exists(install()));
}

TEST_F(WindowsLauncherTest, ASecondLauncherDuringTheFirstInstallWaitsAndDoesNotUnpackAgain) {
  // The second launcher starts halfway through the first one's unpacking.
  // Were it to unpack too, it would reach erts-17.1/bin/erl.exe (late in the
  // archive) while the first one's runtime is running from that file, which
  // Windows refuses to overwrite (FileBusy). Packed in raw mode.
  auto files = syntheticWindowsRelease("demo_app", "0.1.3", "17.1", 3000);
  ASSERT_TRUE(files.at(1).path.starts_with("lib/") && files.at(1500).path.starts_with("lib/"));
  auto launcher =
      packFilesForWindows(dir_ / "large.exe", metadataText("demo_app", "0.1.3", "17.1"), files);
  auto go = [&](const std::string& recordName, const std::string& sleep) {
    return wine().run(launcher, {},
                      {{"DEMO_APP_INSTALL_DIR=" + windowsPath(root()),
                        "WEXLO_FAKE_ERL_RECORD=" + windowsPath(dir_ / recordName),
                        "WEXLO_FAKE_ERL_SLEEP_MS=" + sleep},
                       std::nullopt,
                       dir_.path()});
  };
  ProcessResult first;
  std::thread a([&] { first = go("record-a", "3000"); });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!fs::exists(install() / files[1500].path) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const bool midway = !fs::exists(install() / "_metadata.json");
  ProcessResult second = go("record-b", "0");
  a.join();
  ASSERT_TRUE(midway) << "the first launcher finished unpacking before the second started";
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(second.status, 0) << second.err;
  EXPECT_EQ(first.err + second.err, "");
  EXPECT_TRUE(fs::exists(dir_ / "record-a"));
  EXPECT_TRUE(fs::exists(dir_ / "record-b"));
  std::map<std::string, std::string> expected;
  for (const auto& file : files) expected[file.path] = file.content;
  expectInstallHolds(expected);
}

TEST_F(WindowsLauncherTest, ARuntimePathBeyondMaxPathIsRefusedBeforeUnpackingAndNamesTheFix) {
  // A root of `length` characters; erl.exe's path is 54 characters longer.
  auto rootOf = [&](std::size_t length) {
    fs::path root = dir_ / "long";
    while (windowsPath(root).size() < 160) root /= std::string(40, 'r');
    return root / std::string(length - 1 - windowsPath(root).size(), 'x');
  };
  const fs::path fits = rootOf(205);
  auto started =
      wine().run(launcher(), {"fits"},
                 {environment({"DEMO_APP_INSTALL_DIR=" + windowsPath(fits)}), std::nullopt, {}});
  EXPECT_EQ(started.status, 0) << started.err;
  EXPECT_EQ(readRecord().args.back(), "fits");

  const fs::path tooLong = rootOf(206);
  auto env = environment({"DEMO_APP_INSTALL_DIR=" + windowsPath(tooLong)});
  for (int i = 0; i < 2; ++i) {
    auto refused = wine().run(launcher(), {}, {env, std::nullopt, dir_.path()});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err,
              "error: the runtime's path in this install is 260 characters long, and programs can "
              "only be started by paths of at most 259; set DEMO_APP_INSTALL_DIR to a shorter "
              "directory\n");
    EXPECT_TRUE(fs::is_empty(tooLong / ".wexlo"));
  }
}

// A 16x16 icon of one 32-bit bitmap, as icon editors write it.
std::string iconFile() {
  std::string bytes("\0\0\1\0\1\0\x10\x10\0\0\1\0\x20\0", 14);
  const std::uint32_t imageSize = 40 + 16 * 16 * 4 + 16 * 4;
  for (std::uint32_t value : {imageSize, 22u}) {
    for (int i = 0; i < 4; ++i) bytes += static_cast<char>(value >> (8 * i));
  }
  std::string header(40, '\0');
  header[0] = 40, header[4] = 16, header[8] = 32, header[12] = 1, header[14] = 32;
  return bytes + header + std::string(16 * 16 * 4, '\x7f') + std::string(16 * 4, '\0');
}

TEST_F(WindowsLauncherTest, WindowsReadsTheLaunchersVersionIconAndManifest) {
  writeFile(dir_ / "app.ico", iconFile());
  const fs::path withIcon = packRelease(
      shared().release, dir_ / "with icon.exe",
      {"--target", "windows-x86_64", "--icon", (dir_ / "app.ico").string(), "--version-info",
       "CompanyName=Exämple Ltd", "--version-info", "FileDescription=The demo"});
  const fs::path reader = fs::path(WEXLO_TEST_HELPERS_DIR) / "resource_reader.exe";
  const std::vector<std::string> keys = {"ProductName", "FileDescription",  "ProductVersion",
                                         "FileVersion", "OriginalFilename", "CompanyName"};
  const std::string manifest = "manifest= asInvoker supportedOS longPathAware\n";
  struct Case {
    fs::path launcher;
    std::string expected;
  };
  const Case cases[] = {
      {launcher(),
       "ProductName=demo_app\nFileDescription=demo_app\nProductVersion=0.1.3\n"
       "FileVersion=0.1.3\nOriginalFilename=demo_app.exe\nCompanyName missing\n"
       "file version=0.1.3.0\nicons=0\n" +
           manifest},
      {withIcon,
       "ProductName=demo_app\nFileDescription=The demo\nProductVersion=0.1.3\n"
       "FileVersion=0.1.3\nOriginalFilename=with icon.exe\nCompanyName=Exämple Ltd\n"
       "file version=0.1.3.0\nicons=1\n" +
           manifest},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {windowsPath(c.launcher)};
    args.insert(args.end(), keys.begin(), keys.end());
    auto read = wine().run(reader, args, {{}, std::nullopt, dir_.path()});
    EXPECT_EQ(read.status, 0) << read.err;
    EXPECT_EQ(read.out, c.expected) << c.launcher;
  }
  auto inspected = runProcess({packerPath().string(), "inspect", withIcon.string()});
  EXPECT_NE(inspected.out.find("resources: version manifest icon\nfile version: 0.1.3.0\n"),
            std::string::npos)
      << inspected.out;
  EXPECT_NE(inspected.out.find("version string: CompanyName = Exämple Ltd\n"), std::string::npos);
}

TEST_F(WindowsLauncherTest, ResourceOptionsThatCannotWorkAreRefusedWhenPacking) {
  writeFile(dir_ / "not.ico", "GIF89a");
  writeTree(dir_ / "big", syntheticWindowsRelease("demo_app", "1.70000.0", "17.1", 1));
  const struct {
    fs::path release;
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {shared().release,
       {"--target", "windows-x86_64", "--icon", (dir_ / "not.ico").string()},
       "wexlo: error: icon '" + (dir_ / "not.ico").string() +
           "': not an .ico file (no icon directory at its start)\n"},
      {shared().release,
       {"--target", "windows-x86_64", "--version-info", "CompanyName"},
       "wexlo: error: --version-info 'CompanyName' is not KEY=VALUE (for example "
       "CompanyName=\"Example Ltd\")\n"},
      {dir_ / "big",
       {"--target", "windows-x86_64"},
       "wexlo: error: application version '1.70000.0': 70000 is above 65535, the largest part "
       "of a Windows file version\n"},
      {dir_ / "big",
       {"--target", "linux-x86_64", "--version-info", "CompanyName=Example"},
       "wexlo: error: --icon and --version-info apply to windows-x86_64 launchers only, not "
       "linux-x86_64\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {
        packerPath().string(),           "pack",   c.release.string(), "-o",
        (dir_ / "refused.exe").string(), "--quiet"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    auto packed = runProcess(args);
    EXPECT_EQ(packed.status, 1);
    EXPECT_EQ(packed.err, c.err);
    EXPECT_FALSE(fs::exists(dir_ / "refused.exe"));
  }
}

}  // namespace
}  // namespace wexlo::testing
