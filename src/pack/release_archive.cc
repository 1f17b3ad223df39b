#include "pack/release_archive.h"

#include <lzma.h>

#include <algorithm>

#include "format/archive_reader.h"
#include "format/archive_writer.h"
#include "pack/files.h"
#include "pack/release_cookie.h"

namespace wexlo {

namespace {

std::span<const std::uint8_t> asBytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

PackResult<void> putEntry(const ReleaseFile& file, const ArchiveSink& sink) {
  const auto head = archiveEntryHead(file.path, file.size);
  if (!head) return packError("a launcher cannot carry the path '" + file.path + "'");
  if (auto put = sink(*head); !put) return put;
  if (file.source.empty()) {
    if (auto put = sink(asBytes(file.content)); !put) return put;
  } else if (auto read =
                 readFileInPieces(file.source, "release file", Links::Refuse, file.size, sink);
             !read) {
    return read;
  }
  return sink(archiveEntryTail(file.mode));
}

PackResult<void> putEntries(std::span<const ReleaseFile> files, const ArchiveSink& sink) {
  for (const ReleaseFile& file : files) {
    if (auto put = putEntry(file, sink); !put) return put;
  }
  return {};
}

}  // namespace

std::uint64_t releaseArchiveSize(const Release& release) {
  std::uint64_t total = kArchiveOverhead;
  for (const auto& file : release.files) total += archiveEntrySize(file.path.size(), file.size);
  return total;
}

PackResult<void> streamReleaseArchive(const Release& release, bool deriveCookie,
                                      const ArchiveSink& sink) {
  const auto cookie = std::ranges::find(release.files, "releases/COOKIE", &ReleaseFile::path);
  if (deriveCookie && cookie == release.files.end()) {
    return packError("the release holds no placeholder for its cookie");
  }
  const auto split = deriveCookie ? cookie - release.files.begin() : release.files.size();
  const auto before = std::span(release.files).first(static_cast<std::size_t>(split));
  std::span<const ReleaseFile> after = std::span(release.files).subspan(before.size());

  std::uint64_t digest = 0;
  const ArchiveSink digestOnly = [&](std::span<const std::uint8_t> bytes) -> PackResult<void> {
    digest = lzma_crc64(bytes.data(), bytes.size(), digest);
    return {};
  };
  const ArchiveSink both = [&](std::span<const std::uint8_t> bytes) -> PackResult<void> {
    digestOnly(bytes);
    return sink(bytes);
  };
  const ArchiveSink& first = deriveCookie ? both : sink;
  if (auto put = first(asBytes(kArchiveMagic)); !put) return put;
  if (auto put = putEntries(before, first); !put) return put;

  std::vector<ReleaseFile> filled;
  if (deriveCookie) {
    if (auto put = putEntries(after, digestOnly); !put) return put;
    digestOnly(asBytes(kArchiveMagic));
    filled.assign(after.begin(), after.end());
    filled.front().content = cookieFromDigest(digest);
    filled.front().size = filled.front().content.size();
    after = filled;
  }
  if (auto put = putEntries(after, sink); !put) return put;
  return sink(asBytes(kArchiveMagic));
}

PackResult<std::vector<std::uint8_t>> buildReleaseArchive(const Release& release) {
  std::vector<std::uint8_t> archive;
  archive.reserve(static_cast<std::size_t>(releaseArchiveSize(release)));
  auto built = streamReleaseArchive(release, false, [&](std::span<const std::uint8_t> bytes) {
    archive.insert(archive.end(), bytes.begin(), bytes.end());
    return PackResult<void>{};
  });
  if (!built) return std::unexpected(built.error());
  return archive;
}

}  // namespace wexlo
