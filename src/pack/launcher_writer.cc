#include "pack/launcher_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "format/footer.h"
#include "image/pe_image.h"
#include "image/pe_writer.h"
#include "platform/process_start.h"
#include "platform/retry_posix.h"

namespace wexlo {

namespace {

bool writeAll(int fd, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t written =
        retryAfterSignal([&] { return ::write(fd, bytes.data(), bytes.size()); });
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

// Every signal that can be caught and whose default ends the process,
// whether another process sends it or the packer's own fault raises it.
std::vector<int> endingSignals() {
  std::vector<int> signals = {SIGHUP,  SIGINT,  SIGQUIT, SIGILL,  SIGTRAP,   SIGABRT, SIGBUS,
                              SIGFPE,  SIGSEGV, SIGPIPE, SIGALRM, SIGTERM,   SIGUSR1, SIGUSR2,
                              SIGXCPU, SIGXFSZ, SIGIO,   SIGSYS,  SIGVTALRM, SIGPROF};
#ifdef SIGPWR
  signals.push_back(SIGPWR);
#endif
#ifdef SIGSTKFLT
  signals.push_back(SIGSTKFLT);
#endif
#ifdef SIGRTMIN
  for (int signal = SIGRTMIN; signal <= SIGRTMAX; ++signal) signals.push_back(signal);
#endif
  return signals;
}

// While alive, a packer ended by a signal removes its named temporary
// output first, rather than leaving it beside the real one. Signals the
// packer was started with ignored stay ignored.
class TemporaryOutputGuard {
 public:
  explicit TemporaryOutputGuard(const std::string& path) : signals_(endingSignals()) {
    path.copy(gTemporary, sizeof gTemporary - 1);
    gTemporary[std::min(path.size(), sizeof gTemporary - 1)] = '\0';
    struct sigaction action {};
    action.sa_handler = removeTemporaryAndEnd;
    action.sa_flags = SA_RESETHAND | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    previous_.resize(signals_.size());
    installed_.resize(signals_.size());
    for (std::size_t i = 0; i < signals_.size(); ++i) {
      installed_[i] = ::sigaction(signals_[i], nullptr, &previous_[i]) == 0 &&
                      previous_[i].sa_handler != SIG_IGN &&
                      ::sigaction(signals_[i], &action, nullptr) == 0;
    }
  }
  ~TemporaryOutputGuard() {
    for (std::size_t i = 0; i < signals_.size(); ++i) {
      if (installed_[i]) ::sigaction(signals_[i], &previous_[i], nullptr);
    }
  }
  TemporaryOutputGuard(const TemporaryOutputGuard&) = delete;
  TemporaryOutputGuard& operator=(const TemporaryOutputGuard&) = delete;

 private:
  std::vector<int> signals_;
  std::vector<struct sigaction> previous_;
  std::vector<bool> installed_;
};

// Holds every signal off while alive.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t all;
    sigfillset(&all);
    ::sigprocmask(SIG_BLOCK, &all, &before_);
  }
  ~SignalsHeld() { ::sigprocmask(SIG_SETMASK, &before_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t before_;
};

// The output being written: a file without a name where the file system
// can make one (nothing is left behind, however the packer ends), or else a
// named temporary file beside the output that a signal handler removes.
struct PendingOutput {
  int fd = -1;
  std::string temporary;  // empty while the file has no name
  std::optional<TemporaryOutputGuard> guard;
};

std::string temporaryName(const std::filesystem::path& output, std::string_view suffix) {
  std::filesystem::path directory = output.parent_path();
  if (directory.empty()) directory = ".";
  return (directory / ("." + output.filename().string() + ".wexlo-" + std::string(suffix)))
      .string();
}

// Nothing but errno set when no file could be made.
void openPendingOutput(const std::filesystem::path& output, PendingOutput& pending) {
#ifdef O_TMPFILE
  std::filesystem::path directory = output.parent_path();
  if (directory.empty()) directory = ".";
  // The file is given its name through /proc at the end.
  if (::access("/proc/self/fd", X_OK) == 0) {
    pending.fd = ::open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (pending.fd >= 0) return;
  }
#endif
  std::string temporary = temporaryName(output, "XXXXXX");
  // Signals are held off until the guard knows the name to remove.
  const SignalsHeld held;
  pending.fd = ::mkstemp(temporary.data());
  if (pending.fd < 0) return;
  pending.temporary = temporary;
  pending.guard.emplace(temporary);
}

// Gives the unnamed file a temporary name, for the rename into place.
// Signals are held off by the caller until that rename is done.
bool nameUnnamedOutput(const std::filesystem::path& output, PendingOutput& pending) {
  const std::string self = "/proc/self/fd/" + std::to_string(pending.fd);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name =
        temporaryName(output, std::to_string(::getpid()) + "-" + std::to_string(attempt));
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      pending.temporary = std::move(name);
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

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
  // A file size limit then fails the write with "File too large" rather
  // than ending the packer without a word; the signal stays ignored while
  // the temporary output exists.
  const FileSizeLimitAsFailure sizeLimit;
  PendingOutput pending;
  openPendingOutput(output, pending);
  if (pending.fd < 0) return packError("cannot write '" + target + "': " + std::strerror(errno));

  // A Windows stub's header checksum covers the whole launcher, so the
  // stub is written around that field, filled in from the other pieces.
  std::size_t checksumAt = parts.stub.size();
  const auto pe = image::readPeImage(parts.stub);
  if (pe && pe->checksumOffset + 4 <= parts.stub.size()) checksumAt = pe->checksumOffset;
  const auto rest = std::min(parts.stub.size(), checksumAt + 4);
  const std::array<std::span<const std::uint8_t>, 6> pieces = {
      parts.stub.first(checksumAt),
      parts.stub.subspan(rest),
      parts.payload,
      asBytes(parts.metadataText),
      asBytes(parts.appName),
      std::span<const std::uint8_t>(footerBytes)};
  std::array<std::uint8_t, 4> checksumBytes{};
  if (pe) {
    image::PeChecksum checksum(checksumAt);
    checksum.add(pieces[0]);
    checksum.add(checksumBytes);
    for (std::size_t i = 1; i < pieces.size(); ++i) checksum.add(pieces[i]);
    const std::uint32_t sum = checksum.finish();
    for (std::size_t i = 0; i < 4; ++i)
      checksumBytes[i] = static_cast<std::uint8_t>(sum >> (8 * i));
  }
  const auto written = std::span<const std::uint8_t>(checksumBytes).first(rest - checksumAt);

  std::string problem;
  for (auto piece : {pieces[0], written, pieces[1], pieces[2], pieces[3], pieces[4], pieces[5]}) {
    if (problem.empty() && !writeAll(pending.fd, piece)) problem = std::strerror(errno);
  }
  if (problem.empty() && ::fchmod(pending.fd, 0755) != 0) problem = std::strerror(errno);
  if (problem.empty() && ::fsync(pending.fd) != 0) problem = std::strerror(errno);
  {
    // Nothing may end the packer between naming the file and moving it.
    const SignalsHeld held;
    if (problem.empty() && pending.temporary.empty() && !nameUnnamedOutput(output, pending)) {
      problem = std::strerror(errno);
    }
    if (::close(pending.fd) != 0 && problem.empty()) problem = std::strerror(errno);
    if (problem.empty() && ::rename(pending.temporary.c_str(), target.c_str()) != 0) {
      problem = std::strerror(errno);
    }
    if (!problem.empty() && !pending.temporary.empty()) ::unlink(pending.temporary.c_str());
  }
  if (!problem.empty()) return packError("cannot write '" + target + "': " + problem);
  return {};
}

}  // namespace wexlo
