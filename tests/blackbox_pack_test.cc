// `wexlo pack` from a release directory on disk, and the first run of what
// it makes: the release must come back exactly.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <sstream>

#include "support/launcher_kit.h"
#include "support/native_images.h"
#include "support/pe_images.h"
#include "support/sanitizer.h"
#include "support/synthetic_release.h"
#include "support/zstd_payloads.h"

namespace wexlo::testing {
namespace {

namespace fs = std::filesystem;

class PackRoundTripTest : public ::testing::Test {
 protected:
  void SetUp() override {
    release_ = dir_ / "release";
    files_ = syntheticRelease("demo_app", "0.1.3", "17.1", 3000);
    for (const auto& file : files_) {
      writeFile(release_ / file.path, file.content);
      if (file.mode & 0100) {
        fs::permissions(release_ / file.path,
                        fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                        fs::perm_options::add);
      }
    }
    writeFile(release_ / "releases/0.1.3/demo_app.rel",
              "{release,{\"demo_app\",\"0.1.3\"},{erts,\"17.1\"},[{elixir,\"1.14.0\"}]}.\n");
    fs::create_directories(release_ / "lib/empty_dir");
  }

  ProcessResult pack(const fs::path& output, std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {packerPath().string(), "pack",   release_.string(),  "-o",
                                     output.string(),       "--stub", stubPath().string()};
    args.insert(args.end(), extra.begin(), extra.end());
    return runProcess(args);
  }

  TempDir dir_;
  fs::path release_;
  std::vector<ArchiveFile> files_;
};

TEST_F(PackRoundTripTest, ALargeReleaseComesBackExactlyOnTheFirstRun) {
  auto packed = pack(dir_ / "demo_app", {"--quiet"});
  ASSERT_EQ(packed.status, 0) << packed.err;
  EXPECT_EQ(packed.out + packed.err, "");
  auto run = runProcess({(dir_ / "demo_app").string()},
                        {{"DEMO_APP_INSTALL_DIR=" + (dir_ / "root").string(),
                          "WEXLO_FAKE_ERL_RECORD=" + (dir_ / "record").string()},
                         std::nullopt,
                         dir_.path()});
  ASSERT_EQ(run.status, 0) << run.err;

  fs::path install = dir_ / "root/.wexlo/demo_app_erts-17.1_0.1.3";
  std::size_t compared = 0;
  for (const auto& entry : fs::recursive_directory_iterator(release_)) {
    if (!entry.is_regular_file()) continue;
    fs::path relative = fs::relative(entry.path(), release_);
    fs::path copy = install / relative;
    ASSERT_TRUE(fs::is_regular_file(copy)) << relative;
    EXPECT_EQ(readFile(copy), readFile(entry.path())) << relative;
    auto exec = [](const fs::path& p) {
      return (fs::status(p).permissions() & fs::perms::owner_exec) != fs::perms::none;
    };
    EXPECT_EQ(exec(copy), exec(entry.path())) << relative;
    ++compared;
  }
  EXPECT_GT(compared, 3000u);
  EXPECT_TRUE(fs::is_regular_file(install / "lib/.wexlo"));
  EXPECT_TRUE(fs::exists(dir_ / "record"));
}

TEST_F(PackRoundTripTest, TheSameReleasePackedTwiceGivesTheSameBytes) {
  ASSERT_EQ(pack(dir_ / "one", {"--quiet", "--threads", "1"}).status, 0);
  // Touching the files changes nothing the launcher carries.
  fs::last_write_time(release_ / "bin/demo_app", fs::file_time_type::clock::now());
  ASSERT_EQ(pack(dir_ / "two", {"--quiet", "--threads", "2"}).status, 0);
  EXPECT_EQ(readFile(dir_ / "one"), readFile(dir_ / "two"));
}

TEST_F(PackRoundTripTest, BadReleasesGetOneClearLineAndNoOutput) {
  // What users point the packer at by mistake, and what they are told to do.
  struct Case {
    const char* name;
    fs::path directory;
    std::string advice;
  };
  writeFile(dir_ / "project/mix.exs", "defmodule P do\n  def project, do: [app: :shop]\nend\n");
  fs::create_directories(dir_ / "project/lib");
  const std::vector<Case> cases = {
      {"a Mix project", dir_ / "project",
       "run `MIX_ENV=prod mix release` there and pass '" +
           (dir_ / "project/_build/prod/rel/shop").string() + "'"},
      {"the directory of releases", dir_.path(),
       "holds the release release, not a release itself: pass '" + release_.string() + "'"},
      {"a release without its runtime", release_, "set `include_erts: true`"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.directory == release_) fs::rename(release_ / "erts-17.1", dir_ / "erts-17.1");
    auto result = runProcess({packerPath().string(), "pack", c.directory.string(), "-o",
                              (dir_ / "out").string(), "--stub", stubPath().string()});
    EXPECT_NE(result.status, 0);
    EXPECT_TRUE(result.err.starts_with("wexlo: error: ")) << result.err;
    EXPECT_NE(result.err.find(c.advice), std::string::npos) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_FALSE(fs::exists(dir_ / "out"));
  }

  fs::remove(release_ / "releases/start_erl.data");
  auto result = pack(dir_ / "out", {"--quiet"});
  EXPECT_NE(result.status, 0);
  EXPECT_TRUE(result.err.starts_with("wexlo: error: ")) << result.err;
  EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
  EXPECT_FALSE(fs::exists(dir_ / "out"));

  auto missing = runProcess({packerPath().string(), "pack", (dir_ / "nothing").string(), "-o",
                             (dir_ / "out").string(), "--stub", stubPath().string()});
  EXPECT_NE(missing.status, 0);
  EXPECT_FALSE(fs::exists(dir_ / "out"));
}

TEST_F(PackRoundTripTest, OutputsThatWouldDestroyAnInputAndUnusableSettingsAreRefused) {
  const std::string stub = readFile(stubPath());
  const std::string cookie = readFile(release_ / "releases/COOKIE");
  struct Case {
    fs::path output;
    std::vector<std::string> extra;
    std::string expected;
  };
  // What the launcher would be renamed over: a FIFO, a link to one, a copy
  // of the null device where the test may make one.
  ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0644), 0);
  fs::create_symlink(dir_ / "fifo", dir_ / "link");
  const bool device = ::mknod((dir_ / "null").c_str(), S_IFCHR | 0666, ::makedev(1, 3)) == 0;
  const std::string special = "exists and is not a regular file";
  for (const auto& c : std::vector<Case>{
           {dir_ / "fifo", {}, special},
           {dir_ / "link", {}, special},
           {device ? dir_ / "null" : dir_ / "fifo", {}, special},
           {stubPath(), {}, "is the stub"},
           {release_ / "releases/COOKIE", {}, "lies inside the release directory"},
           {release_ / "new_file", {}, "lies inside the release directory"},
           {dir_ / "out", {"--app-version", "1.0"}, "'1.0' is not a semantic version"},
           {dir_ / "out", {"--app-version", "0.1.3/../x"}, "is not usable as a directory name"},
           {dir_ / "out", {"--erts-version", ".."}, "is not usable as a directory name"},
           {dir_ / "out", {"--block-size", "4096"}, "--block-size: Value 4096 not in range"},
           {dir_ / "out", {"--threads", "100000"}, "--threads: Value 100000 not in range"},
           {dir_ / "out", {"--compression", "gzip"}, "--compression: gzip not in {xz,zstd}"},
           {dir_ / "out",
            {"--compression", "zstd", "--level", "23"},
            "--level: Value 23 not in range -131072 to 22"},
           {dir_ / "out", {"--level", "3"}, "--level applies to --compression zstd only"},
       }) {
    auto extra = c.extra;
    extra.push_back("--quiet");
    auto result = pack(c.output, extra);
    EXPECT_NE(result.status, 0) << c.expected;
    EXPECT_NE(result.err.find(c.expected), std::string::npos) << result.err;
  }
  EXPECT_TRUE(fs::is_fifo(fs::symlink_status(dir_ / "fifo")));
  EXPECT_TRUE(fs::is_symlink(dir_ / "link"));
  if (device) {
    EXPECT_TRUE(fs::is_character_file(dir_ / "null"));
  }
  EXPECT_EQ(readFile(stubPath()), stub);
  EXPECT_EQ(readFile(release_ / "releases/COOKIE"), cookie);
  EXPECT_FALSE(fs::exists(release_ / "new_file"));
  EXPECT_FALSE(fs::exists(dir_ / "out"));

  // Raw mode checks the names of a record that parses, too.
  const std::string archive = makeArchive({{"x", "y"}});
  writeFile(dir_ / "meta", metadataText("demo_app", "1.0", "17.1"));
  writeFile(dir_ / "payload", xzCompress(archive));
  auto raw = runProcess({packerPath().string(), "pack", "--metadata", (dir_ / "meta").string(),
                         "--payload", (dir_ / "payload").string(), "--decompressed-length",
                         std::to_string(archive.size()), "-o", (dir_ / "out").string(), "--stub",
                         stubPath().string()});
  EXPECT_NE(raw.err.find("'1.0' is not a semantic version"), std::string::npos) << raw.err;
  EXPECT_FALSE(fs::exists(dir_ / "out"));

  // Raw mode's inputs, a record larger than any launcher may carry, and the
  // packer itself (a copy, so a fault cannot destroy the build's own).
  writeFile(dir_ / "meta", metadataText("demo_app", "0.1.3", "17.1"));
  writeFile(dir_ / "huge", std::string(64 * 1024 + 1, ' '));
  fs::copy_file(packerPath(), dir_ / "wexlo");
  const std::string packer = readFile(dir_ / "wexlo");
  const std::string meta = readFile(dir_ / "meta"), payload = readFile(dir_ / "payload");
  struct RawCase {
    fs::path packer, metadata, output;
    std::string expected;
  };
  for (const auto& c : std::vector<RawCase>{
           {packerPath(), dir_ / "meta", dir_ / "payload", "is the payload file"},
           {packerPath(), dir_ / "meta", dir_ / "meta", "is the metadata file"},
           {packerPath(), dir_ / "huge", dir_ / "out",
            "holds 65537 bytes; a record may hold at most 65536"},
           {dir_ / "wexlo", dir_ / "meta", dir_ / "wexlo", "is the packer itself"},
       }) {
    auto refused = runProcess({c.packer.string(), "pack", "--metadata", c.metadata.string(),
                               "--payload", (dir_ / "payload").string(), "--decompressed-length",
                               std::to_string(archive.size()), "--app-name", "demo_app", "-o",
                               c.output.string(), "--stub", stubPath().string()});
    EXPECT_EQ(refused.status, 1) << c.expected;
    EXPECT_NE(refused.err.find(c.expected), std::string::npos) << refused.err;
  }
  EXPECT_EQ(readFile(dir_ / "meta"), meta);
  EXPECT_EQ(readFile(dir_ / "payload"), payload);
  EXPECT_EQ(readFile(dir_ / "wexlo"), packer);
  EXPECT_FALSE(fs::exists(dir_ / "out"));
  auto rawZstd = runProcess({packerPath().string(), "pack", "--metadata", (dir_ / "meta").string(),
                             "--payload", (dir_ / "payload").string(), "--decompressed-length", "1",
                             "-o", (dir_ / "out").string(), "--compression", "zstd"});
  EXPECT_NE(rawZstd.err.find("takes no RELEASE_DIR"), std::string::npos) << rawZstd.err;
  EXPECT_FALSE(fs::exists(dir_ / "out"));
}

TEST_F(PackRoundTripTest, AZstdLauncherIsTheSameWhateverTheThreadsAndComesBackExactly) {
  const std::vector<std::string> zstd = {"--quiet", "--compression", "zstd", "--level",
                                         "3",       "--block-size",  "65536"};
  auto withThreads = [&](const char* threads) {
    auto extra = zstd;
    extra.insert(extra.end(), {"--threads", threads});
    return extra;
  };
  ASSERT_EQ(pack(dir_ / "one", withThreads("1")).status, 0);
  ASSERT_EQ(pack(dir_ / "two", withThreads("3")).status, 0);
  EXPECT_EQ(readFile(dir_ / "one"), readFile(dir_ / "two"));

  auto inspected = runProcess({packerPath().string(), "inspect", (dir_ / "one").string()});
  EXPECT_NE(inspected.out.find("compression: zstd\n"), std::string::npos) << inspected.out;
  EXPECT_NE(inspected.out.find("--compression zstd --level 3"), std::string::npos);
  auto run =
      runProcess({(dir_ / "one").string()},
                 {{"DEMO_APP_INSTALL_DIR=" + (dir_ / "root").string()}, std::nullopt, dir_.path()});
  ASSERT_EQ(run.status, 0) << run.err;
  for (const auto& file : files_) {
    EXPECT_EQ(readFile(dir_ / "root/.wexlo/demo_app_erts-17.1_0.1.3" / file.path), file.content);
  }
}

// Whether process `pid` has a file below `directory` open.
bool writesInto(pid_t pid, const fs::path& directory) {
  std::error_code error;
  for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
    if (fs::read_symlink(fd.path(), error).string().starts_with(directory.string() + "/")) {
      return true;
    }
  }
  return false;
}

TEST_F(PackRoundTripTest, AnInterruptedPackerLeavesNoTemporaryOutput) {
  // A large payload keeps the packer writing long enough to be caught at it.
  std::string payload(32 << 20, 'p');
  writeFile(dir_ / "payload", payload);
  writeFile(dir_ / "meta", metadataText("demo_app", "0.1.3", "17.1"));
  fs::create_directory(dir_ / "out");
  // Any signal that ends the packer, not only the ones a terminal sends;
  // also where the output cannot be made without a name (no /proc to name
  // it through), when the machine lets a test hide /proc.
  const std::string packer = packerPath().string(), meta = (dir_ / "meta").string(),
                    raw = (dir_ / "payload").string(), out = (dir_ / "out/app").string(),
                    stub = stubPath().string();
  const bool canHideProc = runProcess({"/usr/bin/unshare", "-m", "/bin/true"}).status == 0;
  // A sanitized packer must meet SIGSEGV with its own handler, as a plain one does,
  // and cannot check for leaks without /proc.
  if (kAddressSanitizer) ::setenv("ASAN_OPTIONS", "handle_segv=0:detect_leaks=0", 1);
  for (bool hideProc : {false, true}) {
    if (hideProc && !canHideProc) break;
    for (int signal : {SIGINT, SIGTERM, SIGPIPE, SIGQUIT, SIGUSR1, SIGALRM, SIGABRT, SIGSEGV,
                       SIGSYS, SIGPWR, SIGRTMIN + 1}) {
      pid_t child = ::fork();
      ASSERT_NE(child, -1);
      if (child == 0) {
        ::signal(signal, SIG_DFL);  // this test program ignores SIGPIPE
        const rlimit noCore{0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
        std::vector<const char*> argv = {
            packer.c_str(),          "pack", "--metadata", meta.c_str(), "--payload", raw.c_str(),
            "--decompressed-length", "1",    "-o",         out.c_str(),  "--stub",    stub.c_str()};
        if (hideProc) {
          argv.insert(argv.begin(), {"/usr/bin/unshare", "-m", "/bin/sh", "-c",
                                     "mount -t tmpfs none /proc && exec \"$@\"", "sh"});
        }
        argv.push_back(nullptr);
        ::execv(argv[0], const_cast<char* const*>(argv.data()));
        ::_exit(127);
      }
      // Wait until the packer has its output open, named or not, then end it.
      for (int i = 0; i < 20000 && !writesInto(child, dir_ / "out"); ++i) ::usleep(500);
      ::kill(child, signal);
      int status = 0;
      ::waitpid(child, &status, 0);
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
      EXPECT_TRUE(fs::is_empty(dir_ / "out")) << fs::directory_iterator(dir_ / "out")->path();
    }
    // A file size limit is a failure with its line, not a silent death.
    std::vector<std::string> limit = {"/bin/sh",
                                      "-c",
                                      "ulimit -f 1024 && exec \"$@\"",
                                      "sh",
                                      packer,
                                      "pack",
                                      "--metadata",
                                      meta,
                                      "--payload",
                                      raw,
                                      "--decompressed-length",
                                      "1",
                                      "-o",
                                      out,
                                      "--stub",
                                      stub};
    if (hideProc) {
      limit[2] = "mount -t tmpfs none /proc && " + limit[2];
      limit.insert(limit.begin(), {"/usr/bin/unshare", "-m"});
    }
    auto limited = runProcess(limit);
    EXPECT_EQ(limited.status, 1) << hideProc;
    // Without /proc a sanitized packer first warns that it cannot name itself.
    std::string err;
    std::istringstream lines(limited.err);
    for (std::string line; std::getline(lines, line);) {
      if (!kAddressSanitizer || !line.starts_with("==")) err += line + '\n';
    }
    EXPECT_EQ(err, "wexlo: error: cannot write '" + out + "': File too large\n");
    EXPECT_TRUE(fs::is_empty(dir_ / "out")) << fs::directory_iterator(dir_ / "out")->path();
  }
}

TEST_F(PackRoundTripTest, NamesLongerThanAFileSystemAllowsAreRefusedAtPackTime) {
  // With runtime configuration, so that its copy is made.
  writeFile(release_ / "releases/0.1.3/sys.config", "%% RUNTIME_CONFIG=true\n[].");
  fs::create_directories(dir_ / "tmp");
  struct Case {
    std::string app, erts, refused;  // nothing refused: packs, runs and uninstalls
  };
  for (const auto& c : std::vector<Case>{
           {std::string(206, 'a'), "17.1", ""},
           {std::string(207, 'a'), "17.1", "runtime configuration copy's name 256 bytes long"},
           {std::string(120, 'a'), std::string(108, '1'), ""},
           {std::string(120, 'a'), std::string(109, '1'),
            "install directory's name (while it is removed) 256 bytes long"},
       }) {
    if (!fs::exists(release_ / ("erts-" + c.erts))) {
      for (const auto& entry : fs::directory_iterator(release_)) {
        if (entry.path().filename().string().starts_with("erts-")) {
          fs::rename(entry.path(), release_ / ("erts-" + c.erts));
        }
      }
    }
    auto packed = pack(dir_ / "out", {"--quiet", "--app-name", c.app, "--erts-version", c.erts});
    if (!c.refused.empty()) {
      EXPECT_EQ(packed.status, 1);
      EXPECT_NE(packed.err.find(c.refused), std::string::npos) << packed.err;
      EXPECT_FALSE(fs::exists(dir_ / "out"));
      continue;
    }
    ASSERT_EQ(packed.status, 0) << packed.err;
    const std::vector<std::string> env = {"HOME=" + (dir_ / "home").string(),
                                          "RELEASE_TMP=" + (dir_ / "tmp").string()};
    auto ran = runProcess({(dir_ / "out").string()}, {env, std::nullopt, dir_.path()});
    EXPECT_EQ(ran.status, 0) << ran.err;
    auto removed = runProcess({(dir_ / "out").string(), "maintenance", "uninstall"},
                              {env, "y\n", dir_.path()});
    EXPECT_EQ(removed.status, 0) << removed.err;
    EXPECT_TRUE(fs::is_empty(dir_ / "home/.local/share/.wexlo"));
    fs::remove(dir_ / "out");
  }
}

TEST_F(PackRoundTripTest, UsageErrorsAreOneLineOfThePackersOwnAndHelpIsNot) {
  const std::string packer = packerPath().string();
  struct Case {
    std::vector<std::string> args;
    std::string err;
  };
  for (const auto& c : std::vector<Case>{
           {{"pack", release_.string()}, "wexlo: error: give the executable to write: -o FILE\n"},
           {{"pack", "--quiet"}, "wexlo: error: give the executable to write: -o FILE\n"},
           {{"pack", release_.string(), "-o", (dir_ / "out").string(), "--frobnicate"},
            "wexlo: error: The following argument was not expected: --frobnicate (see wexlo "
            "--help)\n"},
           {{"inspect"}, "wexlo: error: LAUNCHER is required (see wexlo --help)\n"},
       }) {
    auto args = c.args;
    args.insert(args.begin(), packer);
    auto result = runProcess(args);
    EXPECT_EQ(result.status, 1) << c.err;
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.out, "");
  }
  EXPECT_FALSE(fs::exists(dir_ / "out"));
  auto help = runProcess({packer, "pack", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--service"), std::string::npos);
}

TEST_F(PackRoundTripTest, InspectListsAndVerifies) {
  for (std::string compression : {"zstd", "xz"}) {
    ASSERT_EQ(pack(dir_ / "app", {"--quiet", "--compression", compression}).status, 0);
    auto inspected = runProcess({packerPath().string(), "inspect", (dir_ / "app").string()});
    EXPECT_NE(inspected.out.find("compression: " + compression + "\n"), std::string::npos);
  }
  auto listed =
      runProcess({packerPath().string(), "inspect", (dir_ / "app").string(), "--list", "--verify"});
  EXPECT_EQ(listed.status, 0) << listed.err;
  EXPECT_NE(listed.out.find("lib/.wexlo"), std::string::npos);
  EXPECT_NE(listed.out.find("\"app_name\":\"demo_app\""), std::string::npos);

  std::string bytes = readFile(dir_ / "app");
  bytes[bytes.size() - 2000] ^= 0x20;  // inside the payload, before metadata and footer
  writeFile(dir_ / "damaged", bytes);
  auto damaged =
      runProcess({packerPath().string(), "inspect", (dir_ / "damaged").string(), "--verify"});
  EXPECT_NE(damaged.status, 0);

  // zstd payloads are checked as closely, frame walk and contents.
  const std::string archive = makeArchive({{"x", "y"}});
  for (const auto& fault : zstdPayloadFaults(archive)) {
    packRaw(dir_ / "raw", metadataText("demo_app", "0.1.3", "17.1"), fault.payload,
            fault.decompressedLength);
    auto verified =
        runProcess({packerPath().string(), "inspect", (dir_ / "raw").string(), "--verify"});
    EXPECT_EQ(verified.status, 1) << fault.what;
    EXPECT_TRUE(verified.err.starts_with("wexlo: error: payload ")) << verified.err;
  }
}

// A release carrying programs or libraries for another system or CPU is
// refused before anything is written, naming them and what they are built for.
TEST(NativeCodeTest, ForeignProgramsAndLibrariesAreRefusedUnlessLetThrough) {
  struct Case {
    const char* name;
    std::string target;
    std::vector<std::pair<std::string, std::string>> files;  // added to the release
    std::vector<std::string> extra;
    std::string error;  // after "wexlo: error: "; empty: packs
  };
  const std::string crypto = "lib/crypto-5.1.2/priv/lib/crypto.so";
  const std::string aarch64Program = elfImage({.machine = kElfAarch64, .interpreter = true});
  const std::vector<Case> cases = {
      {"an x86-64 NIF in an aarch64 release",
       "linux-aarch64",
       {{"erts-17.1/bin/beam.smp", aarch64Program}, {crypto, elfImage({})}},
       {},
       "release carries 1 file built for another target than linux-aarch64: '" + crypto +
           "' (Linux x86-64 shared library) (point include_erts: at the runtime built for "
           "linux-aarch64, build NIFs for linux-aarch64, or let a file the release never loads "
           "through with --allow-foreign PATH)"},
      {"an x86-64 runtime in an aarch64 release",
       "linux-aarch64",
       {{"erts-17.1/bin/beam.smp", elfImage({.interpreter = true})}, {crypto, elfImage({})}},
       {},
       "release's runtime is built for x86-64, not for linux-aarch64: '%R/erts-17.1/bin/"
       "beam.smp' (pack it with --target linux-x86_64)"},
      {"an ELF NIF in a Windows release",
       "windows-x86_64",
       {{"erts-17.1/bin/erl.exe", peFile({})}, {crypto, elfImage({})}},
       {},
       "release carries 1 file built for another target than windows-x86_64: '" + crypto +
           "' (Linux x86-64 shared library)"},
      {"a text erl.exe",
       "windows-x86_64",
       {{"erts-17.1/bin/erl.exe", "MZ stand-in"}},
       {},
       "release's runtime '%R/erts-17.1/bin/erl.exe' is not a program, not a Windows x86-64 "
       "console program (point include_erts: at the runtime of an OTP built for "
       "windows-x86_64)"},
      {"an erl.exe for another CPU",
       "windows-x86_64",
       {{"erts-17.1/bin/erl.exe", peFile({.machine = kPeArm64})}},
       {},
       "is a Windows arm64 console program, not a Windows x86-64 console program"},
      {"four foreign files",
       "linux-x86_64",
       {{"lib/a/priv/a.so", elfImage({.machine = kElfAarch64})},
        {"lib/b/priv/b.dll", peFile({.dll = true})},
        {"lib/c/priv/c.so", elfImage({.osAbi = 9})},
        {"lib/d/priv/d", fatMachOImage({0x01000007, 0x0100000c})}},
       {},
       "release carries 4 files built for another target than linux-x86_64: 'lib/a/priv/a.so' "
       "(Linux aarch64 shared library), 'lib/b/priv/b.dll' (Windows x86-64 DLL), "
       "'lib/c/priv/c.so' (FreeBSD x86-64 shared library) and 1 more"},
      {"foreign files let through",
       "linux-x86_64",
       {{"lib/a/priv/helper.exe", peFile({})}, {"lib/b/priv/b.so", elfImage({.osAbi = 9})}},
       {"--allow-foreign", "lib/a/priv/helper.exe", "--allow-foreign", "lib/b/priv/b.so"},
       ""},
      {"letting through a file the release lacks",
       "linux-x86_64",
       {},
       {"--allow-foreign", "lib/a/priv/absent.exe"},
       "--allow-foreign 'lib/a/priv/absent.exe': no such file in the release"},
  };
  TempDir dir;
  int index = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path release = dir / ("release" + std::to_string(++index));
    for (const auto& file : syntheticRelease("demo_app", "0.1.3", "17.1", 5)) {
      writeFile(release / file.path, file.content);
    }
    writeFile(release / "releases/0.1.3/demo_app.rel",
              "{release,{\"demo_app\",\"0.1.3\"},{erts,\"17.1\"},[]}.\n");
    writeFile(release / "erts-17.1/bin/erl", "#!/bin/sh\n");
    for (const auto& [path, content] : c.files) writeFile(release / path, content);
    // A stand-in stub: its marker, in a PE image for Windows (resources go there).
    const std::string marker =
        "WEXLO-STUB-MARKER\x1f" + c.target + "\x1fGNU 12.2.0\x1f-O2\x1f" + std::string(1, '\0');
    std::string stubBytes =
        "\x7f"
        "ELF stub " +
        marker;
    if (c.target == "windows-x86_64") {
      const auto image = peImage({".text"});
      stubBytes.assign(image.begin(), image.end()).replace(0x200, marker.size(), marker);
    }
    const fs::path stub = dir / ("stub-" + c.target);
    writeFile(stub, stubBytes);
    std::vector<std::string> args = {packerPath().string(),  "pack",   release.string(), "-o",
                                     (dir / "out").string(), "--stub", stub.string(),    "--quiet"};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    auto result = runProcess(args);
    if (c.error.empty()) {
      EXPECT_EQ(result.status, 0) << result.err;
      EXPECT_EQ(result.err, "");
      fs::remove(dir / "out");
      continue;
    }
    std::string expected = c.error;  // %R: the release directory
    if (const auto at = expected.find("%R"); at != std::string::npos)
      expected.replace(at, 2, release.string());
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.err.starts_with("wexlo: error: ")) << result.err;
    EXPECT_NE(result.err.find(expected), std::string::npos) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    EXPECT_FALSE(fs::exists(dir / "out"));
  }
}

}  // namespace
}  // namespace wexlo::testing
