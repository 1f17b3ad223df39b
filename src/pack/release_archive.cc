#include "pack/release_archive.h"

#include "format/archive_writer.h"
#include "pack/files.h"

namespace wexlo {

PackResult<std::vector<std::uint8_t>> buildReleaseArchive(const Release& release,
                                                          const ByteProgress& progress) {
  std::uint64_t total = kArchiveOverhead;
  for (const auto& file : release.files) total += archiveEntrySize(file.path.size(), file.size);

  ArchiveWriter writer(static_cast<std::size_t>(total));
  std::vector<std::uint8_t> content;
  std::uint64_t done = kArchiveOverhead;
  for (const auto& file : release.files) {
    content.assign(file.content.begin(), file.content.end());
    if (!file.source.empty()) {
      if (auto read = readWholeFile(file.source, "release file", Links::Refuse, content); !read)
        return std::unexpected(read.error());
    }
    if (!writer.add(file.path, content, file.mode)) {
      return packError("a launcher cannot carry the path '" + file.path + "'");
    }
    done += archiveEntrySize(file.path.size(), file.size);
    if (progress) progress(done, total);
  }
  if (progress) progress(total, total);
  return std::move(writer).finish();
}

}  // namespace wexlo
