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
#include <utility>
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

constexpr auto kMaxLength = std::numeric_limits<std::uint32_t>::max();

class PosixLauncherOutput final : public LauncherOutput {
 public:
  explicit PosixLauncherOutput(const std::filesystem::path& output) : output_(output) {}

  ~PosixLauncherOutput() override {
    if (pending_.fd >= 0) ::close(pending_.fd);
    if (!pending_.temporary.empty()) ::unlink(pending_.temporary.c_str());
  }
  PosixLauncherOutput(const PosixLauncherOutput&) = delete;
  PosixLauncherOutput& operator=(const PosixLauncherOutput&) = delete;

  PackResult<void> start(std::span<const std::uint8_t> stub) {
    openPendingOutput(output_, pending_);
    if (pending_.fd < 0) return failed(errno);
    // A Windows stub's header checksum covers the whole launcher, so the
    // stub is written with that field zero, and the field is filled in last.
    const auto pe = image::readPeImage(stub);
    if (pe && pe->checksumOffset + 4 <= stub.size()) checksum_.emplace(pe->checksumOffset);
    stubSize_ = stub.size();
    if (!checksum_) return append(stub);
    const std::array<std::uint8_t, 4> zero{};
    const std::size_t at = checksum_->offset();
    if (auto put = append(stub.first(at)); !put) return put;
    if (auto put = append(zero); !put) return put;
    return append(stub.subspan(at + zero.size()));
  }

  PackResult<void> appendPayload(std::span<const std::uint8_t> bytes) override {
    payloadLength_ += bytes.size();
    return append(bytes);
  }

  std::uint64_t payloadLength() const override { return payloadLength_; }

  PackResult<void> finish(std::string_view metadataText, std::string_view appName,
                          std::uint64_t decompressedLength) override {
    if (metadataText.size() > kMaxLength || appName.size() > kMaxLength) {
      return packError("metadata or application name too long");
    }
    const Footer footer{
        .payloadOffset = stubSize_,
        .payloadLength = payloadLength_,
        .decompressedLength = decompressedLength,
        .metadataOffset = stubSize_ + payloadLength_,
        .metadataLength = static_cast<std::uint32_t>(metadataText.size()),
        .appNameLength = static_cast<std::uint32_t>(appName.size()),
    };
    const auto footerBytes = encodeFooter(footer);
    for (auto piece :
         {asBytes(metadataText), asBytes(appName), std::span<const std::uint8_t>(footerBytes)}) {
      if (auto put = append(piece); !put) return put;
    }
    if (checksum_) {
      std::array<std::uint8_t, 4> sum{};
      const std::uint32_t value = checksum_->finish();
      for (std::size_t i = 0; i < sum.size(); ++i)
        sum[i] = static_cast<std::uint8_t>(value >> (8 * i));
      const auto at = static_cast<off_t>(checksum_->offset());
      if (retryAfterSignal([&] { return ::pwrite(pending_.fd, sum.data(), sum.size(), at); }) !=
          static_cast<ssize_t>(sum.size())) {
        return failed(errno);
      }
    }
    if (::fchmod(pending_.fd, 0755) != 0 || ::fsync(pending_.fd) != 0) return failed(errno);
    // Nothing may end the packer between naming the file and moving it.
    const SignalsHeld held;
    int problem = 0;
    if (pending_.temporary.empty() && !nameUnnamedOutput(output_, pending_)) problem = errno;
    if (::close(std::exchange(pending_.fd, -1)) != 0 && problem == 0) problem = errno;
    if (problem == 0 && ::rename(pending_.temporary.c_str(), output_.c_str()) != 0) problem = errno;
    if (problem != 0 && !pending_.temporary.empty()) ::unlink(pending_.temporary.c_str());
    pending_.temporary.clear();
    if (problem != 0) return failed(problem);
    return {};
  }

 private:
  PackResult<void> append(std::span<const std::uint8_t> bytes) {
    if (!writeAll(pending_.fd, bytes)) return failed(errno);
    if (checksum_) checksum_->add(bytes);
    return {};
  }

  PackResult<void> failed(int error) const {
    return packError("cannot write '" + output_.string() + "': " + std::strerror(error));
  }

  std::filesystem::path output_;
  // A file size limit then fails the write with "File too large" rather
  // than ending the packer without a word; the signal stays ignored while
  // the temporary output exists.
  FileSizeLimitAsFailure sizeLimit_;
  PendingOutput pending_;
  std::optional<image::PeChecksum> checksum_;
  std::uint64_t stubSize_ = 0;
  std::uint64_t payloadLength_ = 0;
};

}  // namespace

PackResult<std::unique_ptr<LauncherOutput>> LauncherOutput::create(
    const std::filesystem::path& output, std::span<const std::uint8_t> stub) {
  auto launcher = std::make_unique<PosixLauncherOutput>(output);
  if (auto started = launcher->start(stub); !started) return std::unexpected(started.error());
  return std::unique_ptr<LauncherOutput>(std::move(launcher));
}

PackResult<void> writeLauncher(const std::filesystem::path& output, const LauncherParts& parts) {
  auto launcher = LauncherOutput::create(output, parts.stub);
  if (!launcher) return std::unexpected(launcher.error());
  if (auto put = (*launcher)->appendPayload(parts.payload); !put) return put;
  return (*launcher)->finish(parts.metadataText, parts.appName, parts.decompressedLength);
}

}  // namespace wexlo
