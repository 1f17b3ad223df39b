#include "pack/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
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

// Reads the open regular file `fd` to its end; the file may grow meanwhile.
std::string readAll(int fd, const struct stat& status, std::vector<std::uint8_t>& into) {
  into.resize(static_cast<std::size_t>(status.st_size));
  std::size_t done = 0;
  std::string problem;
  while (true) {
    if (done == into.size()) into.resize(done + 65536);
    const ssize_t got =
        retryAfterSignal([&] { return ::read(fd, into.data() + done, into.size() - done); });
    if (got < 0) problem = std::strerror(errno);
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
  into.resize(done);
  return problem;
}

}  // namespace

PackResult<void> readWholeFile(const std::filesystem::path& path, std::string_view what,
                               Links links, std::vector<std::uint8_t>& into) {
  const int flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | (links == Links::Refuse ? O_NOFOLLOW : 0);
  const int fd = ::open(path.c_str(), flags);
  if (fd < 0 && errno == ENOENT)
    return packError(std::string(what) + " not found: " + quoted(path));
  if (fd < 0 && errno == ELOOP) {
    return packError(std::string(what) + " is a symbolic link: " + quoted(path));
  }
  if (fd < 0) {
    return packError("cannot read " + std::string(what) + " " + quoted(path) + ": " +
                     std::strerror(errno));
  }
  struct stat status {};
  std::string problem;
  if (::fstat(fd, &status) != 0) {
    problem = std::strerror(errno);
  } else if (!S_ISREG(status.st_mode)) {
    ::close(fd);
    return packError(std::string(what) + " is not a regular file: " + quoted(path));
  } else {
    problem = readAll(fd, status, into);
  }
  ::close(fd);
  if (!problem.empty()) {
    return packError("cannot read " + std::string(what) + " " + quoted(path) + ": " + problem);
  }
  return {};
}

}  // namespace wexlo
