// The Windows launcher as a user meets it, run under Wine: packed by the
// packer with --target windows-x86_64, started either by Wine from a Linux
// argument vector or by wine_starter.exe with an exact command line and
// environment block, against the Windows build of the fake runtime.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <thread>

#include "support/fake_erl_record.h"
#include "support/launcher_kit.h"
#include "support/runtime_arguments.h"
#include "support/synthetic_release.h"
#include "support/wine_runner.h"

namespace wexlo::testing {
namespace {

namespace fs = std::filesystem;

#ifdef WEXLO_WINDOWS_STUB_PATH
constexpr bool kHaveWindowsStub = true;
constexpr char kWinePrefix[] = WEXLO_WINE_PREFIX;
#else
constexpr bool kHaveWindowsStub = false;
constexpr char kWinePrefix[] = "";
#endif

constexpr char kInstallName[] = "demo_app_erts-17.1_0.1.3";

fs::path winePrefix() {
  const char* configured = std::getenv("WINEPREFIX");
  return configured != nullptr && *configured != '\0' ? fs::path(configured)
                                                      : fs::path(kWinePrefix);
}

// What every test program packs once and shares between its tests.
struct Shared {
  TempDir dir;
  std::unique_ptr<Wine> wine;
  fs::path release;   // the synthetic release on disk
  fs::path launcher;  // packed from it
};

Shared& shared() {
  static Shared state;
  static const bool prepared = [] {
    // Creating the prefix prints; do it before any output is compared.
    const char* path = std::getenv("PATH");
    auto made = runProcess({"/bin/sh", std::string(WEXLO_SOURCE_DIR) + "/scripts/wine-prefix.sh"},
                           {{"WINEPREFIX=" + winePrefix().string(),
                             "PATH=" + std::string(path ? path : "/usr/bin:/bin")},
                            std::nullopt,
                            {}});
    EXPECT_EQ(made.status, 0) << made.err;
    state.wine = std::make_unique<Wine>(winePrefix());
    state.release = state.dir / "release";
    writeTree(state.release, syntheticWindowsRelease("demo_app", "0.1.3", "17.1", 60));
    state.launcher =
        packRelease(state.release, state.dir / "demo_app.exe", {"--target", "windows-x86_64"});
    return made.status == 0;
  }();
  EXPECT_TRUE(prepared) << "the Wine prefix could not be prepared";
  return state;
}

class WindowsLauncherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!kHaveWindowsStub) {
      GTEST_SKIP() << "no Windows stub: configure with -DWEXLO_WINDOWS_STUB=<path of the "
                      "cross-built wexlo-stub-windows-x86_64.exe> to run these tests under Wine";
    }
    ASSERT_TRUE(fs::exists("/usr/bin/wine")) << "Wine is not installed (Debian: wine64)";
    ASSERT_TRUE(fs::exists(shared().launcher));
  }

  const Wine& wine() const { return *shared().wine; }
  const fs::path& launcher() const { return shared().launcher; }

  // The override points here, so nothing lands in the prefix's APPDATA.
  fs::path root() const { return dir_ / "root"; }
  fs::path install() const { return root() / ".wexlo" / kInstallName; }
  std::string winInstall() const { return windowsPath(root()) + "\\.wexlo\\" + kInstallName; }
  fs::path record() const { return dir_ / "record"; }

  std::vector<std::string> environment(std::vector<std::string> extra = {}) const {
    std::vector<std::string> env = {"DEMO_APP_INSTALL_DIR=" + windowsPath(root()),
                                    "WEXLO_FAKE_ERL_RECORD=" + windowsPath(record())};
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
  }

  ProcessResult run(std::vector<std::string> args = {}, std::vector<std::string> extraEnv = {},
                    std::optional<std::string> input = std::nullopt) const {
    return wine().run(launcher(), args, {environment(extraEnv), input, dir_.path()});
  }

  // The launcher started with `launcher arguments` verbatim as its command line.
  ExactRun start(const std::string& arguments, std::vector<std::string> env) const {
    std::string commandLine = "\"" + windowsPath(launcher()) + "\"";
    if (!arguments.empty()) commandLine += " " + arguments;
    return wine().start(launcher(), commandLine, env, {{}, std::nullopt, dir_.path()});
  }

  std::string notice() const {
    return "[i] Install path is being overridden using `DEMO_APP_INSTALL_DIR`\n"
           "[i] New install path is: " +
           windowsPath(root()) + "\n";
  }

  FakeErlRecord readRecord() const {
    auto seen = readFakeErlRecord(record());
    EXPECT_TRUE(seen) << seen.error();
    return seen.value_or(FakeErlRecord{});
  }

  // The install holds exactly `expected` (path to content), besides the
  // marker and the install lock.
  void expectInstallHolds(const std::map<std::string, std::string>& expected) const {
    std::map<std::string, std::string> found = filesBelow(install());
    found.erase("_metadata.json");
    found.erase(".wexlo-install.lock");
    EXPECT_EQ(found.size(), expected.size());
    for (const auto& [path, content] : expected) {
      auto it = found.find(path);
      ASSERT_NE(it, found.end()) << path;
      EXPECT_EQ(it->second, content) << path;
    }
  }

  static std::map<std::string, std::string> filesBelow(const fs::path& directory) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(directory)) {
      if (entry.is_regular_file()) {
        files[fs::relative(entry.path(), directory).string()] = readFile(entry.path());
      }
    }
    return files;
  }

  void expectInstallMatchesRelease() const { expectInstallHolds(filesBelow(shared().release)); }

  // An install of another version made by hand, with a few nested files.
  void makeInstall(const std::string& app, const std::string& version) const {
    fs::path directory = root() / ".wexlo" / (app + "_erts-17.1_" + version);
    writeFile(directory / "lib/a-1/ebin/a.beam", "beam");
    writeFile(directory / "erts-17.1/bin/erl.exe", "exe");
    writeFile(directory / "_metadata.json", metadataText(app, version, "17.1"));
  }

  TempDir dir_;
};

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
TEST_F(WindowsLauncherTest, TheRuntimeGetsAQuotedCommandLineThatSplitsBackIntoTheArguments) {
  struct UserArgument {
    std::string typed;   // on the launcher's command line
    std::string value;   // what the user meant
    std::string quoted;  // on the runtime's command line
  };
  const std::vector<UserArgument> user = {
      {"run", "run", "run"},
      {"\"with space\"", "with space", "\"with space\""},
      {"\"tab\there\"", "tab\there", "\"tab\there\""},
      {"quote\\\"d", "quote\"d", "\"quote\\\"d\""},
      {"back\\slash\\", "back\\slash\\", "back\\slash\\"},
      {"\"trailing \\\\\"", "trailing \\", "\"trailing \\\\\""},
      {"\"\"", "", "\"\""},
      {"two\\\\\\\\\\\"q", "two\\\\\"q", "\"two\\\\\\\\\\\"q\""},
      {"plain\\", "plain\\", "plain\\"},
      {"\"in \"\"doubled\"\" quotes\"", "in \"doubled\" quotes", "\"in \\\"doubled\\\" quotes\""},
      {"\xc3\xa9t\xc3\xa9", "\xc3\xa9t\xc3\xa9", "\xc3\xa9t\xc3\xa9"},
      // A lone surrogate (WTF-8) survives the round trip through the launcher.
      {"\xed\xa0\x80!", "\xed\xa0\x80!", "\xed\xa0\x80!"},
  };
  std::string typed, quoted;
  for (const auto& arg : user) {
    typed += (typed.empty() ? "" : " ") + arg.typed;
    quoted += " " + arg.quoted;
  }

  const fs::path spaced = dir_ / "user name";
  const std::string override = windowsPath(spaced);
  const std::string install = override + "\\.wexlo\\" + kInstallName;
  const std::string release = install + "\\releases\\0.1.3";
  const std::vector<std::string> env = {"WEXLO_FAKE_ERL_RECORD=" + windowsPath(record()),
                                        "DEMO_APP_INSTALL_DIR=" + override,
                                        "release_root=old",
                                        "=Z:=Z:\\tmp",
                                        "KEEP=me",
                                        "LONE=\xed\xb0\x80"};
  auto run = start(typed, env);
  ASSERT_EQ(run.exitCode, 0u) << run.result.err;
  EXPECT_EQ(run.result.err, "");
  auto seen = readRecord();

  auto q = [](const std::string& path) { return "\"" + path + "\""; };
  EXPECT_EQ(seen.commandLine,
            q(install + "\\erts-17.1\\bin\\erl.exe") +
                " -elixir ansi_enabled true -noshell -s elixir start_cli \"-mode embedded\""
                " -setcookie secret-cookie -boot " +
                q(release + "\\start") + " -boot_var RELEASE_LIB " + q(install + "\\lib") +
                " -args_file " + q(release + "\\vm.args") + " -config " +
                q(release + "\\sys.config") + " -extra" + quoted);

  auto expectedArgs = expectedRuntimeArguments(install, "17.1", "0.1.3", "secret-cookie", '\\');
  for (const auto& arg : user) expectedArgs.push_back(arg.value);
  EXPECT_EQ(seen.args, expectedArgs);

  // The caller's block in its order, "release_root" keeping its name and
  // place, then the launcher's own variables.
  std::vector<std::string> expectedEnv = {"WEXLO_FAKE_ERL_RECORD=" + windowsPath(record()),
                                          "DEMO_APP_INSTALL_DIR=" + override,
                                          "release_root=" + install,
                                          "=Z:=Z:\\tmp",
                                          "KEEP=me",
                                          "LONE=\xed\xb0\x80",
                                          "_IS_TTY=0",
                                          "RELEASE_SYS_CONFIG=" + release + "\\sys",
                                          "__WEXLO=1",
                                          "__WEXLO_BIN_PATH=" + windowsPath(launcher())};
  EXPECT_EQ(withoutWineEntries(seen.environment), expectedEnv);
  EXPECT_EQ(seen.workingDirectory, windowsPath(dir_.path()));
}

TEST_F(WindowsLauncherTest, TheRuntimesExitCodeEndsTheLauncherWithItsLowByte) {
  const std::map<std::uint32_t, std::uint32_t> cases = {
      {0, 0}, {3, 3}, {259, 3}, {256, 0}, {258, 2}};
  for (auto [code, expected] : cases) {
    auto result = start("", {"DEMO_APP_INSTALL_DIR=" + windowsPath(root()),
                             "WEXLO_FAKE_ERL_EXIT=" + std::to_string(code)});
    EXPECT_EQ(result.exitCode, expected) << code << ": " << result.result.err;
    EXPECT_EQ(result.result.err, "") << code;
  }
}

TEST_F(WindowsLauncherTest, ARuntimeThatCannotStartEndsTheRunWithItsFailure) {
  ASSERT_EQ(run().status, 0);
  const fs::path erl = install() / "erts-17.1/bin/erl.exe";
  struct Case {
    std::string what;
    std::function<void()> damage;
    std::string failure;
  };
  const std::vector<Case> cases = {
      {"missing", [&] { fs::remove(erl); }, "FileNotFound"},
      {"not a program", [&] { writeFile(erl, "not a program"); }, "InvalidExe"},
      {"a directory", [&] { fs::create_directory(erl); }, "FileNotFound"},
  };
  for (const auto& c : cases) {
    fs::remove_all(erl);
    c.damage();
    auto result = run();
    EXPECT_EQ(result.status, 1) << c.what;
    EXPECT_EQ(result.err, "error: " + c.failure + "\n") << c.what;
  }
}

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

TEST_F(WindowsLauncherTest, OnAConsoleTheRuntimeSeesATerminalAndErrorsAreColoured) {
  ASSERT_TRUE(fs::exists("/usr/bin/script")) << "needs script (Debian: bsdutils)";
  auto first = wine().runInTerminal(launcher(), {}, {environment(), std::nullopt, dir_.path()});
  ASSERT_EQ(first.status, 0) << first.out;
  EXPECT_EQ(readRecord().env("_IS_TTY"), "1");

  fs::remove(install() / "releases/COOKIE");
  auto coloured = wine().runInTerminal(launcher(), {}, {environment(), std::nullopt, dir_.path()});
  EXPECT_EQ(coloured.status, 1);
  EXPECT_NE(coloured.out.find("\x1b[31m\x1b[1merror\x1b[0m\x1b[2m\x1b[1m: \x1b[0mFileNotFound"),
            std::string::npos)
      << coloured.out;

  auto plain =
      wine().runInTerminal(launcher(), {}, {environment({"no_color="}), std::nullopt, dir_.path()});
  EXPECT_EQ(plain.status, 1);
  EXPECT_NE(plain.out.find("error: FileNotFound"), std::string::npos) << plain.out;
  EXPECT_EQ(plain.out.find("\x1b[31m"), std::string::npos) << plain.out;
}

TEST_F(WindowsLauncherTest, ADamagedPayloadReportsTheDecoderResult) {
  // Raw mode: a stream cut short before its end.
  std::string archive = makeArchive({{"bin/demo_app.bat", "@echo off\r\n"}});
  std::string payload = xzCompress(archive);
  payload.resize(payload.size() - 12);
  auto damaged = packRawForWindows(dir_ / "damaged.exe", metadataText("demo_app", "0.1.3", "17.1"),
                                   payload, archive.size());
  auto result = wine().run(damaged, {}, {environment(), std::nullopt, dir_.path()});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, notice());
  EXPECT_EQ(result.err, "error: XZ/LZMA Decode Failed: 7\nerror: ParseError\n");
  EXPECT_FALSE(fs::exists(install() / "_metadata.json"));
}

TEST_F(WindowsLauncherTest, ALauncherSignedAfterPackingStillRuns) {
  ASSERT_TRUE(fs::exists("/usr/bin/openssl")) << "needs openssl (Debian: openssl)";
  ASSERT_TRUE(fs::exists("/usr/bin/osslsigncode")) << "needs osslsigncode (Debian: osslsigncode)";
  const fs::path key = dir_ / "key.pem", certificate = dir_ / "cert.pem";
  auto made = runProcess({"/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                          "-subj", "/CN=Wexlo test signer", "-days", "1", "-keyout", key.string(),
                          "-out", certificate.string()});
  ASSERT_EQ(made.status, 0) << made.err;
  const fs::path signedLauncher = dir_ / "signed.exe";
  auto signing = runProcess({"/usr/bin/osslsigncode", "sign", "-certs", certificate.string(),
                             "-key", key.string(), "-n", "demo_app", "-in", launcher().string(),
                             "-out", signedLauncher.string()});
  ASSERT_EQ(signing.status, 0) << signing.out << signing.err;
  ASSERT_GT(fs::file_size(signedLauncher), fs::file_size(launcher()));

  auto meta = wine().run(signedLauncher, {"maintenance", "meta"},
                         {environment(), std::nullopt, dir_.path()});
  EXPECT_EQ(meta.status, 0) << meta.err;
  auto result = wine().run(signedLauncher, {"signed"}, {environment(), std::nullopt, dir_.path()});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(meta.out, notice() + readFile(install() / "_metadata.json"));
  expectInstallMatchesRelease();
  EXPECT_EQ(readRecord().args.back(), "signed");
}

}  // namespace
}  // namespace wexlo::testing
