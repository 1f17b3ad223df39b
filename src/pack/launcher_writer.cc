#include "pack/launcher_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <limits>
#include <optional>
#include <string>

#include "format/footer.h"

namespace wexlo {

namespace {

bool writeAll(int fd, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return false;
    if (written == 0) {
      errno = EIO;
      return false;
    }
    bytes = bytes.subspan(static_cast<std::size_t>(written));
  }
  return true;
}

// The temporary output while it exists, for the signal handler below.
char gTemporary[4096];

// Installed with SA_RESETHAND | SA_NODEFER: raising the signal again ends
// the packer the way the signal would have.
void removeTemporaryAndEnd(int signal) {
  ::unlink(gTemporary);
  ::raise(signal);
}

// While alive, an interrupted or terminated packer removes its temporary
// output before it ends, rather than leaving it beside the real one.
class TemporaryOutputGuard {
 public:
  explicit TemporaryOutputGuard(const std::string& path) {
    path.copy(gTemporary, sizeof gTemporary - 1);
    gTemporary[std::min(path.size(), sizeof gTemporary - 1)] = '\0';
    struct sigaction action {};
    action.sa_handler = removeTemporaryAndEnd;
    action.sa_flags = SA_RESETHAND | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
      ::sigaction(kSignals[i], &action, &previous_[i]);
    }
  }
  ~TemporaryOutputGuard() {
    for (std::size_t i = 0; i < kSignals.size(); ++i)
      ::sigaction(kSignals[i], &previous_[i], nullptr);
  }
  TemporaryOutputGuard(const TemporaryOutputGuard&) = delete;
  TemporaryOutputGuard& operator=(const TemporaryOutputGuard&) = delete;

 private:
  static constexpr std::array<int, 3> kSignals = {SIGINT, SIGTERM, SIGHUP};
  std::array<struct sigaction, 3> previous_{};
};

std::span<const std::uint8_t> asBytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace

PackResult<void> writeLauncher(const std::filesystem::path& output, const LauncherParts& parts) {
  constexpr auto kMaxLength = std::numeric_limits<std::uint32_t>::max();
  if (parts.metadataText.size() > kMaxLength || parts.appName.size() > kMaxLength) {
    return packError("metadata or application name too long");
  }
  const Footer footer{
      .payloadOffset = parts.stub.size(),
      .payloadLength = parts.payload.size(),
      .decompressedLength = parts.decompressedLength,
      .metadataOffset = parts.stub.size() + parts.payload.size(),
      .metadataLength = static_cast<std::uint32_t>(parts.metadataText.size()),
      .appNameLength = static_cast<std::uint32_t>(parts.appName.size()),
  };
  const auto footerBytes = encodeFooter(footer);

  const std::string target = output.string();
  std::filesystem::path directory = output.parent_path();
  if (directory.empty()) directory = ".";
  std::string temporary =
      (directory / ("." + output.filename().string() + ".wexlo-XXXXXX")).string();
  // Signals are held off until the guard knows the name to remove.
  sigset_t all, before;
  sigfillset(&all);
  ::sigprocmask(SIG_BLOCK, &all, &before);
  const int fd = ::mkstemp(temporary.data());
  std::optional<TemporaryOutputGuard> guard;
  if (fd >= 0) guard.emplace(temporary);
  ::sigprocmask(SIG_SETMASK, &before, nullptr);
  if (fd < 0) return packError("cannot write '" + target + "': " + std::strerror(errno));

  std::string problem;
  for (auto piece : {parts.stub, parts.payload, asBytes(parts.metadataText), asBytes(parts.appName),
                     std::span<const std::uint8_t>(footerBytes)}) {
    if (problem.empty() && !writeAll(fd, piece)) problem = std::strerror(errno);
  }
  if (problem.empty() && ::fchmod(fd, 0755) != 0) problem = std::strerror(errno);
  if (problem.empty() && ::fsync(fd) != 0) problem = std::strerror(errno);
  if (::close(fd) != 0 && problem.empty()) problem = std::strerror(errno);
  if (problem.empty() && ::rename(temporary.c_str(), target.c_str()) != 0) {
    problem = std::strerror(errno);
  }
  if (!problem.empty()) {
    ::unlink(temporary.c_str());
    return packError("cannot write '" + target + "': " + problem);
  }
  return {};
}

}  // namespace wexlo
