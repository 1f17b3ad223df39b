#include "install/install.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "install/removal.h"
#include "support/fake_console.h"
#include "support/fake_file_system.h"
#include "support/launcher_kit.h"
#include "support/sample_data.h"
#include "support/zstd_payloads.h"

namespace wexlo {
namespace {

using testing::ArchiveFile;
using testing::FakeConsole;
using testing::FakeFileSystem;

constexpr char kInstall[] = "/base/.wexlo/app_erts-1_0.1.0";
constexpr char kMarker[] = "/base/.wexlo/app_erts-1_0.1.0/_metadata.json";
constexpr char kMetadata[] = R"({"app_name":"app"})";
const BuildMetadata kParsedMetadata = decodeBuildMetadata(kMetadata).value();

std::span<const std::uint8_t> bytesOf(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// Records as the packer writes them, for two builds of one version.
constexpr char kThisBuild[] =
    R"({"options":"--target linux-x86_64 --payload-crc64 00000000000000aa","app_name":"app",)"
    R"("app_version":"0.1.0"})";
constexpr char kOtherBuild[] =
    R"({"options":"--target linux-x86_64 --payload-crc64 00000000000000bb","app_name":"app",)"
    R"("app_version":"0.1.0"})";

class InstallTest : public ::testing::Test {
 protected:
  Result<InstallOutcome> install(const std::string& archive,
                                 std::string_view metadata = kMetadata) {
    payload_ = testing::xzCompress(archive);
    EmbeddedBuild build{bytesOf(payload_), metadata, "app", archive.size()};
    auto parsed = decodeBuildMetadata(metadata).value();
    auto installed = installIfNeeded(fs_, log_, {build, parsed, kInstall, kMarker});
    if (!installed) return fail(installed.error());
    inUse_ = std::move(installed->inUse);
    return installed->outcome;
  }
  std::vector<std::string> writes() const {
    std::vector<std::string> out;
    for (const auto& call : fs_.calls) {
      if (call.starts_with("writeFile ")) out.push_back(call.substr(10));
    }
    return out;
  }

  FakeFileSystem fs_;
  FakeConsole console_;
  Environment environment_;
  ErrorLog log_{console_, environment_};
  std::string payload_;
  std::unique_ptr<FileLock> inUse_;
};

const std::string kRunLock = std::string(kInstall) + "/" + std::string(kRunLockName);
const std::string kPartialMarker = std::string(kMarker) + ".partial";

TEST_F(InstallTest, FirstRunUnpacksEverythingAndWritesTheMarkerLast) {
  auto archive = testing::makeArchive({{"lib/.wexlo", "", 0100644},
                                       {"lib/a-1/ebin/a.beam", "beam", 0100644},
                                       {"bin/app", "#!/bin/sh\n", 0100755},
                                       {"top", "t", 0104755}});
  ASSERT_EQ(install(archive).value(), InstallOutcome::Ready);
  EXPECT_EQ(fs_.content(std::string(kInstall) + "/lib/a-1/ebin/a.beam"), "beam");
  EXPECT_EQ(fs_.content(std::string(kInstall) + "/lib/.wexlo"), "");
  EXPECT_EQ(fs_.node(std::string(kInstall) + "/bin/app")->mode, 0755u);
  // Set-user-ID and similar bits never reach the file system.
  EXPECT_EQ(fs_.node(std::string(kInstall) + "/top")->mode, 0755u);
  EXPECT_EQ(fs_.content(kMarker), kMetadata);
  ASSERT_FALSE(writes().empty());
  EXPECT_EQ(writes().back(), kPartialMarker);
  // Everything reached the disk before the marker was written.
  auto flushed = std::ranges::find(fs_.calls, "flushFileSystem " + std::string(kInstall));
  auto marker = std::ranges::find(fs_.calls, "writeFile " + kPartialMarker);
  EXPECT_LT(flushed, marker);
  EXPECT_FALSE(fs_.exists(kPartialMarker));
  EXPECT_EQ(console_.err + console_.out, "");
  // The run keeps the install marked in use for its runtime.
  EXPECT_EQ(fs_.heldLocks(), (std::map<std::string, std::string>{{kRunLock.substr(1), "shared"}}));
}

TEST_F(InstallTest, AnExistingMarkerMeansInstalledWhateverElseIsMissing) {
  fs_.addFile(kMarker, "old");
  ASSERT_EQ(install(testing::makeArchive({{"x", "y"}})).value(), InstallOutcome::Ready);
  EXPECT_TRUE(writes().empty());
  EXPECT_EQ(fs_.content(kMarker), "old");
}

// Stands for a second launcher that finishes the install while this one
// waits for the lock.
class RacingFileSystem : public FakeFileSystem {
 public:
  Result<std::unique_ptr<FileLock>> lock(std::string_view path, LockMode mode) override {
    if (mode == LockMode::Exclusive) addFile(kMarker, "theirs");
    return FakeFileSystem::lock(path, mode);
  }
};

TEST_F(InstallTest, AnInstallFinishedWhileWaitingForTheLockIsNotRepeated) {
  RacingFileSystem fs;
  std::string archive = testing::makeArchive({{"x", "y"}});
  payload_ = testing::xzCompress(archive);
  EmbeddedBuild build{bytesOf(payload_), kMetadata, "app", archive.size()};
  EXPECT_EQ(installIfNeeded(fs, log_, {build, kParsedMetadata, kInstall, kMarker}).value().outcome,
            InstallOutcome::Ready);
  EXPECT_EQ(fs.content(kMarker), "theirs");
  EXPECT_FALSE(fs.exists(std::string(kInstall) + "/x"));
  EXPECT_TRUE(fs.exists(std::string(kInstall) + "/" + std::string(kInstallLockName)));
}

TEST_F(InstallTest, AnInterruptedInstallIsRewrittenAndExtraFilesStay) {
  fs_.addFile(std::string(kInstall) + "/lib/a", "half");
  fs_.addFile(std::string(kInstall) + "/extra", "mine");
  ASSERT_TRUE(install(testing::makeArchive({{"lib/a", "whole"}})));
  EXPECT_EQ(fs_.content(std::string(kInstall) + "/lib/a"), "whole");
  EXPECT_EQ(fs_.content(std::string(kInstall) + "/extra"), "mine");
}

TEST_F(InstallTest, AnUnexpectedMarkerTestEndsTheRunQuietly) {
  fs_.failOn(FakeFileSystem::Op::CheckExists, kMarker, Failure::AccessDenied);
  ASSERT_EQ(install(testing::makeArchive({{"x", "y"}})).value(), InstallOutcome::EndRunQuietly);
  EXPECT_EQ(console_.err,
            "error: We failed to open the destination directory with an unexpected error: "
            "AccessDenied\n");
  EXPECT_TRUE(writes().empty());
}

TEST_F(InstallTest, AMissingLeadingMagicWritesNothing) {
  std::string archive = testing::makeArchive({{"x", "y"}});
  archive[0] = 'X';
  EXPECT_EQ(install(archive).error(), Failure::BadHeader);
  EXPECT_TRUE(writes().empty());
}

TEST_F(InstallTest, AMissingTrailerStillUnpacks) {
  ASSERT_TRUE(install(testing::makeArchive({{"a/b", "c"}}, false)));
  EXPECT_EQ(fs_.content(std::string(kInstall) + "/a/b"), "c");
}

TEST_F(InstallTest, ADecodeFailurePrintsTheDecoderCodeThenFailsWithParseError) {
  std::string archive = testing::makeArchive({{"x", "y"}});
  payload_ = testing::xzCompress(archive);
  payload_.resize(payload_.size() - 4);  // cut into the stream footer
  EmbeddedBuild build{bytesOf(payload_), kMetadata, "app", archive.size()};
  auto result = installIfNeeded(fs_, log_, {build, kParsedMetadata, kInstall, kMarker});
  EXPECT_EQ(result.error(), Failure::ParseError);
  EXPECT_EQ(console_.err, "error: XZ/LZMA Decode Failed: 7\n");
  EXPECT_TRUE(writes().empty());
}

TEST_F(InstallTest, DirectoryFailuresOtherThanAlreadyExistingEndTheInstall) {
  fs_.addDirectory(std::string(kInstall) + "/lib");
  fs_.failOn(FakeFileSystem::Op::MakeDirectory, std::string(kInstall) + "/lib/a",
             Failure::NoSpaceLeft);
  EXPECT_EQ(install(testing::makeArchive({{"lib/x", "1"}, {"lib/a/y", "2"}})).error(),
            Failure::NoSpaceLeft);
  EXPECT_FALSE(fs_.exists(kInstall));
}

TEST_F(InstallTest, AFailedInstallIsRemovedUnlessAnotherLauncherHoldsItsRunLock) {
  // A tree that may not have reached the disk gets no marker either; one
  // replacing another build holds the run lock already.
  for (auto [held, record] :
       {std::pair{false, kMetadata}, std::pair{true, kMetadata}, std::pair{false, kThisBuild}}) {
    for (auto [op, path] :
         {std::pair{FakeFileSystem::Op::WriteFile, kPartialMarker},
          std::pair{FakeFileSystem::Op::Rename, kPartialMarker},
          std::pair{FakeFileSystem::Op::FlushFileSystem, std::string(kInstall)}}) {
      FakeFileSystem fresh;
      fresh.failOn(op, path, Failure::NoSpaceLeft);
      if (record == kThisBuild) fresh.addFile(kMarker, kOtherBuild);
      if (held) fresh.holdLockElsewhere(kRunLock, LockMode::Shared);
      std::swap(fs_, fresh);
      EXPECT_EQ(install(testing::makeArchive({{"x", "y"}}), record).error(), Failure::NoSpaceLeft);
      EXPECT_FALSE(fs_.exists(kMarker));
      EXPECT_EQ(fs_.exists(std::string(kInstall) + "/x"), held) << path;
      EXPECT_FALSE(fs_.exists(std::string(kInstall) + std::string(kRemovalSuffix)));
      EXPECT_TRUE(fs_.heldLocks().empty());
    }
  }
}

// Files before the damage are written as the stream passes them, then go
// with the install directory.
TEST_F(InstallTest, ADamagedMiddleBlockAfterEarlierFilesWereWrittenLeavesNothing) {
  auto text = [](std::size_t size, std::uint32_t seed) {
    const auto bytes = testing::sampleText(size, seed, 200);
    return std::string(bytes.begin(), bytes.end());
  };
  const std::string archive = testing::makeArchive(
      {{"first", text(1000, 1)}, {"lib/middle", text(60000, 2)}, {"last", text(1000, 3)}});
  for (std::string payload :
       {testing::xzCompress(archive, 4096), testing::zstdCompress(archive, 4096)}) {
    payload[payload.size() / 2] ^= 0x10;
    FakeFileSystem fresh;
    std::swap(fs_, fresh);
    EmbeddedBuild build{bytesOf(payload), kMetadata, "app", archive.size()};
    auto result = installIfNeeded(fs_, log_, {build, kParsedMetadata, kInstall, kMarker});
    EXPECT_EQ(result.error(), Failure::ParseError);
    const auto written = writes();
    EXPECT_NE(std::ranges::find(written, std::string(kInstall) + "/first"), written.end());
    EXPECT_FALSE(fs_.exists(kInstall));
  }
}

TEST_F(InstallTest, LinksWhereTheArchivePutsDirectoriesOrFilesAreReplacedNotFollowed) {
  fs_.addDirectory("/elsewhere");
  fs_.addLink(std::string(kInstall) + "/lib", "/elsewhere");
  fs_.addLink(std::string(kInstall) + "/top", "/elsewhere/file");
  ASSERT_TRUE(install(testing::makeArchive({{"lib/a/b", "1"}, {"top", "2"}})));
  EXPECT_EQ(fs_.content(std::string(kInstall) + "/lib/a/b"), "1");
  EXPECT_EQ(fs_.node(std::string(kInstall) + "/top")->kind, EntryKind::File);
  EXPECT_EQ(fs_.tree("/elsewhere"), std::vector<std::string>{});
}

TEST_F(InstallTest, AnInstalledReleaseIsMarkedInUseWithoutAnyWrite) {
  fs_.addFile(kMarker, "done");
  ASSERT_EQ(install(testing::makeArchive({{"x", "y"}})).value(), InstallOutcome::Ready);
  EXPECT_TRUE(writes().empty());
  EXPECT_EQ(fs_.heldLocks().at(kRunLock.substr(1)), "shared");
  inUse_.reset();
  EXPECT_TRUE(fs_.heldLocks().empty());
}

TEST_F(InstallTest, WithADigestInTheRecordOnlyAnIdenticalMarkerCountsAsInstalled) {
  struct Case {
    const char* what;
    std::string embedded;
    std::optional<std::string> marker;
    bool unpacks;
  };
  for (const auto& c : std::vector<Case>{
           {"the same build", kThisBuild, kThisBuild, false},
           {"another build", kThisBuild, kOtherBuild, true},
           {"a longer record", kThisBuild, std::string(kThisBuild) + " ", true},
           {"a record without a digest", kThisBuild, kMetadata, true},
           {"no marker", kThisBuild, std::nullopt, true},
           {"a launcher without a digest", kMetadata, kOtherBuild, false},
           {"hand-made records", kMetadata, "old", false},
       }) {
    FakeFileSystem fresh;
    std::swap(fs_, fresh);
    if (c.marker) fs_.addFile(kMarker, *c.marker);
    ASSERT_EQ(install(testing::makeArchive({{"x", "new"}}), c.embedded).value(),
              InstallOutcome::Ready)
        << c.what;
    EXPECT_EQ(fs_.exists(std::string(kInstall) + "/x"), c.unpacks) << c.what;
    EXPECT_EQ(fs_.content(kMarker), c.unpacks ? c.embedded : *c.marker) << c.what;
    EXPECT_EQ(fs_.heldLocks(), (std::map<std::string, std::string>{{kRunLock.substr(1), "shared"}}))
        << c.what;
    inUse_.reset();
  }
  EXPECT_EQ(console_.err, "");
}

TEST_F(InstallTest, AnotherBuildLosesItsMarkerBeforeItsFilesAreRewritten) {
  fs_.addFile(kMarker, kOtherBuild);
  fs_.addFile(std::string(kInstall) + "/x", "old");
  ASSERT_EQ(install(testing::makeArchive({{"x", "new"}}), kThisBuild).value(),
            InstallOutcome::Ready);
  const auto& calls = fs_.calls;
  auto removed = std::find(calls.begin(), calls.end(), "deleteTree " + std::string(kMarker));
  auto rewritten =
      std::find(calls.begin(), calls.end(), "writeFile " + std::string(kInstall) + "/x");
  EXPECT_LT(removed, rewritten);
  EXPECT_EQ(fs_.content(std::string(kInstall) + "/x"), "new");
}

TEST_F(InstallTest, AnotherBuildThatARuntimeRunsFromIsLeftAloneAndTheRunRefused) {
  fs_.addFile(kMarker, kOtherBuild);
  fs_.holdLockElsewhere(kRunLock, LockMode::Shared);
  ASSERT_EQ(install(testing::makeArchive({{"x", "new"}}), kThisBuild).value(),
            InstallOutcome::Refused);
  EXPECT_EQ(console_.err,
            "error: a different build of app 0.1.0 is running; close it, then start this one "
            "again\n");
  EXPECT_TRUE(writes().empty());
  EXPECT_EQ(fs_.content(kMarker), kOtherBuild);
  EXPECT_TRUE(fs_.heldLocks().empty());
}

TEST_F(InstallTest, AnInstallWhoseRunLockTheUserCannotOpenStillRuns) {
  auto archive = testing::makeArchive({{"x", "y"}});
  for (Failure failure : {Failure::ReadOnlyFileSystem, Failure::AccessDenied}) {
    FakeFileSystem fresh;
    std::swap(fs_, fresh);
    ASSERT_EQ(install(archive).value(), InstallOutcome::Ready);
    fs_.failOn(FakeFileSystem::Op::Lock, kRunLock, failure);
    EXPECT_EQ(install(archive).value(), InstallOutcome::Ready) << failureName(failure);
    EXPECT_EQ(inUse_, nullptr);
  }
  // Any other failure still ends the run.
  fs_.failOn(FakeFileSystem::Op::Lock, kRunLock, Failure::InputOutput);
  EXPECT_EQ(install(archive).error(), Failure::InputOutput);
}

TEST_F(InstallTest, AMarkerThatCannotBeReadEndsTheRunQuietly) {
  for (auto op : {FakeFileSystem::Op::OpenForReading, FakeFileSystem::Op::ReadAll}) {
    FakeFileSystem fresh;
    std::swap(fs_, fresh);
    console_.err.clear();
    fs_.addFile(kMarker, kOtherBuild);
    fs_.failOn(op, kMarker, Failure::AccessDenied);
    ASSERT_EQ(install(testing::makeArchive({{"x", "y"}}), kThisBuild).value(),
              InstallOutcome::EndRunQuietly);
    EXPECT_EQ(console_.err,
              "error: We failed to open the destination directory with an unexpected error: "
              "AccessDenied\n");
    EXPECT_TRUE(writes().empty());
  }
}

}  // namespace
}  // namespace wexlo
