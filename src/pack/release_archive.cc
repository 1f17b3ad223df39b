#include "pack/release_archive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "pack/archive_writer.h"

namespace wexlo {

namespace {

std::string quoted(const std::filesystem::path& path) { return "'" + path.string() + "'"; }

// Reads a regular file whole without following a link in its place.
PackResult<void> readRegularFile(const std::filesystem::path& path,
                                 std::vector<std::uint8_t>& into) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return packError("cannot read " + quoted(path) + ": " + std::strerror(errno));
  struct stat status {};
  std::string problem;
  if (::fstat(fd, &status) != 0) {
    problem = std::strerror(errno);
  } else if (!S_ISREG(status.st_mode)) {
    problem = "not a regular file";
  } else {
    into.resize(static_cast<std::size_t>(status.st_size));
    std::size_t done = 0;
    while (problem.empty()) {
      if (done == into.size()) into.resize(done + 65536);  // the file grew
      const ssize_t got = ::read(fd, into.data() + done, into.size() - done);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) problem = std::strerror(errno);
      if (got <= 0) break;
      done += static_cast<std::size_t>(got);
    }
    into.resize(done);
  }
  ::close(fd);
  if (!problem.empty()) return packError("cannot read " + quoted(path) + ": " + problem);
  return {};
}

}  // namespace

PackResult<std::vector<std::uint8_t>> buildReleaseArchive(const Release& release,
                                                          const ByteProgress& progress) {
  std::uint64_t total = kArchiveOverhead;
  for (const auto& file : release.files) total += archiveEntrySize(file.path.size(), file.size);

  ArchiveWriter writer(static_cast<std::size_t>(total));
  std::vector<std::uint8_t> content;
  std::uint64_t done = kArchiveOverhead;
  for (const auto& file : release.files) {
    content.clear();
    if (!file.source.empty()) {
      if (auto read = readRegularFile(file.source, content); !read)
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
