#include "pack/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <sstream>

#include "platform/retry_posix.h"

namespace wexlo {

std::string quoted(const std::filesystem::path& path) { return "'" + path.string() + "'"; }

std::vector<std::string> splitWords(std::string_view text) {
  std::vector<std::string> words;
  std::istringstream in{std::string(text)};
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

namespace {

// How much of a file one read takes when it is read in pieces.
constexpr std::size_t kPieceSize = std::size_t{1} << 20;

class OpenFile {
 public:
  explicit OpenFile(int fd) : fd_(fd) {}
  ~OpenFile() { ::close(fd_); }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

PackResult<void> cannotRead(const std::filesystem::path& path, std::string_view what, int error) {
  return packError("cannot read " + std::string(what) + " " + quoted(path) + ": " +
                   std::strerror(error));
}

// Opens a regular file for reading, and tells its size.
PackResult<std::unique_ptr<OpenFile>> openRegular(const std::filesystem::path& path,
                                                  std::string_view what, Links links,
                                                  struct stat& status) {
  const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | (links == Links::Refuse ? O_NOFOLLOW : 0);
  const int fd = ::open(path.c_str(), flags);
  if (fd < 0 && errno == ENOENT)
    return packError(std::string(what) + " not found: " + quoted(path));
  if (fd < 0 && errno == ELOOP) {
    return packError(std::string(what) + " is a symbolic link: " + quoted(path));
  }
  if (fd < 0) return std::unexpected(cannotRead(path, what, errno).error());
  auto file = std::make_unique<OpenFile>(fd);
  if (::fstat(fd, &status) != 0) return std::unexpected(cannotRead(path, what, errno).error());
  if (!S_ISREG(status.st_mode)) {
    return packError(std::string(what) + " is not a regular file: " + quoted(path));
  }
  return file;
}

// One read into `buffer`: the count read, 0 at the end, or -1 with errno set.
ssize_t readSome(int fd, std::span<std::uint8_t> buffer) {
  return retryAfterSignal([&] { return ::read(fd, buffer.data(), buffer.size()); });
}

}  // namespace

PackResult<void> readWholeFile(const std::filesystem::path& path, std::string_view what,
                               Links links, std::vector<std::uint8_t>& into) {
  struct stat status {};
  auto file = openRegular(path, what, links, status);
  if (!file) return std::unexpected(file.error());
  // The file may grow while it is read.
  into.resize(static_cast<std::size_t>(status.st_size));
  std::size_t done = 0;
  while (true) {
    if (done == into.size()) into.resize(done + 65536);
    const ssize_t got = readSome((*file)->fd(), std::span(into).subspan(done));
    if (got < 0) return cannotRead(path, what, errno);
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  into.resize(done);
  return {};
}

PackResult<void> readFileInPieces(
    const std::filesystem::path& path, std::string_view what, Links links, std::uint64_t size,
    const std::function<PackResult<void>(std::span<const std::uint8_t>)>& take) {
  struct stat status {};
  auto file = openRegular(path, what, links, status);
  if (!file) return std::unexpected(file.error());
  const auto changed = [&] {
    return packError(std::string(what) + " " + quoted(path) +
                     " changed while it was packed; pack again once it stays put");
  };
  if (static_cast<std::uint64_t>(status.st_size) != size) return changed();
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(
      std::min<std::uint64_t>(kPieceSize, std::max<std::uint64_t>(size, 1))));
  std::uint64_t done = 0;
  while (true) {
    const ssize_t got = readSome((*file)->fd(), buffer);
    if (got < 0) return cannotRead(path, what, errno);
    if (got == 0) break;
    done += static_cast<std::uint64_t>(got);
    if (done > size) return changed();
    if (auto taken = take(std::span(buffer).first(static_cast<std::size_t>(got))); !taken)
      return taken;
  }
  if (done != size) return changed();
  return {};
}

}  // namespace wexlo
