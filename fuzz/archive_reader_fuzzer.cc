// The archive walk hands out only views into the archive, and every path the
// entry-path check accepts stays strictly inside the directory it unpacks to.
#include <cctype>
#include <filesystem>
#include <string>

#include "format/archive_reader.h"
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto reader = wexlo::ArchiveReader::open({data, size});
  if (!reader) return 0;
  while (true) {
    auto entry = reader->next();
    if (!entry || !*entry) break;
    const wexlo::ArchiveEntry& e = **entry;
    FUZZ_CHECK(wexlo::fuzz::withinInput(e.path.data(), e.path.size(), data, size));
    FUZZ_CHECK(wexlo::fuzz::withinInput(e.content.data(), e.content.size(), data, size));
    if (wexlo::checkEntryPath(e.path)) FUZZ_CHECK(staysBelowRoot(e.path));
  }
  return 0;
}
