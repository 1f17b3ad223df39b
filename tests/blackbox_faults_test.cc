// A packed launcher when things go wrong around it: killed half-way, a full
// disk, many first runs at once, an upgrade or an uninstall while a runtime
// runs, hostile names and planted links. The rule throughout: an install is
// never left broken, a running runtime keeps its files, and nothing is
// written outside the install directory.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <set>
#include <thread>

#include "support/fake_erl_record.h"
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
  // The file size limit stands in for a disk that fills half-way. Its
  // signal, ignored or not, never ends the launcher without a word.
  for (std::string trap : {"trap '' XFSZ; ", ""}) {
    auto limited =
        runProcess({"/bin/sh", "-c", trap + "ulimit -f 16; exec \"$0\"", build.launcher.string()},
                   {environment(), std::nullopt, dir_.path()});
    EXPECT_EQ(limited.status, 1) << trap;
    EXPECT_EQ(limited.err, "error: FileTooBig\n");
    EXPECT_FALSE(fs::exists(install("0.1.3") / "_metadata.json"));
  }

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

TEST_F(FaultTest, AFailedFirstRunLeavesNoInstallUnlessAnotherLauncherWaitsForIt) {
  auto files = syntheticRelease("demo_app", "0.1.3", "17.1", 20);
  const std::string archive = makeArchive(files);
  std::string payload = xzCompress(archive);
  payload[payload.size() / 2] ^= 0x55;
  const Build damaged{files, packRaw(dir_ / "damaged", metadataText("demo_app", "0.1.3", "17.1"),
                                     payload, archive.size())};
  auto failed = run(damaged);
  EXPECT_EQ(failed.status, 1);
  EXPECT_TRUE(failed.err.starts_with("error: ")) << failed.err;
  EXPECT_TRUE(fs::is_empty(dir_ / "root/.wexlo"));

  // A launcher waiting to unpack it holds its run lock: the directory stays.
  fs::create_directories(install("0.1.3"));
  const int fd =
      ::open((install("0.1.3") / ".wexlo-run.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_SH), 0);
  EXPECT_EQ(run(damaged).status, 1);
  EXPECT_TRUE(fs::exists(install("0.1.3") / ".wexlo-install.lock"));
  ::close(fd);

  // A disk too small for the release gets its space back.
  if (runProcess({"/usr/bin/unshare", "-m", "/bin/true"}).status != 0) return;
  const Build build = pack("0.1.3");
  auto full = runProcess({"/usr/bin/unshare", "-m", "/bin/sh", "-c",
                          "mount -t tmpfs -o size=256k tmpfs \"$0\" && \"$1\"; "
                          "echo \"status $?\"; ls -A \"$0/.wexlo\"",
                          (dir_ / "root").string(), build.launcher.string()},
                         {environment(), std::nullopt, dir_.path()});
  EXPECT_EQ(full.err, "error: NoSpaceLeft\n");
  EXPECT_TRUE(full.out.ends_with("\nstatus 1\n")) << full.out;  // and nothing listed
}

TEST_F(FaultTest, ALauncherWaitingToUnpackADirectoryRemovedMeanwhileWaitsForTheNewOne) {
  const Build build = pack("0.1.3");
  auto holdInstallLock = [&] {
    const int fd = ::open((install("0.1.3") / ".wexlo-install.lock").c_str(),
                          O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    EXPECT_EQ(::flock(fd, LOCK_EX), 0);
    return fd;
  };
  fs::create_directories(install("0.1.3"));
  const int removed = holdInstallLock();
  const std::string path = build.launcher.string();
  const std::string overrideDir = environment().front();
  pid_t child = ::fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    char* envp[] = {const_cast<char*>(overrideDir.c_str()), nullptr};
    ::execve(path.c_str(), argv, envp);
    ::_exit(127);
  }
  // Once it waits for the lock, its directory goes and another launcher
  // makes it anew and takes the new lock.
  auto waitsForLock = [&] {
    std::error_code error;
    for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(child) + "/fd", error))
      if (fs::read_symlink(fd.path(), error).filename() == ".wexlo-install.lock") return true;
    return false;
  };
  for (int i = 0; i < 20000 && !waitsForLock(); ++i) ::usleep(500);
  fs::rename(install("0.1.3"), dir_ / "gone");
  fs::create_directories(install("0.1.3"));
  const int current = holdInstallLock();
  ::close(removed);
  std::this_thread::sleep_for(300ms);
  EXPECT_FALSE(fs::exists(install("0.1.3") / "lib")) << "unpacked under another's lock";
  ::close(current);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_EQ(status, 0);
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
    build.files.push_back(
        {"releases/0.1.3/demo_app.rel",
         "{release,{\"demo_app\",\"0.1.3\"},{erts,\"17.1\"},[{elixir,\"1.14.0\"}]}.\n"});
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
  // Links at the lock files' names, to a missing file and to a loop.
  fs::create_symlink(dir_ / "elsewhere/lock", install("0.1.3") / ".wexlo-install.lock");
  fs::create_symlink(".wexlo-run.lock", install("0.1.3") / ".wexlo-run.lock");
  for (int i = 0; i < 2; ++i) {
    auto result = run(build);
    EXPECT_EQ(result.status, 0) << result.err;
    // Planted again once the install is complete.
    fs::remove(install("0.1.3") / ".wexlo-run.lock");
    fs::create_symlink(dir_ / "elsewhere/lock", install("0.1.3") / ".wexlo-run.lock");
  }
  EXPECT_EQ(run(build).status, 0);
  EXPECT_TRUE(fs::is_empty(dir_ / "elsewhere"));
  EXPECT_FALSE(fs::is_symlink(install("0.1.3") / "lib"));
  for (auto lock : {".wexlo-install.lock", ".wexlo-run.lock"}) {
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(install("0.1.3") / lock))) << lock;
  }
  expectCompleteInstall(build, "0.1.3");
}

TEST_F(FaultTest, AnEmptyDirectoryOrAFifoAtTheRunLocksNameHealsAndAFullDirectoryIsRefused) {
  const Build build = pack("0.1.3", 20);
  ASSERT_EQ(run(build).status, 0);
  const fs::path runLock = install("0.1.3") / ".wexlo-run.lock";
  for (bool directory : {true, false}) {
    fs::remove(runLock);
    // A blocking open of the FIFO would wait for a writer for good.
    ASSERT_EQ(directory ? ::mkdir(runLock.c_str(), 0755) : ::mkfifo(runLock.c_str(), 0644), 0);
    auto result = runProcess({"/usr/bin/timeout", "20", build.launcher.string()},
                             {environment(), std::nullopt, dir_.path()});
    EXPECT_EQ(result.status, 0) << directory << ": " << result.err;
  }
  fs::remove(runLock);
  writeFile(runLock / "kept", "");
  auto refused = run(build);
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.err, "error: the install's run lock " + runLock.string() +
                             " is a directory with files in it; remove it, then start again\n");
  EXPECT_TRUE(fs::exists(runLock / "kept"));
}

TEST_F(FaultTest, ClosedStandardStreamsReachTheRuntimeEmptyAndTakeNoFile) {
  const Build build = pack("0.1.3");
  ASSERT_EQ(run(build).status, 0);
  const fs::path runLock = install("0.1.3") / ".wexlo-run.lock";
  const fs::path record = dir_ / "record";
  auto runWith = [&](const std::string& redirection) {
    fs::remove(record);
    writeFile(runLock, "stale\n");
    return runProcess(
        {"/bin/sh", "-c", "exec \"$0\" Ada " + redirection, build.launcher.string()},
        {environment({"WEXLO_FAKE_ERL_RECORD=" + record.string(), "WEXLO_FAKE_ERL_READ_STDIN=1",
                      "WEXLO_FAKE_ERL_STDOUT=Hello", "WEXLO_FAKE_ERL_STDERR=oops"}),
         std::nullopt, dir_.path()});
  };
  for (std::string redirection : {">&-", "2>&-", "<&-", "<&- >&- 2>&-"}) {
    auto result = runWith(redirection);
    EXPECT_EQ(result.status, 0) << redirection << ": " << result.err;
    // The runtime read an empty input and wrote nowhere.
    auto seen = readFakeErlRecord(record);
    ASSERT_TRUE(seen) << redirection << ": " << seen.error();
    EXPECT_EQ(seen->standardInput, "") << redirection;
    EXPECT_EQ(seen->args.back(), "Ada");
    EXPECT_EQ(readFile(runLock), "stale\n") << redirection;
  }
  // The open streams are the runtime's as before.
  auto open = runWith("");
  EXPECT_TRUE(open.out.ends_with("Hello")) << open.out;
  EXPECT_EQ(open.err, "oops");
}

TEST_F(FaultTest, AReadOnlyOrAnotherUsersInstallRuns) {
  const Build build = pack("0.1.3");
  ASSERT_EQ(run(build).status, 0);
  // An older version beside it, which this user may not remove.
  ASSERT_EQ(run(pack("0.1.2", 20)).status, 0);
  const fs::path runLock = install("0.1.3") / ".wexlo-run.lock";
  // Everything on the way must be reachable by another user.
  for (fs::path p = dir_.path(); p != p.root_path(); p = p.parent_path()) {
    fs::permissions(p, fs::perms::others_exec | fs::perms::others_read, fs::perm_options::add);
  }
  fs::create_directory(dir_ / "records");
  fs::permissions(dir_ / "records", fs::perms::all);
  const fs::path record = dir_ / "records/record";
  auto runAs = [&](std::vector<std::string> prefix) {
    fs::remove(record);
    prefix.push_back(build.launcher.string());
    prefix.push_back("ro");
    return runProcess(prefix, {environment({"WEXLO_FAKE_ERL_RECORD=" + record.string()}),
                               std::nullopt, dir_.path()});
  };
  auto expectRan = [&](const ProcessResult& result, const std::string& how) {
    EXPECT_EQ(result.status, 0) << how << ": " << result.err;
    EXPECT_EQ(result.err, "") << how;
    auto seen = readFakeErlRecord(record);
    ASSERT_TRUE(seen) << how << ": " << seen.error();
    EXPECT_EQ(seen->args.back(), "ro");
  };
  // Another user: root bypasses permissions, so an unprivileged one runs it.
  std::vector<std::string> otherUser;
  if (::geteuid() == 0) {
    otherUser = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
  }
  fs::permissions(dir_ / "root", fs::perms::others_write | fs::perms::group_write,
                  fs::perm_options::remove);
  ASSERT_EQ(runProcess({"/bin/chmod", "-R", "a-w", (dir_ / "root").string()}).status, 0);
  expectRan(runAs(otherUser), "with its run lock");
  // Its runtime holds the run lock, so that no cleanup removes the install
  // under it.
  const fs::path go = dir_ / "records/go";
  fs::remove(record);
  auto held = std::async(std::launch::async, [&] {
    auto command = otherUser;
    command.push_back(build.launcher.string());
    return runProcess(command, {environment({"WEXLO_FAKE_ERL_RECORD=" + record.string(),
                                             "WEXLO_FAKE_ERL_WAIT_FOR=" + go.string()}),
                                std::nullopt, dir_.path()});
  });
  for (int i = 0; i < 3000 && !fs::exists(record); ++i) std::this_thread::sleep_for(10ms);
  const int probe = ::open(runLock.c_str(), O_RDONLY | O_CLOEXEC);
  EXPECT_EQ(::flock(probe, LOCK_EX | LOCK_NB), -1) << "the run lock is not held";
  ::close(probe);
  writeFile(go, "");
  EXPECT_EQ(held.get().status, 0);
  fs::permissions(install("0.1.3"), fs::perms::owner_write, fs::perm_options::add);
  fs::remove(runLock);
  fs::permissions(install("0.1.3"), fs::perms::owner_write, fs::perm_options::remove);
  expectRan(runAs(otherUser), "without its run lock");
  EXPECT_FALSE(fs::exists(runLock));
  EXPECT_TRUE(fs::exists(install("0.1.2") / "_metadata.json"));

  // A read-only file system, where the machine lets a test mount one.
  ASSERT_EQ(runProcess({"/bin/chmod", "-R", "u+w", (dir_ / "root").string()}).status, 0);
  const std::string root = (dir_ / "root").string();
  if (runProcess({"/usr/bin/unshare", "-m", "/bin/true"}).status != 0) return;
  for (bool withLock : {true, false}) {
    if (withLock) writeFile(runLock, "");
    auto result = runAs({"/usr/bin/unshare", "-m", "/bin/sh", "-c",
                         "mount --bind \"$0\" \"$0\" && mount -o remount,ro,bind \"$0\" && "
                         "exec \"$@\"",
                         root});
    expectRan(result, withLock ? "read-only, with its run lock" : "read-only, without it");
    fs::remove(runLock);
  }
  EXPECT_TRUE(fs::exists(install("0.1.2") / "_metadata.json"));
}

TEST_F(FaultTest, AnInstallBeingUnpackedIsNotReportedAsBroken) {
  const Build build = pack("0.1.3");
  const fs::path other = dir_ / "root/.wexlo/other_erts-17.1_1.0.0";
  writeFile(other / "lib/half", "");
  // Another launcher unpacking it holds its install lock.
  const int fd = ::open((other / ".wexlo-install.lock").c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  auto during = run(build);
  EXPECT_EQ(during.status, 0);
  EXPECT_EQ(during.err, "");
  ::close(fd);
  auto after = run(build);
  EXPECT_EQ(after.err, "error: Failed to load the metadata file: " +
                           (other / "_metadata.json").string() + "\n");
}

TEST_F(FaultTest, ConfigurationCopiesOfOtherAppsAndOtherUsersStay) {
  Build build{syntheticRelease("rc", "1.0.0", "17.1", 20), {}};
  for (auto& file : build.files) {
    if (file.path.ends_with("sys.config")) file.content = "%% RUNTIME_CONFIG=true\n[].";
  }
  build.launcher = packFiles(dir_ / "rc", metadataText("rc", "1.0.0", "17.1"), build.files);
  const fs::path tmp = dir_ / "shared-tmp";
  const std::string old = "-1600000000-0123456789abcdef.runtime.config";
  for (std::string name : {"rc-app-1.0.0", "rc-0.9.0", "rc-1.0.0"})
    writeFile(tmp / (name + old), "");
  // Another user's copy, where the test may give one away.
  const bool othersCopy = ::chown((tmp / ("rc-1.0.0" + old)).c_str(), 65534, 65534) == 0;
  auto result =
      runProcess({build.launcher.string()},
                 {{"RC_INSTALL_DIR=" + (dir_ / "root").string(), "RELEASE_TMP=" + tmp.string()},
                  std::nullopt,
                  dir_.path()});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_TRUE(fs::exists(tmp / ("rc-app-1.0.0" + old)));
  EXPECT_FALSE(fs::exists(tmp / ("rc-0.9.0" + old)));
  EXPECT_EQ(fs::exists(tmp / ("rc-1.0.0" + old)), othersCopy);
}

TEST_F(FaultTest, DirectoriesAreWritableByTheOwnerAloneWhateverTheUmask) {
  const Build build = pack("0.1.3", 20);
  auto result = runProcess({"/bin/sh", "-c", "umask 000; exec \"$0\"", build.launcher.string()},
                           {environment(), std::nullopt, dir_.path()});
  ASSERT_EQ(result.status, 0) << result.err;
  std::size_t directories = 0;
  for (const auto& entry : fs::recursive_directory_iterator(dir_ / "root")) {
    const auto perms = fs::symlink_status(entry.path()).permissions();
    if (entry.is_directory()) {
      ++directories;
      EXPECT_EQ(perms, static_cast<fs::perms>(0755)) << entry.path();
    }
  }
  EXPECT_GT(directories, 5u);
  EXPECT_EQ(fs::status(install("0.1.3") / "erts-17.1/bin/erl").permissions(),
            static_cast<fs::perms>(0755));
  EXPECT_EQ(fs::status(install("0.1.3") / "releases/COOKIE").permissions(),
            static_cast<fs::perms>(0644));
}

TEST_F(FaultTest, AnotherInstallsOversizedRecordIsUnusableAndQuicklyPassedBy) {
  const Build build = pack("0.1.3", 20);
  const fs::path huge = dir_ / "root/.wexlo/huge_erts-17.1_1.0.0/_metadata.json";
  writeFile(huge, std::string(14 << 20, ' '));
  auto result = run(build);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err,
            "error: Error when parsing metadata: StreamTooLong\nerror: Failed to parse "
            "metadata file: " +
                huge.string() + "\n");
}

}  // namespace
}  // namespace wexlo::testing
