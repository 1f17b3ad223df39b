// First and later runs of a packed launcher: what lands on disk.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "format/xz_stream_layout.h"
#include "support/launcher_kit.h"
#include "support/sanitizer.h"
#include "support/synthetic_release.h"
#include "support/zstd_payloads.h"

namespace wexlo::testing {
namespace {

namespace fs = std::filesystem;

class InstallRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    metadata_ = metadataText("demo_app", "0.1.3", "17.1");
    files_ = syntheticRelease("demo_app", "0.1.3", "17.1");
    launcher_ = packFiles(dir_ / "demo_app", metadata_, files_);
  }

  std::vector<std::string> environment(const fs::path& root) const {
    return {"DEMO_APP_INSTALL_DIR=" + root.string(),
            "WEXLO_FAKE_ERL_RECORD=" + (dir_ / "record").string()};
  }

  ProcessResult run(std::vector<std::string> args = {}) {
    return run(dir_ / "root", std::move(args));
  }
  ProcessResult run(const fs::path& root, std::vector<std::string> args = {}) {
    args.insert(args.begin(), launcher_.string());
    return runProcess(args, {environment(root), std::nullopt, dir_.path()});
  }

  fs::path install() const { return dir_ / "root/.wexlo/demo_app_erts-17.1_0.1.3"; }

  static std::string notice(const fs::path& root) {
    return "[i] Install path is being overridden using `DEMO_APP_INSTALL_DIR`\n"
           "[i] New install path is: " +
           root.string() + "\n";
  }

  void expectTreeMatches(const fs::path& directory) {
    for (const auto& file : files_) {
      fs::path path = directory / file.path;
      ASSERT_TRUE(fs::is_regular_file(path)) << file.path;
      EXPECT_EQ(readFile(path), file.content) << file.path;
      bool executable = (fs::status(path).permissions() & fs::perms::owner_exec) != fs::perms::none;
      EXPECT_EQ(executable, (file.mode & 0100) != 0) << file.path;
    }
  }

  TempDir dir_;
  std::string metadata_;
  std::vector<ArchiveFile> files_;
  fs::path launcher_;
};

TEST_F(InstallRunTest, FirstRunReproducesTheReleaseAndPrintsNothingOfItsOwn) {
  auto result = run();
  ASSERT_EQ(result.status, 0) << result.err;
  // Only the override notice, once before the install and once before cleanup.
  EXPECT_EQ(result.out, notice(dir_ / "root") + notice(dir_ / "root"));
  EXPECT_EQ(result.err, "");
  expectTreeMatches(install());
  EXPECT_EQ(readFile(install() / "_metadata.json"), metadata_);
  auto meta = runProcess({launcher_.string(), "maintenance", "meta"},
                         {environment(dir_ / "root"), std::nullopt, dir_.path()});
  EXPECT_EQ(meta.out, notice(dir_ / "root") + metadata_);
}

TEST_F(InstallRunTest, APayloadOfManyBlocksUnpacksTheSameTree) {
  const std::string archive = makeArchive(files_);
  const std::string payload = xzCompress(archive, 16384);
  auto layout =
      readXzStreamLayout({reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size()});
  ASSERT_GT(layout.value().blocks.size(), 3u);
  launcher_ = packRaw(dir_ / "many_blocks", metadata_, payload, archive.size());
  ASSERT_EQ(run().status, 0);
  expectTreeMatches(install());
  // Decoding gave the mapped blocks back early; the launcher file is intact.
  EXPECT_NE(readFile(launcher_).find(payload), std::string::npos);
}

TEST_F(InstallRunTest, ALaterRunDoesNotUnpackAgain) {
  ASSERT_EQ(run().status, 0);
  writeFile(install() / "lib/.wexlo", "changed by hand");
  fs::remove(install() / "releases/0.1.3/vm.args");
  ASSERT_EQ(run().status, 0);
  EXPECT_EQ(readFile(install() / "lib/.wexlo"), "changed by hand");
  EXPECT_FALSE(fs::exists(install() / "releases/0.1.3/vm.args"));
}

TEST_F(InstallRunTest, AnInstallWithoutItsMarkerIsRewrittenInFull) {
  ASSERT_EQ(run().status, 0);
  fs::remove(install() / "_metadata.json");
  writeFile(install() / "lib/.wexlo", "half written");
  writeFile(install() / "mine.txt", "keep me");
  ASSERT_EQ(run().status, 0);
  expectTreeMatches(install());
  EXPECT_EQ(readFile(install() / "mine.txt"), "keep me");
  EXPECT_EQ(readFile(install() / "_metadata.json"), metadata_);
}

TEST_F(InstallRunTest, AMarkerTestThatFailsUnexpectedlyEndsWithStatusZero) {
  // The install directory can be made, but the marker's path is too long.
  std::string root = (dir_ / "r").string();
  const std::size_t installLength = 4090;
  const std::size_t suffix = std::string("/.wexlo/demo_app_erts-17.1_0.1.3").size();
  while (root.size() < installLength - suffix) {
    root += "/" +
            std::string(std::min<std::size_t>(100, installLength - suffix - root.size() - 1), 'd');
  }
  auto result = run(root);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err,
            "error: We failed to open the destination directory with an unexpected error: "
            "NameTooLong\n");
  EXPECT_EQ(result.out, notice(root));
  EXPECT_FALSE(fs::exists(dir_ / "record"));
}

TEST_F(InstallRunTest, AnUnreadableInstallDirectoryEndsWithStatusZero) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every directory";
  fs::create_directories(install());
  fs::permissions(install(), fs::perms::none);
  auto result = run();
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.err,
            "error: We failed to open the destination directory with an unexpected error: "
            "AccessDenied\n");
}

TEST_F(InstallRunTest, AFileThatCannotBeCreatedEndsTheRunWithItsFailure) {
  fs::create_directories(install() / "bin/demo_app");  // a directory where a file belongs
  auto result = run();
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.err, "error: IsDir\n");
  // Entries before it went with the failed install.
  EXPECT_FALSE(fs::exists(install()));
}

TEST_F(InstallRunTest, APayloadThatDoesNotDecodeLeavesNothing) {
  std::string archive = makeArchive(files_);
  std::string payload = xzCompress(archive);
  struct Case {
    std::string payload;
    std::uint64_t length;
    std::string err;
  };
  for (const auto& c : std::vector<Case>{
           {payload.substr(0, payload.size() - 1), archive.size(),
            "error: XZ/LZMA Decode Failed: 7\nerror: ParseError\n"},
           {payload, archive.size() - 1, "error: XZ/LZMA Decode Failed: 8\nerror: ParseError\n"},
           {"not xz at all", archive.size(),
            "error: XZ/LZMA Decode Failed: 5\nerror: ParseError\n"},
           {xzCompress("ZELPB"), 5, "error: BadHeader\n"},
       }) {
    fs::remove_all(dir_ / "root");
    launcher_ = packRaw(dir_ / "broken", metadata_, c.payload, c.length);
    auto result = run();
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, c.err);
    // Not even the lock files stay.
    EXPECT_TRUE(fs::is_empty(dir_ / "root/.wexlo"));
  }
}

TEST_F(InstallRunTest, ZstdPayloadsOfOneOrManyFramesUnpackTheRelease) {
  const std::string archive = makeArchive(files_);
  for (std::uint64_t frameSize : {0, 1000}) {
    fs::remove_all(dir_ / "root");
    launcher_ = packRaw(dir_ / "zstd", metadata_, zstdCompress(archive, frameSize), archive.size());
    auto result = run();
    ASSERT_EQ(result.status, 0) << frameSize << ": " << result.err;
    EXPECT_EQ(result.err, "");
    expectTreeMatches(install());
  }
}

TEST_F(InstallRunTest, ADamagedZstdPayloadLeavesNothing) {
  for (const auto& fault : zstdPayloadFaults(makeArchive(files_))) {
    fs::remove_all(dir_ / "root");
    launcher_ = packRaw(dir_ / "broken", metadata_, fault.payload, fault.decompressedLength);
    auto result = run();
    EXPECT_EQ(result.status, 1) << fault.what;
    EXPECT_EQ(result.err, fault.err) << fault.what;
    EXPECT_TRUE(fs::is_empty(dir_ / "root/.wexlo")) << fault.what;
  }
}

// Files before the damage are written before it is met; they go with the rest.
TEST_F(InstallRunTest, ADamagedMiddleBlockLeavesNothing) {
  files_ = syntheticRelease("demo_app", "0.1.3", "17.1", 3000);
  const std::string archive = makeArchive(files_);
  for (std::string payload : {xzCompress(archive, 16384), zstdCompress(archive, 16384)}) {
    // Eight bytes, not one bit: a bit may fall where the decoded bytes do
    // not depend on it (a zstd bitstream's padding), and then nothing is
    // damaged.
    for (std::size_t i = payload.size() / 2; i < payload.size() / 2 + 8; ++i) payload[i] ^= 0xff;
    fs::remove_all(dir_ / "root");
    launcher_ = packRaw(dir_ / "broken", metadata_, payload, archive.size());
    auto result = run();
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.err.ends_with("error: ParseError\n")) << result.err;
    EXPECT_TRUE(fs::is_empty(dir_ / "root/.wexlo"));
  }
}

// Refused without taking what it declares: the run keeps within 256 MiB of
// address space.
TEST_F(InstallRunTest, APayloadDeclaringMoreThanItHoldsFailsWithoutALargeAllocation) {
  if (kAddressSanitizer) GTEST_SKIP() << "AddressSanitizer cannot start within the limit";
  const std::string archive = makeArchive(files_);
  const std::uint64_t vast = std::uint64_t{4} << 30;
  for (const auto& [payload, err] : std::vector<std::pair<std::string, std::string>>{
           {xzCompress(archive), "error: LengthMismatch\n"},
           {zstdFrameDeclaring(archive, 20, vast),
            "error: ZSTD Decode Failed: Data corruption detected\nerror: ParseError\n"},
       }) {
    fs::remove_all(dir_ / "root");
    launcher_ = packRaw(dir_ / "declaring", metadata_, payload, vast);
    auto result =
        runProcess({"/bin/sh", "-c", "ulimit -v 262144 && exec \"$0\"", launcher_.string()},
                   {environment(dir_ / "root"), std::nullopt, dir_.path()});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, err);
  }
}

TEST_F(InstallRunTest, TwoLaunchersAtOnceBothFindACompleteInstall) {
  // A larger release widens the window in which the two could overlap.
  files_ = syntheticRelease("demo_app", "0.1.3", "17.1", 3000);
  launcher_ = packFiles(dir_ / "demo_app", metadata_, files_);
  ProcessResult first, second;
  auto start = [&](ProcessResult& result, const std::string& record) {
    auto env = environment(dir_ / "root");
    env[1] = "WEXLO_FAKE_ERL_RECORD=" + (dir_ / record).string();
    result = runProcess({launcher_.string()}, {env, std::nullopt, dir_.path()});
  };
  std::thread a(start, std::ref(first), "record-a");
  std::thread b(start, std::ref(second), "record-b");
  a.join();
  b.join();
  EXPECT_EQ(first.status, 0) << first.err;
  EXPECT_EQ(second.status, 0) << second.err;
  EXPECT_TRUE(fs::exists(dir_ / "record-a"));
  EXPECT_TRUE(fs::exists(dir_ / "record-b"));
  expectTreeMatches(install());
}

}  // namespace
}  // namespace wexlo::testing
