// The fixture of the Windows launcher's black-box tests, run under Wine:
// each test program packs a synthetic release once with --target
// windows-x86_64 and starts it either by Wine from a Linux argument vector or
// by wine_starter.exe with an exact command line and environment block,
// against the Windows build of the fake runtime.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>

#include "support/fake_erl_record.h"
#include "support/launcher_kit.h"
#include "support/synthetic_release.h"
#include "support/wine_runner.h"

namespace wexlo::testing {

namespace fs = std::filesystem;

#ifdef WEXLO_WINDOWS_STUB_PATH
constexpr bool kHaveWindowsStub = true;
constexpr char kWinePrefix[] = WEXLO_WINE_PREFIX;
#else
constexpr bool kHaveWindowsStub = false;
constexpr char kWinePrefix[] = "";
#endif

constexpr char kInstallName[] = "demo_app_erts-17.1_0.1.3";

inline fs::path winePrefix() {
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

inline Shared& shared() {
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

  // The launcher started with `launcher arguments` verbatim as its command
  // line, without a console when `detached`.
  ExactRun start(const std::string& arguments, std::vector<std::string> env,
                 bool detached = false) const {
    std::string commandLine = "\"" + windowsPath(launcher()) + "\"";
    if (!arguments.empty()) commandLine += " " + arguments;
    return wine().start(launcher(), commandLine, env, {{}, std::nullopt, dir_.path()}, detached);
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
    found.erase(".wexlo-run.lock");
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

}  // namespace wexlo::testing
