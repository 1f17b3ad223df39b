#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "install/cleanup.h"
#include "support/fake_console.h"
#include "support/fake_file_system.h"

namespace wexlo {
namespace {

constexpr std::string_view kBase = "/home/user/.wexlo";

class Cleanup : public ::testing::Test {
 protected:
  std::string dir(std::string_view name) { return std::string(kBase) + "/" + std::string(name); }

  // An install directory named `name` whose record holds the given members.
  void install(std::string_view name, std::string_view version, std::string_view app = "demo_app",
               std::string_view erts = "17.1") {
    BuildMetadata record{std::string(app),     "0.14.0", {},
                         std::string(version), "",       std::string(erts)};
    fs.addFile(dir(name) + "/_metadata.json", encodeBuildMetadata(record));
    fs.addFile(dir(name) + "/bin/demo_app", "#!/bin/sh\n");
  }

  Status run(std::string_view current) {
    return removeOlderVersions(fs, console, log, kBase, dir(current));
  }

  std::vector<std::string> remaining() {
    std::vector<std::string> names;
    auto entries = fs.listDirectory(kBase);
    for (const auto& entry : *entries) names.push_back(entry.name);
    return names;
  }

  bool wasRead(std::string_view name) {
    std::string call = "openForReading " + dir(name) + "/_metadata.json";
    return std::ranges::find(fs.calls, call) != fs.calls.end();
  }

  testing::FakeFileSystem fs;
  testing::FakeConsole console;
  Environment environment;
  ErrorLog log{console, environment};
};

using Names = std::vector<std::string>;

TEST_F(Cleanup, RemovesOnlyOlderVersionsOfTheSameApplication) {
  install("a_0.1.2", "0.1.2");
  install("b_0.1.3", "0.1.3");
  install("c_0.2.0", "0.2.0");
  install("d_other", "0.0.1", "other_app");
  install("e_other_erts", "0.1.3", "demo_app", "16.0");
  install("f_case", "0.0.1", "Demo_app");
  ASSERT_TRUE(run("b_0.1.3"));
  EXPECT_EQ(remaining(), (Names{"b_0.1.3", "c_0.2.0", "d_other", "e_other_erts", "f_case"}));
  EXPECT_EQ(console.err, "[l] Uninstalled older version (v0.1.2)\n");
  EXPECT_EQ(console.out, "");
}

TEST_F(Cleanup, EachVersionOfAPreReleaseChainRemovesExactlyThoseBeforeIt) {
  const Names chain = {"1.0.0-alpha",  "1.0.0-alpha.1", "1.0.0-alpha.beta", "1.0.0-beta",
                       "1.0.0-beta.2", "1.0.0-beta.11", "1.0.0-rc.1",       "1.0.0"};
  for (std::size_t current = 0; current < chain.size(); ++current) {
    fs = {};
    console = {};
    // Directory names sort against version order, so the listing order is not what decides.
    for (std::size_t i = 0; i < chain.size(); ++i) install("v" + std::to_string(9 - i), chain[i]);
    ASSERT_TRUE(run("v" + std::to_string(9 - current)));

    Names expected;
    std::string lines;
    for (std::size_t i = chain.size(); i-- > 0;) {
      if (i >= current) expected.push_back("v" + std::to_string(9 - i));
      if (i < current) lines += "[l] Uninstalled older version (v" + chain[i] + ")\n";
    }
    EXPECT_EQ(remaining(), expected) << chain[current];
    EXPECT_EQ(console.err, lines) << chain[current];
  }
}

TEST_F(Cleanup, VersionsDifferingOnlyInBuildAreEqual) {
  install("a", "1.0.0+build.1");
  install("b", "1.0.0+build.2");
  ASSERT_TRUE(run("a"));
  ASSERT_TRUE(run("b"));
  EXPECT_EQ(remaining(), (Names{"a", "b"}));
  EXPECT_EQ(console.err, "");
}

TEST_F(Cleanup, PrintsTheVersionTextAsRecorded) {
  install("old", "0.9.0-rc.1+sha.007");
  install("new", "0.10.0");
  ASSERT_TRUE(run("new"));
  EXPECT_EQ(console.err, "[l] Uninstalled older version (v0.9.0-rc.1+sha.007)\n");
}

TEST_F(Cleanup, ReportsUnreadableDirectoriesAndKeepsThem) {
  install("current", "1.0.0");
  fs.addDirectory(dir("empty"));
  fs.addFile(dir("extra/_metadata.json"),
             R"({"app_name":"demo_app","app_version":"0.1.0","extra":"x"})");
  install("short_version", "1.0");
  fs.addDirectory(dir("metadata_is_dir/_metadata.json"));
  ASSERT_TRUE(run("current"));
  EXPECT_EQ(remaining(), (Names{"current", "empty", "extra", "metadata_is_dir", "short_version"}));
  EXPECT_EQ(console.err,
            "error: Failed to load the metadata file: /home/user/.wexlo/empty/_metadata.json\n"
            "error: Error when parsing metadata: UnknownField\n"
            "error: Failed to parse metadata file: /home/user/.wexlo/extra/_metadata.json\n"
            "error: Failed to load the metadata file: "
            "/home/user/.wexlo/metadata_is_dir/_metadata.json\n"
            "error: Failed to parse the app version: "
            "/home/user/.wexlo/short_version/_metadata.json\n");
}

TEST_F(Cleanup, PassesLinksAndFilesByWithoutReadingThem) {
  install("current", "1.0.0");
  install("elsewhere/old", "0.1.0");
  fs.addLink(dir("link_to_old"), dir("elsewhere/old"));
  fs.addFile(dir("notes.txt"), "{}");
  fs.addFile(dir("elsewhere/_metadata.json"), "not json");  // a directory but unparsable
  ASSERT_TRUE(run("current"));
  EXPECT_FALSE(wasRead("link_to_old"));
  EXPECT_FALSE(wasRead("notes.txt"));
  EXPECT_TRUE(fs.exists(dir("link_to_old")));
  EXPECT_TRUE(fs.exists(dir("elsewhere/old/_metadata.json")));
}

TEST_F(Cleanup, WithoutAReferenceRecordNothingIsRemoved) {
  fs.addDirectory(dir("current"));
  install("old", "0.1.0");
  fs.addDirectory(dir("stray"));
  ASSERT_TRUE(run("current"));
  EXPECT_EQ(remaining(), (Names{"current", "old", "stray"}));
  // The scan still reports what it cannot read, the current install included.
  EXPECT_EQ(console.err,
            "error: Failed to load the metadata file: /home/user/.wexlo/current/_metadata.json\n"
            "error: Failed to load the metadata file: /home/user/.wexlo/current/_metadata.json\n"
            "error: Failed to load the metadata file: /home/user/.wexlo/stray/_metadata.json\n");
}

TEST_F(Cleanup, RecordsWithoutAnApplicationNameNeverMatch) {
  fs.addFile(dir("current/_metadata.json"), R"({"app_version":"1.0.0"})");
  fs.addFile(dir("old/_metadata.json"), R"({"app_version":"0.1.0"})");
  fs.addFile(dir("old_named/_metadata.json"), R"({"app_name":"","app_version":"0.1.0"})");
  ASSERT_TRUE(run("current"));
  EXPECT_EQ(remaining(), (Names{"current", "old", "old_named"}));
  EXPECT_EQ(console.err, "");
}

TEST_F(Cleanup, RecordsWithoutAVersionAreReportedAndKept) {
  install("current", "1.0.0");
  fs.addFile(dir("old/_metadata.json"), R"({"app_name":"demo_app"})");
  ASSERT_TRUE(run("current"));
  EXPECT_EQ(remaining(), (Names{"current", "old"}));
  EXPECT_EQ(console.err,
            "error: Failed to parse the app version: /home/user/.wexlo/old/_metadata.json\n");
}

TEST_F(Cleanup, ADeletionFailureEndsTheCleanup) {
  install("a", "0.1.0");
  install("b", "0.1.1");
  install("c", "0.1.2");
  install("current", "1.0.0");
  // (One refused for want of permission leaves b whole: it is passed by, below.)
  fs.failOn(testing::FakeFileSystem::Op::DeleteTree, dir("b.wexlo-removing"), Failure::InputOutput);
  auto result = run("current");
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error(), Failure::InputOutput);
  EXPECT_EQ(remaining(), (Names{"b", "c", "current"}));
  EXPECT_EQ(console.err, "[l] Uninstalled older version (v0.1.0)\n");
  EXPECT_FALSE(wasRead("c"));
}

TEST_F(Cleanup, InstallsInUseArePassedByAndLeftoversOfEarlierRemovalsGo) {
  install("a_running", "0.1.0");
  install("b_unpacking", "0.1.1");
  install("c_free", "0.1.2");
  install("current", "1.0.0");
  fs.addFile(dir("d_old.wexlo-removing/lib/x"), "left");
  fs.holdLockElsewhere(dir("a_running/.wexlo-run.lock"), LockMode::Shared);
  fs.holdLockElsewhere(dir("b_unpacking/.wexlo-install.lock"), LockMode::Exclusive);
  ASSERT_TRUE(run("current"));
  EXPECT_EQ(remaining(), (Names{"a_running", "b_unpacking", "current"}));
  EXPECT_EQ(console.err, "[l] Uninstalled older version (v0.1.2)\n");
  EXPECT_TRUE(fs.heldLocks().empty());
}

TEST_F(Cleanup, AnInstallBeingUnpackedIsPassedBySilently) {
  install("current", "1.0.0");
  fs.addFile(dir("unpacking/lib/x"), "half");
  fs.addFile(dir("unpacking/.wexlo-install.lock"), "");
  fs.holdLockElsewhere(dir("unpacking/.wexlo-install.lock"), LockMode::Exclusive);
  fs.addDirectory(dir("broken"));
  ASSERT_TRUE(run("current"));
  EXPECT_EQ(console.err,
            "error: Failed to load the metadata file: " + dir("broken/_metadata.json") + "\n");
  EXPECT_EQ(remaining(), (Names{"broken", "current", "unpacking"}));
  // Only asked about, never made.
  EXPECT_FALSE(fs.exists(dir("broken/.wexlo-install.lock")));
}

TEST_F(Cleanup, ARecordLargerThanAnyLauncherCarriesIsUnusable) {
  install("current", "1.0.0");
  install("huge", "0.1.0");
  fs.addFile(dir("huge/_metadata.json"), std::string(kMaxMetadataRecordBytes + 1, ' '));
  install("largest", "0.1.1");
  std::string padded = fs.content(dir("largest/_metadata.json"));
  padded.resize(kMaxMetadataRecordBytes, ' ');
  fs.addFile(dir("largest/_metadata.json"), padded);
  ASSERT_TRUE(run("current"));
  EXPECT_EQ(remaining(), (Names{"current", "huge"}));
  EXPECT_EQ(console.err,
            "error: Error when parsing metadata: StreamTooLong\n"
            "error: Failed to parse metadata file: " +
                dir("huge/_metadata.json") + "\n[l] Uninstalled older version (v0.1.1)\n");
}

TEST_F(Cleanup, AnOlderInstallIsMovedAsideOnlyWhileBothItsLocksAreHeld) {
  install("current", "1.0.0");
  install("old", "0.1.0");
  ASSERT_TRUE(run("current"));
  ASSERT_EQ(fs.locksAtRenames.size(), 1u);
  // Where open files pin their directory, our own locks must go first.
  if (!kOpenFilesPinTheirDirectory) {
    EXPECT_EQ(fs.locksAtRenames[0],
              (std::map<std::string, std::string>{
                  {testing::FakeFileSystem::normalize(dir("old/.wexlo-install.lock")), "exclusive"},
                  {testing::FakeFileSystem::normalize(dir("old/.wexlo-run.lock")), "exclusive"}}));
  }
  EXPECT_TRUE(fs.heldLocks().empty());
}

TEST_F(Cleanup, InstallsThisUserMayNotRemoveStayWhole) {
  install("a_locked", "0.1.0");
  install("b_renamed", "0.1.1");
  install("current", "1.0.0");
  fs.failOn(testing::FakeFileSystem::Op::Lock, dir("a_locked/.wexlo-install.lock"),
            Failure::ReadOnlyFileSystem);
  fs.failOn(testing::FakeFileSystem::Op::Rename, dir("b_renamed"), Failure::AccessDenied);
  ASSERT_TRUE(run("current"));
  EXPECT_EQ(remaining(), (Names{"a_locked", "b_renamed", "current"}));
  EXPECT_EQ(console.err, "");
  // Other failures still end the cleanup.
  fs.failOn(testing::FakeFileSystem::Op::Rename, dir("b_renamed"), Failure::InputOutput);
  EXPECT_EQ(run("current").error(), Failure::InputOutput);
}

TEST_F(Cleanup, ListingAndReadFailuresEndTheCleanup) {
  install("current", "1.0.0");
  install("old", "0.1.0");

  fs.failOn(testing::FakeFileSystem::Op::ListDirectory, kBase, Failure::AccessDenied);
  EXPECT_EQ(run("current").error(), Failure::AccessDenied);
  EXPECT_FALSE(wasRead("current"));

  fs = {};
  install("current", "1.0.0");
  install("old", "0.1.0");
  // A record larger than any real one is unusable, like one that does not
  // parse: reported, and nothing is removed without a usable reference.
  fs.failOn(testing::FakeFileSystem::Op::ReadAll, dir("current/_metadata.json"),
            Failure::StreamTooLong);
  EXPECT_TRUE(run("current").has_value());
  EXPECT_EQ(remaining(), (Names{"current", "old"}));
  const std::string unusable =
      "error: Error when parsing metadata: StreamTooLong\n"
      "error: Failed to parse metadata file: " +
      dir("current/_metadata.json") + "\n";
  EXPECT_EQ(console.err, unusable + unusable);
  console.err.clear();

  fs = {};
  install("a_unreadable", "0.0.1");
  install("current", "1.0.0");
  install("old", "0.1.0");
  fs.failOn(testing::FakeFileSystem::Op::ReadAll, dir("a_unreadable/_metadata.json"),
            Failure::ReadFailed);
  EXPECT_EQ(run("current").error(), Failure::ReadFailed);
  EXPECT_EQ(remaining(), (Names{"a_unreadable", "current", "old"}));
  EXPECT_EQ(console.err, "");
}

TEST(ReadInstallRecord, YieldsTheRecordAndItsPaths) {
  testing::FakeFileSystem fs;
  testing::FakeConsole console;
  Environment environment;
  ErrorLog log(console, environment);
  fs.addFile("/base/x/_metadata.json",
             R"({"app_name":"demo_app","app_version":"0.1.3-rc.2","erts_version":"17.1"})");
  auto record = readInstallRecord(fs, log, "/base/x");
  ASSERT_TRUE(record);
  ASSERT_TRUE(*record);
  EXPECT_EQ((*record)->metadataPath, "/base/x/_metadata.json");
  EXPECT_EQ((*record)->directory, "/base/x");
  EXPECT_EQ((*record)->metadata.ertsVersion, "17.1");
  EXPECT_EQ((*record)->version.patch, 3u);
  EXPECT_EQ((*record)->version.preRelease, (std::vector<std::string>{"rc", "2"}));
}

}  // namespace
}  // namespace wexlo
