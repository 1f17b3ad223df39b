// The archive walk hands out only views into the archive, and every path the
// entry-path check accepts stays strictly inside the directory it unpacks to.
// Walked as a stream of small blocks, the archive yields the same entries and
// fails where the whole walk fails.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>

#include "format/archive_reader.h"
#include "format/archive_stream.h"
#include "fuzz_check.h"

namespace {

// Judged with std::filesystem rather than by components, plus what only
// Windows treats as a separator or a drive.
bool staysBelowRoot(std::string_view path) {
  const std::filesystem::path root = "/root/app";
  const auto relative = (root / std::string(path)).lexically_normal().lexically_relative(root);
  const bool driveLetter =
      path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
  return !relative.empty() && relative != "." && *relative.begin() != ".." &&
         !path.contains('\\') && !driveLetter;
}

// The input in blocks of a few bytes, their size drawn from its length.
class SmallBlocks : public wexlo::ByteBlocks {
 public:
  explicit SmallBlocks(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  std::expected<std::optional<std::span<const std::uint8_t>>, wexlo::DecodeFailure> next()
      override {
    if (bytes_.empty()) return std::nullopt;
    const auto block = bytes_.first(std::min<std::size_t>(bytes_.size(), 1 + bytes_.size() % 13));
    bytes_ = bytes_.subspan(block.size());
    return block;
  }

 private:
  std::span<const std::uint8_t> bytes_;
};

// The next entry of the stream, its content gathered.
struct StreamEntry {
  std::string path;
  std::string content;
  std::uint64_t mode = 0;
};
std::optional<StreamEntry> nextOf(wexlo::ArchiveStream& stream, bool& failed) {
  auto entry = stream.nextEntry();
  failed = !entry;
  if (!entry || !*entry) return std::nullopt;
  StreamEntry gathered{std::string((*entry)->path), {}, 0};
  while (true) {
    auto piece = stream.nextPiece();
    FUZZ_CHECK(piece);
    if (piece->empty()) break;
    gathered.content.append(reinterpret_cast<const char*>(piece->data()), piece->size());
  }
  auto mode = stream.mode();
  FUZZ_CHECK(mode);
  gathered.mode = *mode;
  return gathered;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Past that size a path may be long enough for the stream to refuse.
  if (size > wexlo::kLongestEntryPath) return 0;
  auto reader = wexlo::ArchiveReader::open({data, size});
  SmallBlocks blocks({data, size});
  wexlo::ArchiveStream stream(blocks, size);
  FUZZ_CHECK(stream.open().has_value() == reader.has_value());
  if (!reader) return 0;
  while (true) {
    auto entry = reader->next();
    bool streamFailed = false;
    auto streamed = nextOf(stream, streamFailed);
    FUZZ_CHECK(streamFailed == !entry);
    FUZZ_CHECK(streamed.has_value() == (entry && *entry));
    if (!entry || !*entry) break;
    const wexlo::ArchiveEntry& e = **entry;
    FUZZ_CHECK(wexlo::fuzz::withinInput(e.path.data(), e.path.size(), data, size));
    FUZZ_CHECK(wexlo::fuzz::withinInput(e.content.data(), e.content.size(), data, size));
    if (wexlo::checkEntryPath(e.path)) FUZZ_CHECK(staysBelowRoot(e.path));
    FUZZ_CHECK(streamed->path == e.path && streamed->mode == e.mode &&
               std::ranges::equal(streamed->content, e.content, [](char a, std::uint8_t b) {
                 return static_cast<std::uint8_t>(a) == b;
               }));
  }
  return 0;
}
