// A packed launcher when things go wrong around it: killed half-way, a full
// disk, many first runs at once, an upgrade or an uninstall while a runtime
// runs, hostile names and planted links. The rule throughout: an install is
// never left broken, a running runtime keeps its files, and nothing is
// written outside the install directory.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <set>
#include <thread>

#include "support/launcher_kit.h"
#include "support/synthetic_release.h"

namespace wexlo::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class FaultTest : public ::testing::Test {
 protected:
  struct Build {
    std::vector<ArchiveFile> files;
    fs::path launcher;
  };

  Build pack(const std::string& version, int libraryFiles = 300) {
    Build build{syntheticRelease("demo_app", version, "17.1", libraryFiles), {}};
    build.launcher = packFiles(dir_ / ("demo_app-" + version),
                               metadataText("demo_app", version, "17.1"), build.files);
    return build;
  }

  fs::path install(const std::string& version) const {
    return dir_ / "root/.wexlo" / ("demo_app_erts-17.1_" + version);
  }

  std::vector<std::string> environment(std::vector<std::string> extra = {}) const {
    std::vector<std::string> env = {"DEMO_APP_INSTALL_DIR=" + (dir_ / "root").string()};
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
  }

  ProcessResult run(const Build& build, std::vector<std::string> args = {},
                    std::vector<std::string> extraEnv = {},
                    std::optional<std::string> input = std::nullopt) const {
    args.insert(args.begin(), build.launcher.string());
    return runProcess(args, {environment(std::move(extraEnv)), input, dir_.path()});
  }

  // A run whose runtime stays alive until `release()`; returns once the
  // runtime has started.
  std::future<ProcessResult> startHeld(const Build& build, const std::string& name) const {
    const fs::path started = dir_ / (name + ".started");
    auto result = std::async(std::launch::async, [=, this] {
      return run(build, {},
                 {"WEXLO_FAKE_ERL_RECORD=" + started.string(),
                  "WEXLO_FAKE_ERL_WAIT_FOR=" + (dir_ / "go").string()});
    });
    for (int i = 0; i < 3000 && !fs::exists(started); ++i) std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(fs::exists(started)) << "the held runtime never started";
    return result;
  }
  void release() const { writeFile(dir_ / "go", ""); }

  // The install holds the release exactly, its marker, and nothing else but
  // the two lock files.
  void expectCompleteInstall(const Build& build, const std::string& version) const {
    std::set<std::string> expected = {"_metadata.json", ".wexlo-install.lock", ".wexlo-run.lock"};
    for (const auto& file : build.files) {
      expected.insert(file.path);
      EXPECT_EQ(readFile(install(version) / file.path), file.content) << file.path;
    }
    std::set<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(install(version))) {
      if (!entry.is_directory()) found.insert(fs::relative(entry.path(), install(version)));
    }
    EXPECT_EQ(found, expected);
    EXPECT_EQ(readFile(install(version) / "_metadata.json"),
              metadataText("demo_app", version, "17.1"));
  }

  TempDir dir_;
};

TEST_F(FaultTest, AFirstRunKilledAnywhereIsCompletedByTheNextRun) {
  const Build build = pack("0.1.3", 3000);
  for (auto delay : {0ms, 5ms, 20ms, 60ms, 150ms}) {
    fs::remove_all(dir_ / "root");
    pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
      std::vector<std::string> env = environment();
      std::vector<char*> envp;
      for (auto& entry : env) envp.push_back(entry.data());
      envp.push_back(nullptr);
      std::string path = build.launcher.string();
      char* argv[] = {path.data(), nullptr};
      ::execve(path.c_str(), argv, envp.data());
      ::_exit(127);
    }
    std::this_thread::sleep_for(delay);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    auto result = run(build);
    ASSERT_EQ(result.status, 0) << delay.count() << "ms: " << result.err;
    expectCompleteInstall(build, "0.1.3");
  }
}

TEST_F(FaultTest, AFullDiskOrAFailedMarkerWriteLeavesNoMarkerAndARunWithSpaceCompletes) {
  const Build build = pack("0.1.3");
  // The file size limit stands in for a disk that fills half-way.
  auto limited = runProcess(
      {"/bin/sh", "-c", "trap '' XFSZ; ulimit -f 16; exec \"$0\"", build.launcher.string()},
      {environment(), std::nullopt, dir_.path()});
  EXPECT_EQ(limited.status, 1);
  EXPECT_EQ(limited.err, "error: FileTooBig\n");
  EXPECT_FALSE(fs::exists(install("0.1.3") / "_metadata.json"));

  // Something in the way of the marker's temporary file.
  fs::create_directories(install("0.1.3") / "_metadata.json.partial");
  auto blocked = run(build);
  EXPECT_EQ(blocked.status, 1);
  EXPECT_EQ(blocked.err, "error: IsDir\n");
  EXPECT_FALSE(fs::exists(install("0.1.3") / "_metadata.json"));

  fs::remove(install("0.1.3") / "_metadata.json.partial");
  ASSERT_EQ(run(build).status, 0);
  expectCompleteInstall(build, "0.1.3");
}

TEST_F(FaultTest, EightFirstRunsAtOnceAllStartOnOneCompleteInstall) {
  const Build build = pack("0.1.3", 1000);
  std::vector<std::future<ProcessResult>> runs;
  for (int i = 0; i < 8; ++i) {
    runs.push_back(std::async(std::launch::async, [&] { return run(build); }));
  }
  for (auto& result : runs) {
    auto finished = result.get();
    EXPECT_EQ(finished.status, 0) << finished.err;
  }
  expectCompleteInstall(build, "0.1.3");
}

TEST_F(FaultTest, AnUpgradeLeavesARunningOlderVersionAloneUntilItEnds) {
  const Build older = pack("0.1.2");
  const Build newer = pack("0.1.3");
  auto held = startHeld(older, "older");
  auto upgraded = run(newer);
  EXPECT_EQ(upgraded.status, 0) << upgraded.err;
  EXPECT_EQ(upgraded.err, "");
  expectCompleteInstall(older, "0.1.2");

  release();
  EXPECT_EQ(held.get().status, 0);
  auto later = run(newer);
  EXPECT_EQ(later.err, "[l] Uninstalled older version (v0.1.2)\n");
  EXPECT_FALSE(fs::exists(install("0.1.2")));
  // Nothing is left beside the installs.
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(dir_ / "root/.wexlo")) {
    left.push_back(entry.path().filename());
  }
  EXPECT_EQ(left, std::vector<std::string>{"demo_app_erts-17.1_0.1.3"});
}

TEST_F(FaultTest, ARebuildOfTheSameVersionReplacesTheInstallUnlessTheOtherBuildRuns) {
  // Packed from release directories, so each record carries its payload's digest.
  auto packBuild = [&](const std::string& name, const std::string& content) {
    Build build{syntheticRelease("demo_app", "0.1.3", "17.1", 50), {}};
    build.files.push_back({"releases/0.1.3/demo_app.rel",
                           "{release,{\"demo_app\",\"0.1.3\"},{erts,\"17.1\"},[]}.\n"});
    build.files.push_back({"lib/demo_app-0.1.3/priv/build.txt", content});
    writeTree(dir_ / name, build.files);
    build.launcher = packRelease(dir_ / name, dir_ / (name + "-launcher"));
    return build;
  };
  const Build first = packBuild("first", "one");
  const Build second = packBuild("second", "two");
  const fs::path built = install("0.1.3") / "lib/demo_app-0.1.3/priv/build.txt";
  auto held = startHeld(first, "first");
  auto refused = run(second);
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err,
            "error: a different build of demo_app 0.1.3 is running; close it, then start this one "
            "again\n");
  EXPECT_EQ(readFile(built), "one");
  release();
  EXPECT_EQ(held.get().status, 0);

  for (const Build* build : {&second, &first}) {
    auto result = run(*build);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(readFile(built), build == &second ? "two" : "one");
    auto meta = run(*build, {"maintenance", "meta"});
    EXPECT_TRUE(meta.out.ends_with(readFile(install("0.1.3") / "_metadata.json")));
  }
}

TEST_F(FaultTest, UninstallRefusesARunningInstallAndNeverLeavesAHalfInstall) {
  const Build build = pack("0.1.3", 3000);
  auto held = startHeld(build, "first");
  auto refused = run(build, {"maintenance", "uninstall"}, {}, "y\n");
  EXPECT_EQ(refused.status, 1);
  EXPECT_TRUE(refused.err.ends_with(
      "[!] The application is running from this install; close it, then uninstall again.\n"
      "error: FileBusy\n"))
      << refused.err;
  // Refused before anything is said to be deleted.
  EXPECT_TRUE(refused.out.ends_with("[?] Please confirm this action [y/n]: ")) << refused.out;
  release();
  EXPECT_EQ(held.get().status, 0);
  expectCompleteInstall(build, "0.1.3");

  // Started while a first run unpacks: the uninstall waits for it, so the
  // install ends up whole (its runtime ran) or gone, never half there.
  fs::remove_all(dir_ / "root");
  auto first = std::async(std::launch::async, [&] { return run(build); });
  std::this_thread::sleep_for(20ms);
  auto uninstall = run(build, {"maintenance", "uninstall"}, {}, "y\n");
  EXPECT_EQ(first.get().status, 0);
  if (fs::exists(install("0.1.3") / "_metadata.json")) {
    expectCompleteInstall(build, "0.1.3");
  } else {
    EXPECT_FALSE(fs::exists(install("0.1.3"))) << uninstall.err;
  }
}

TEST_F(FaultTest, NamesThatAreNotOnePathComponentAreRefusedBeforeAnythingIsCreated) {
  const std::string archive = makeArchive({{"x", "y"}});
  struct Case {
    std::string app, version, erts, builtIn, expected;
  };
  for (const auto& c : std::vector<Case>{
           {"demo_app", "0.1.3/../../../precious", "17.1", "demo_app",
            "error: this launcher's app_version \"0.1.3/../../../precious\" is not usable as a "
            "directory name\n"},
           {"demo_app", "0.1.3", "..", "demo_app",
            "error: this launcher's erts_version \"..\" is not usable as a directory name\n"},
           {"a/b", "0.1.3", "17.1", "a/b",
            "error: this launcher's app_name \"a/b\" is not usable as a directory name\n"},
           {"demo_app", "0.1.3", "17.1", "",
            "error: this launcher's application name \"\" is not usable as a directory name\n"},
       }) {
    Build build{{},
                assembleLauncher(dir_ / "hostile", metadataText(c.app, c.version, c.erts),
                                 xzCompress(archive), archive.size(), c.builtIn)};
    for (std::vector<std::string> args :
         {std::vector<std::string>{}, std::vector<std::string>{"maintenance", "uninstall"}}) {
      auto result = run(build, args, {"DEMO_APP_INSTALL_DIR=" + (dir_ / "root").string()}, "y\n");
      EXPECT_EQ(result.status, 1) << c.expected;
      EXPECT_EQ(result.err, c.expected);
      EXPECT_FALSE(fs::exists(dir_ / "root")) << c.expected;
    }
  }
}

TEST_F(FaultTest, LinksPlantedInAnInstallAreReplacedAndNothingIsWrittenThroughThem) {
  const Build build = pack("0.1.3");
  fs::create_directories(install("0.1.3"));
  fs::create_directories(dir_ / "elsewhere");
  fs::create_directory_symlink(dir_ / "elsewhere", install("0.1.3") / "lib");
  fs::create_directories(install("0.1.3") / "bin");
  fs::create_symlink(dir_ / "elsewhere/loop", install("0.1.3") / "bin/demo_app");
  for (int i = 0; i < 2; ++i) {
    auto result = run(build);
    EXPECT_EQ(result.status, 0) << result.err;
  }
  EXPECT_TRUE(fs::is_empty(dir_ / "elsewhere"));
  EXPECT_FALSE(fs::is_symlink(install("0.1.3") / "lib"));
  expectCompleteInstall(build, "0.1.3");
}

}  // namespace
}  // namespace wexlo::testing
