// The aarch64 launcher, packed on this x86-64 host with `--target
// linux-aarch64` and run under qemu-user. Its runtime is a shell script: the
// launcher's exec of it runs /bin/sh natively, no binfmt needed.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/fake_erl_record.h"
#include "support/launcher_kit.h"
#include "support/runtime_arguments.h"
#include "support/synthetic_release.h"
#include "support/zstd_payloads.h"

namespace wexlo::testing {
namespace {

namespace fs = std::filesystem;

#ifdef WEXLO_QEMU_AARCH64
constexpr char kQemu[] = WEXLO_QEMU_AARCH64;
#else
constexpr char kQemu[] = "";
#endif

// Records how it was started in the fake runtime's format ("<kind>\t<hex>"
// lines: $0 and the arguments, the environment as the kernel passed it, the
// working directory), then exits with WEXLO_FAKE_ERL_EXIT.
constexpr char kRecordingRuntime[] = R"sh(#!/bin/sh
hex() { printf %s "$1" | od -An -v -tx1 | tr -d ' \n'; }
{
  for arg in "$0" "$@"; do printf 'arg\t%s\n' "$(hex "$arg")"; done
  tr '\0' '\n' </proc/$$/environ | while IFS= read -r entry; do
    printf 'env\t%s\n' "$(hex "$entry")"
  done
  printf 'cwd\t%s\n' "$(hex "$(pwd -P)")"
} >"$WEXLO_FAKE_ERL_RECORD"
exit "${WEXLO_FAKE_ERL_EXIT:-0}"
)sh";

// The release every test packs: written once per test program.
const fs::path& releaseDirectory() {
  static TempDir dir;
  static const fs::path written = [] {
    auto files = syntheticRelease("demo_app", "0.1.3", "17.1", 20);
    for (auto& file : files) {
      if (file.path == "erts-17.1/bin/erl") file.content = kRecordingRuntime;
    }
    files.push_back({"releases/0.1.3/demo_app.rel",
                     R"({release,{"demo_app","0.1.3"},{erts,"17.1"},[{elixir,"1.14.0"}]}.)",
                     0100644});
    writeTree(dir / "release", files);
    return dir / "release";
  }();
  return written;
}

// Packs the release once per test program, as a user would: the packer
// finds the aarch64 stub beside itself.
const fs::path& launcher() {
  static TempDir dir;
  static const fs::path packed =
      packRelease(releaseDirectory(), dir / "demo_app", {"--target", "linux-aarch64"});
  return packed;
}

class Aarch64LauncherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::string_view(kQemu).empty()) {
      GTEST_SKIP() << "no aarch64 stub: configure with -DWEXLO_AARCH64_STUB=<path of the "
                      "cross-built wexlo-stub-linux-aarch64> to run these tests under qemu-aarch64";
    }
    ASSERT_TRUE(fs::exists(kQemu)) << kQemu << " is missing (Debian: qemu-user)";
    ASSERT_TRUE(fs::exists(launcher()));
  }

  ProcessResult run(std::vector<std::string> args, std::vector<std::string> env = {},
                    std::optional<std::string> input = std::nullopt,
                    const fs::path& which = launcher()) {
    args.insert(args.begin(), {std::string(kQemu), which.string()});
    env.insert(env.begin(),
               {"HOME=" + (dir_ / "home").string(), "WEXLO_FAKE_ERL_RECORD=" + record().string()});
    return runProcess(args, {env, input, dir_.path()});
  }

  fs::path record() const { return dir_ / "record"; }
  fs::path install() const { return dir_ / "home/.local/share/.wexlo/demo_app_erts-17.1_0.1.3"; }

  TempDir dir_;
};

TEST_F(Aarch64LauncherTest, FirstRunUnpacksAndStartsTheRuntimeWithTheUsersArguments) {
  const std::vector<std::string> user = {"run", "with space", "", "quote\"d", "--help"};
  auto result = run(user, {"KEEP=me"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out + result.err, "");

  auto seen = readFakeErlRecord(record());
  ASSERT_TRUE(seen) << seen.error();
  auto expected = expectedRuntimeArguments(install().string(), "17.1", "0.1.3", "secret-cookie");
  expected.insert(expected.end(), user.begin(), user.end());
  EXPECT_EQ(seen->args, expected);
  EXPECT_EQ(seen->workingDirectory, dir_.path().string());
  EXPECT_EQ(seen->env("RELEASE_ROOT"), install().string());
  EXPECT_EQ(seen->env("__WEXLO_BIN_PATH"), fs::canonical(launcher()).string());
  EXPECT_EQ(seen->env("KEEP"), "me");
  EXPECT_EQ(readFile(install() / "releases/0.1.3/vm.args"), "-args");
  EXPECT_EQ(readFile(install() / "erts-17.1/bin/erl"), kRecordingRuntime);

  auto inspected = runProcess({packerPath().string(), "inspect", launcher().string(), "--verify"});
  EXPECT_EQ(inspected.status, 0) << inspected.err;
  EXPECT_TRUE(inspected.out.starts_with("target: linux-aarch64\n")) << inspected.out;
}

TEST_F(Aarch64LauncherTest, AServiceStartsTheRuntimeWithTheEighteenFixedArguments) {
  const fs::path service = dir_ / "service";
  packRelease(releaseDirectory(), service, {"--target", "linux-aarch64", "--service"});
  auto result = runProcess(
      {std::string(kQemu), service.string(), "--port", "4101"},
      {{"HOME=" + (dir_ / "home").string(), "WEXLO_FAKE_ERL_RECORD=" + record().string()},
       std::nullopt,
       dir_.path()});
  ASSERT_EQ(result.status, 0) << result.err;
  auto seen = readFakeErlRecord(record());
  ASSERT_TRUE(seen) << seen.error();
  auto expected = expectedRuntimeArguments(install().string(), "17.1", "0.1.3", "secret-cookie",
                                           '/', Boot::Service);
  ASSERT_EQ(expected.size(), 18u);
  expected.insert(expected.end(), {"--port", "4101"});
  EXPECT_EQ(seen->args, expected);
}

TEST_F(Aarch64LauncherTest, ZstdLaunchersUnpackTheReleaseAndDamagedOnesWriteNothing) {
  const fs::path packed = packRelease(releaseDirectory(), dir_ / "zstd",
                                      {"--target", "linux-aarch64", "--compression", "zstd"});
  auto result = run({"zstd"}, {}, std::nullopt, packed);
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out + result.err, "");
  for (const auto& entry : fs::recursive_directory_iterator(releaseDirectory())) {
    if (!entry.is_regular_file()) continue;
    const fs::path relative = fs::relative(entry.path(), releaseDirectory());
    EXPECT_EQ(readFile(install() / relative), readFile(entry.path())) << relative;
  }

  const std::string metadata = metadataText("demo_app", "0.1.3", "17.1");
  const std::string archive = makeArchive({{"bin/demo_app", "#!/bin/sh\n"}});
  fs::remove_all(dir_ / "home");
  run({}, {}, std::nullopt,
      packRawFor("linux-aarch64", dir_ / "frames", metadata, zstdCompress(archive, 7),
                 archive.size()));
  EXPECT_EQ(readFile(install() / "bin/demo_app"), "#!/bin/sh\n");

  for (const auto& fault : zstdPayloadFaults(archive)) {
    fs::remove_all(dir_ / "home");
    auto refused = run({}, {}, std::nullopt,
                       packRawFor("linux-aarch64", dir_ / "damaged", metadata, fault.payload,
                                  fault.decompressedLength));
    EXPECT_EQ(refused.status, 1) << fault.what;
    EXPECT_EQ(refused.err, fault.err) << fault.what;
    EXPECT_FALSE(fs::exists(install() / "bin")) << fault.what;
  }
}

TEST_F(Aarch64LauncherTest, TheRuntimesStatusBecomesTheLaunchers) {
  for (int status : {0, 3, 255}) {
    auto result = run({}, {"WEXLO_FAKE_ERL_EXIT=" + std::to_string(status)});
    EXPECT_EQ(result.status, status) << result.err;
  }
}

TEST_F(Aarch64LauncherTest, MaintenanceCommands) {
  auto directory = run({"maintenance", "directory"});
  EXPECT_EQ(directory.status, 0) << directory.err;
  EXPECT_EQ(directory.out, install().string() + "\n");

  auto meta = run({"maintenance", "meta"});
  EXPECT_EQ(meta.status, 0) << meta.err;
  EXPECT_TRUE(meta.out.starts_with(R"({"options":"--target linux-aarch64 )")) << meta.out;

  ASSERT_EQ(run({}).status, 0);
  ASSERT_TRUE(fs::exists(install() / "_metadata.json"));
  auto uninstall = run({"maintenance", "uninstall"}, {}, "y\n");
  EXPECT_EQ(uninstall.status, 0) << uninstall.err;
  EXPECT_TRUE(uninstall.out.ends_with("[i] Uninstall complete!\n[i] Quitting.\n")) << uninstall.out;
  EXPECT_FALSE(fs::exists(install()));
}

}  // namespace
}  // namespace wexlo::testing
