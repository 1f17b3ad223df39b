#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "format/archive_reader.h"

namespace wexlo {
namespace {

using Bytes = std::vector<std::uint8_t>;

void appendU64(Bytes& out, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void appendText(Bytes& out, std::string_view text) {
  out.insert(out.end(), text.begin(), text.end());
}

void appendEntry(Bytes& out, std::string_view path, std::string_view content,
                 std::uint64_t mode = 0100644) {
  appendU64(out, path.size());
  appendText(out, path);
  appendU64(out, content.size());
  appendText(out, content);
  appendU64(out, mode);
}

Bytes archiveOf(std::initializer_list<std::pair<std::string_view, std::string_view>> entries,
                bool trailer = true) {
  Bytes out;
  appendText(out, "ZELPA");
  for (auto [path, content] : entries) appendEntry(out, path, content);
  if (trailer) appendText(out, "ZELPA");
  return out;
}

struct Walked {
  std::vector<std::string> paths;
  std::vector<std::string> contents;
  std::vector<std::uint64_t> modes;
  std::optional<Failure> failure;
};

Walked walk(const Bytes& archive) {
  Walked walked;
  auto reader = ArchiveReader::open(archive);
  if (!reader) {
    walked.failure = reader.error();
    return walked;
  }
  while (true) {
    auto entry = reader->next();
    if (!entry) {
      walked.failure = entry.error();
      return walked;
    }
    if (!*entry) return walked;
    walked.paths.emplace_back((*entry)->path);
    walked.contents.emplace_back((*entry)->content.begin(), (*entry)->content.end());
    walked.modes.push_back((*entry)->mode);
  }
}

TEST(ArchiveReader, WalksEntriesInOrder) {
  Bytes archive;
  appendText(archive, "ZELPA");
  appendEntry(archive, "lib/.wexlo", "");
  appendEntry(archive, "erts-13.1.5/bin/erl", "#!/bin/sh\n", 0100755);
  appendEntry(archive, "start_erl.data", "13.1.5 0.1.0\n");
  appendText(archive, "ZELPA");

  Walked walked = walk(archive);
  EXPECT_FALSE(walked.failure);
  EXPECT_EQ(walked.paths,
            (std::vector<std::string>{"lib/.wexlo", "erts-13.1.5/bin/erl", "start_erl.data"}));
  EXPECT_EQ(walked.contents, (std::vector<std::string>{"", "#!/bin/sh\n", "13.1.5 0.1.0\n"}));
  EXPECT_EQ(walked.modes, (std::vector<std::uint64_t>{0100644, 0100755, 0100644}));
}

TEST(ArchiveReader, EmptyArchivesAndMissingTrailer) {
  EXPECT_FALSE(walk(archiveOf({})).failure);
  EXPECT_TRUE(walk(archiveOf({})).paths.empty());
  // Too short to hold even one length: nothing to walk.
  EXPECT_FALSE(walk(Bytes{'Z', 'E', 'L', 'P', 'A'}).failure);

  // Without the trailer the last entry's mode lies past `end` but inside the
  // buffer, which is still a complete entry.
  Walked walked = walk(archiveOf({{"a", "1"}, {"b/c", "22"}}, /*trailer=*/false));
  EXPECT_FALSE(walked.failure);
  EXPECT_EQ(walked.paths, (std::vector<std::string>{"a", "b/c"}));
}

TEST(ArchiveReader, RefusesWrongMagic) {
  Bytes archive = archiveOf({{"a", "1"}});
  archive[0] = 'X';
  EXPECT_EQ(walk(archive).failure, Failure::BadHeader);
  EXPECT_EQ(walk(Bytes{'Z', 'E', 'L'}).failure, Failure::BadHeader);
  EXPECT_EQ(walk(Bytes{}).failure, Failure::BadHeader);
}

// Each case damages the second entry so that one of its pieces overruns; the
// first entry must still come through and the second must fail, never read.
TEST(ArchiveReader, RefusesEveryOverrun) {
  struct Case {
    const char* name;
    Bytes tail;
  };
  const std::uint64_t kHuge = std::numeric_limits<std::uint64_t>::max();
  std::vector<Case> cases;
  {
    Bytes tail;  // path length cut short
    appendText(tail, "\x03\x00\x00");
    cases.push_back({"short path length", tail});
  }
  {
    Bytes tail;
    appendU64(tail, 100);
    appendText(tail, "abc");
    cases.push_back({"path past end", tail});
  }
  {
    Bytes tail;
    appendU64(tail, kHuge);
    appendText(tail, "abcdefghijklmnopqrstuvwxyz");
    cases.push_back({"path length wraps", tail});
  }
  {
    Bytes tail;
    appendU64(tail, 1);
    appendText(tail, "p");
    appendText(tail, "\x01\x00");
    cases.push_back({"short content length", tail});
  }
  {
    Bytes tail;
    appendU64(tail, 1);
    appendText(tail, "p");
    appendU64(tail, 50);
    appendText(tail, "0123456789");
    cases.push_back({"content past end", tail});
  }
  {
    Bytes tail;
    appendU64(tail, 1);
    appendText(tail, "p");
    appendU64(tail, kHuge - 7);
    appendText(tail, "0123456789abcdefghijklmnopqrstuvwxyz");
    cases.push_back({"content length wraps", tail});
  }
  {
    Bytes tail;  // the mode's 8 bytes would need 3 more than the buffer holds
    appendU64(tail, 1);
    appendText(tail, "p");
    appendU64(tail, 0);
    cases.push_back({"mode past buffer", tail});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes archive = archiveOf({{"first", "ok"}}, /*trailer=*/false);
    archive.insert(archive.end(), c.tail.begin(), c.tail.end());
    appendText(archive, "ZELPA");
    Walked walked = walk(archive);
    EXPECT_EQ(walked.paths, (std::vector<std::string>{"first"}));
    EXPECT_EQ(walked.failure, Failure::CorruptedData);
  }
}

TEST(ArchiveReader, StaysFailedAfterCorruption) {
  Bytes archive = archiveOf({});
  archive.resize(5);
  appendU64(archive, 1000);
  appendText(archive, "ZELPA");
  auto reader = ArchiveReader::open(archive);
  ASSERT_TRUE(reader);
  EXPECT_EQ(reader->next().error(), Failure::CorruptedData);
  EXPECT_EQ(reader->next().error(), Failure::CorruptedData);
}

TEST(CheckEntryPath, AcceptsPlainRelativePaths) {
  for (std::string_view path :
       {"a", "lib/.wexlo", "erts-13.1.5/bin/erl", "releases/0.1.0/vm.args", "a..b/c.", "lib/x:y"}) {
    EXPECT_TRUE(checkEntryPath(path)) << path;
  }
}

TEST(CheckEntryPath, RefusesUnsafePaths) {
  using namespace std::string_view_literals;
  for (std::string_view path : {""sv, "/etc/passwd"sv, "."sv, ".."sv, "./a"sv, "a/./b"sv, "../a"sv,
                                "a/../../b"sv, "a/.."sv, "a//b"sv, "a\\b"sv, "..\\a"sv, "C:"sv,
                                "c:/windows"sv, "C:x"sv, "a\0b"sv, "lib/"sv, "/"sv}) {
    EXPECT_EQ(checkEntryPath(path).error(), Failure::BadPathName) << path;
  }
}

}  // namespace
}  // namespace wexlo
