#include <gtest/gtest.h>

#include <optional>

#include "install/unpack.h"
#include "support/fake_file_system.h"
#include "support/launcher_kit.h"
#include "support/sample_data.h"
#include "support/zstd_payloads.h"

namespace wexlo {
namespace {

using testing::ArchiveFile;
using testing::FakeFileSystem;

constexpr char kInstall[] = "/base/.wexlo/app_erts-1_0.1.0";

std::span<const std::uint8_t> bytesOf(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

std::string installed(std::string_view path) {
  return std::string(kInstall) + "/" + std::string(path);
}

// Forty files, five to a directory: d0/f0 ... d7/f39.
std::vector<ArchiveFile> fortyFiles() {
  std::vector<ArchiveFile> files;
  for (int i = 0; i < 40; ++i) {
    files.push_back({"d" + std::to_string(i / 5) + "/f" + std::to_string(i), std::to_string(i)});
  }
  return files;
}

TEST(UnpackArchive, PathsThatCouldEscapeAreRefusedBeforeAnythingIsWritten) {
  for (std::string bad : {"../evil", "/etc/passwd", "lib/../../x", "a\\b", "lib/./x", "C:x"}) {
    FakeFileSystem fresh;
    fresh.addDirectory(kInstall);
    std::string archive = testing::makeArchive({{"ok", "1"}, {bad, "2"}});
    EXPECT_EQ(unpackArchive(fresh, bytesOf(archive), kInstall).error(), Failure::BadPathName)
        << bad;
    EXPECT_EQ(fresh.content(installed("ok")), "1");
    EXPECT_EQ(fresh.tree(kInstall), std::vector<std::string>{"ok"}) << bad;
  }
}

TEST(UnpackArchive, OverrunningEntriesAreCorruptedDataBeforeTheyAreWritten) {
  std::string archive = testing::makeArchive({{"ok", "1"}, {"big", "content"}});
  archive.resize(archive.size() - 5 - 8 - 3);  // cut into the last entry's content
  archive += "ZELPA";
  FakeFileSystem fresh;
  fresh.addDirectory(kInstall);
  EXPECT_EQ(unpackArchive(fresh, bytesOf(archive), kInstall).error(), Failure::CorruptedData);
  EXPECT_FALSE(fresh.exists(installed("big")));
}

// However many threads write, the run ends with the failure of the first
// failing entry in archive order, and every entry before it is written.
TEST(UnpackArchive, AFailureNamesTheFirstFailingEntryInArchiveOrder) {
  struct Injected {
    FakeFileSystem::Op op;
    std::string path;
    Failure failure;
  };
  struct Case {
    const char* what;
    std::vector<Injected> injected;
    std::optional<std::string> badPath;  // replaces entry 35's path
    Failure expected;
    int firstFailing;
  };
  using Op = FakeFileSystem::Op;
  const std::vector<Case> cases{
      {"two failing files",
       {{Op::WriteFile, "d6/f30", Failure::NoSpaceLeft},
        {Op::WriteFile, "d2/f12", Failure::AccessDenied}},
       std::nullopt,
       Failure::AccessDenied,
       12},
      {"a file before a directory",
       {{Op::WriteFile, "d5/f25", Failure::AccessDenied},
        {Op::MakeDirectory, "d6", Failure::NoSpaceLeft}},
       std::nullopt,
       Failure::AccessDenied,
       25},
      {"a directory before a file",
       {{Op::MakeDirectory, "d4", Failure::NoSpaceLeft},
        {Op::WriteFile, "d6/f33", Failure::AccessDenied}},
       std::nullopt,
       Failure::NoSpaceLeft,
       20},
      {"a file before a bad path",
       {{Op::WriteFile, "d1/f5", Failure::FileBusy}},
       "../x",
       Failure::FileBusy,
       5},
      {"a bad path alone", {}, "../x", Failure::BadPathName, 35},
  };
  for (const Case& c : cases) {
    auto files = fortyFiles();
    if (c.badPath) files[35].path = *c.badPath;
    const std::string archive = testing::makeArchive(files);
    for (unsigned threads : {1u, 2u, 8u}) {
      for (int round = 0; round < 10; ++round) {
        FakeFileSystem fs;
        fs.addDirectory(kInstall);
        for (const auto& [op, path, failure] : c.injected) fs.failOn(op, installed(path), failure);
        EXPECT_EQ(unpackArchive(fs, bytesOf(archive), kInstall).error(), c.expected)
            << c.what << ", " << threads << " threads";
        for (int i = 0; i < c.firstFailing; ++i) {
          ASSERT_EQ(fs.content(installed(files[i].path)), files[i].content)
              << c.what << ", " << threads << " threads";
        }
      }
    }
  }
}

TEST(UnpackArchive, EntriesThatReuseAPathAreWrittenInArchiveOrder) {
  struct Case {
    const char* what;
    std::vector<ArchiveFile> files;
    std::vector<std::string> expectedWrites;  // in order
  };
  const std::vector<Case> cases{
      {"the same file twice", {{"a/x", "1"}, {"a/y", "2"}, {"a/x", "3"}}, {"a/x", "a/y", "a/x"}},
      {"names that differ in case only", {{"Lib/a", "1"}, {"lib/A", "2"}}, {"Lib/a", "lib/A"}},
  };
  for (const Case& c : cases) {
    FakeFileSystem fs;
    fs.addDirectory(kInstall);
    ASSERT_TRUE(unpackArchive(fs, bytesOf(testing::makeArchive(c.files)), kInstall)) << c.what;
    std::vector<std::string> writes;
    for (const auto& call : fs.calls) {
      if (call.starts_with("writeFile ")) writes.push_back(call.substr(11 + sizeof(kInstall) - 1));
    }
    EXPECT_EQ(writes, c.expectedWrites) << c.what;
    EXPECT_EQ(fs.content(installed(c.files.back().path)), c.files.back().content) << c.what;
  }
  // A file where a later entry needs a directory fails that entry, as it
  // does when written one by one.
  const std::string archive = testing::makeArchive({{"a", "1"}, {"a/b", "2"}});
  FakeFileSystem one, many;
  one.addDirectory(kInstall);
  many.addDirectory(kInstall);
  auto alone = unpackArchive(one, bytesOf(archive), kInstall);
  EXPECT_FALSE(alone);
  EXPECT_EQ(unpackArchive(many, bytesOf(archive), kInstall), alone);
  EXPECT_EQ(many.content(installed("a")), "1");
}

// Blocks of 4 KiB, decoded on one thread into a ring of one block or on
// three into a ring of eight: files that fit one block, straddle two, span
// many, hold nothing, or outgrow the whole ring arrive whole, with their modes.
TEST(UnpackStream, BothCodecsRoundTripAcrossBlockBoundaries) {
  constexpr std::uint64_t kBlock = 4096;
  auto text = [](std::size_t size, std::uint32_t seed) {
    const auto bytes = testing::sampleText(size, seed, 13);
    return std::string(bytes.begin(), bytes.end());
  };
  const std::vector<ArchiveFile> files{
      {"empty", "", 0100600},
      {"a/one", text(100, 1), 0100755},
      {"a/two", text(4000, 2)},
      {"a/b/many", text(40000, 3), 0100700},
      {"a/b/empty", ""},
      {"big", text(300000, 4)},
      {"z/after", text(5000, 5), 0100400},
  };
  const std::string archive = testing::makeArchive(files);
  const std::vector<std::pair<const char*, std::string>> payloads{
      {"xz", testing::xzCompress(archive, kBlock)},
      {"zstd", testing::zstdCompress(archive, kBlock)},
  };
  for (const auto& [codec, payload] : payloads) {
    for (const auto& [threads, budget] :
         {std::pair{1u, kBlock}, std::pair{3u, kDecodeMemoryBudget}}) {
      auto stream = PayloadStream::open(bytesOf(payload), archive.size(),
                                        {.threads = threads, .memoryBudget = budget, .done = {}});
      ASSERT_TRUE(stream) << codec;
      EXPECT_EQ((*stream)->slots(), threads == 1 ? 1u : 8u) << codec;
      FakeFileSystem fs;
      fs.addDirectory(kInstall);
      ASSERT_TRUE(unpackStream(fs, **stream, archive.size(), kInstall)) << codec << threads;
      for (const ArchiveFile& file : files) {
        EXPECT_EQ(fs.content(installed(file.path)), file.content) << codec << " " << file.path;
        EXPECT_EQ(fs.node(installed(file.path))->mode, file.mode & 0777) << codec << file.path;
      }
    }
  }
}

}  // namespace
}  // namespace wexlo
