#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <string>
#include <utility>

#include "platform/errno_failure_posix.h"
#include "platform/file_closer_posix.h"
#include "platform/file_system.h"
#include "platform/memory.h"
#include "platform/retry_posix.h"

namespace wexlo {

namespace {

std::unexpected<Failure> fromErrno() { return fail(failureFromErrno(errno)); }

// Writable by the owner alone whatever the umask allows: others who could
// add or swap files in an install could run anything as its users.
constexpr mode_t kDirectoryMode = 0755;

// The permission bits a new file gets under the process's umask, applied to
// files that already existed too. The mask can only be read by setting it,
// so it is read once, when the file system is first used: before any
// thread of ours could be creating a file under a mask of zero.
mode_t permissionsUnderUmask(std::uint32_t mode) {
  static const mode_t mask = [] {
    mode_t m = ::umask(0);
    ::umask(m);
    return m;
  }();
  return static_cast<mode_t>(mode & 0777) & ~mask;
}

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }
  // Closes now and reports what close said (a delayed write error surfaces here).
  Status close() {
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR) return fromErrno();
    return {};
  }

 private:
  int fd_;
};

Status writeAll(int fd, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    ssize_t n = retryAfterSignal([&] { return ::write(fd, bytes.data(), bytes.size()); });
    if (n < 0) return fromErrno();
    bytes = bytes.subspan(static_cast<std::size_t>(n));
  }
  return {};
}

class PosixWritableFile : public WritableFile {
 public:
  PosixWritableFile(int fd, FileCloser& closer) : fd_(fd), closer_(closer) {}
  Status write(std::span<const std::uint8_t> piece) override { return writeAll(fd_.get(), piece); }
  Status finish(std::uint32_t mode) override {
    if (::fchmod(fd_.get(), permissionsUnderUmask(mode)) != 0) return fromErrno();
    return closer_.hand(fd_.release());
  }

 private:
  FileDescriptor fd_;
  FileCloser& closer_;
};

class PosixReadableFile : public ReadableFile {
 public:
  explicit PosixReadableFile(int fd) : fd_(fd) {}
  // A regular file's read returns less than asked only at its end, which
  // spares the read that would return nothing.
  void setRegular() { regular_ = true; }
  Result<std::string> readAll(std::size_t limit) override {
    std::string content;
    char buffer[1024];
    while (true) {
      ssize_t n = retryAfterSignal([&] { return ::read(fd_.get(), buffer, sizeof buffer); });
      if (n < 0) return fail(Failure::ReadFailed);
      if (n == 0) return content;
      std::size_t room = limit - content.size();
      if (static_cast<std::size_t>(n) >= room) return fail(Failure::StreamTooLong);
      try {
        content.append(buffer, static_cast<std::size_t>(n));
      } catch (const std::bad_alloc&) {
        return fail(Failure::OutOfMemory);
      }
      if (regular_ && static_cast<std::size_t>(n) < sizeof buffer) return content;
    }
  }

 private:
  FileDescriptor fd_;
  bool regular_ = false;
};

class PosixMappedFile : public MappedFile {
 public:
  PosixMappedFile(void* address, std::size_t size) : address_(address), size_(size) {}
  ~PosixMappedFile() override {
    if (size_ != 0) ::munmap(address_, size_);
  }
  std::span<const std::uint8_t> bytes() const override {
    return {static_cast<const std::uint8_t*>(address_), size_};
  }
  void release(std::span<const std::uint8_t> part) const override { releasePages(part); }

 private:
  void* address_;
  std::size_t size_;
};

class PosixFileLock : public FileLock {
 public:
  explicit PosixFileLock(int fd) : fd_(fd) {}

  Status keepAcrossHandOver() override {
    // flock() locks belong to the open file, so the runtime that replaces the
    // launcher holds this one until it exits.
    int flags = ::fcntl(fd_.get(), F_GETFD);
    if (flags < 0 || ::fcntl(fd_.get(), F_SETFD, flags & ~FD_CLOEXEC) != 0) return fromErrno();
    return {};
  }

 private:
  FileDescriptor fd_;  // closing the descriptor releases the lock
};

// Removes `name` inside the directory `dirFd`, never following links.
Status removeAt(int dirFd, const char* name) {
  struct stat st {};
  if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT ? Status{} : fromErrno();
  }
  if (!S_ISDIR(st.st_mode)) {
    if (::unlinkat(dirFd, name, 0) != 0 && errno != ENOENT) return fromErrno();
    return {};
  }
  int fd = ::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return fromErrno();
  // Entries can only be removed from a directory its owner may write to.
  if ((st.st_mode & S_IRWXU) != S_IRWXU) (void)::fchmod(fd, st.st_mode | S_IRWXU);
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    Failure failure = failureFromErrno(errno);
    ::close(fd);
    return fail(failure);
  }
  Status result;
  while (result) {
    errno = 0;
    dirent* entry = ::readdir(dir);
    if (entry == nullptr) {
      if (errno != 0) result = fromErrno();
      break;
    }
    std::string_view child = entry->d_name;
    if (child == "." || child == "..") continue;
    result = removeAt(::dirfd(dir), entry->d_name);
  }
  ::closedir(dir);
  if (!result) return result;
  if (::unlinkat(dirFd, name, AT_REMOVEDIR) != 0 && errno != ENOENT) return fromErrno();
  return {};
}

EntryKind kindOf(mode_t mode) {
  if (S_ISDIR(mode)) return EntryKind::Directory;
  if (S_ISREG(mode)) return EntryKind::File;
  if (S_ISLNK(mode)) return EntryKind::Link;
  return EntryKind::Other;
}

class PosixFileSystem : public FileSystem {
 public:
  PosixFileSystem() { (void)permissionsUnderUmask(0); }

  Status makePath(std::string_view path) override {
    std::string p(path);
    // Later runs find the whole path in place: one stat instead of a mkdir
    // per component.
    if (struct stat st{}; ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return {};
    // Create each ancestor in turn, from the top; existing directories
    // (or links to them) are fine.
    for (std::size_t end = 1; end <= p.size(); ++end) {
      if (end != p.size() && p[end] != '/') continue;
      if (p[end - 1] == '/') continue;
      std::string prefix = p.substr(0, end);
      if (::mkdir(prefix.c_str(), kDirectoryMode) == 0) continue;
      int error = errno;
      struct stat st {};
      if (error == EEXIST) {
        if (::stat(prefix.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
        return fail(Failure::NotDir);
      }
      // A refused create of a directory that exists (a read-only parent)
      // is not a failure.
      if (::stat(prefix.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
      return fail(failureFromErrno(error));
    }
    return {};
  }

  Status makeDirectory(std::string_view path) override {
    const std::string p(path);
    if (::mkdir(p.c_str(), kDirectoryMode) == 0) return {};
    if (errno != EEXIST) return fromErrno();
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
      return fail(Failure::PathAlreadyExists);
    // A link where a directory belongs would lead the writes below it
    // elsewhere: it goes, and a real directory takes its place.
    if (::unlink(p.c_str()) != 0 || ::mkdir(p.c_str(), kDirectoryMode) != 0) return fromErrno();
    return {};
  }

  Status checkExists(std::string_view path) override {
    struct stat st {};
    if (::lstat(std::string(path).c_str(), &st) != 0) return fromErrno();
    return {};
  }

  Status writeFile(std::string_view path, std::span<const std::uint8_t> content,
                   std::uint32_t mode) override {
    mode_t permissions = permissionsUnderUmask(mode);
    const std::string p(path);
    constexpr int kFlags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW;
    // O_NOFOLLOW: a link planted where a file belongs is never written
    // through; it is removed and the file written in its place.
    int opened = ::open(p.c_str(), kFlags, permissions);
    if (opened < 0 && errno == ELOOP && ::unlink(p.c_str()) == 0) {
      opened = ::open(p.c_str(), kFlags, permissions);
    }
    FileDescriptor fd(opened);
    if (fd.get() < 0) return fromErrno();
    Status written = writeAll(fd.get(), content);
    if (written && ::fchmod(fd.get(), permissions) != 0) written = fromErrno();
    Status closed = fd.close();
    return written ? closed : written;
  }

  Result<std::unique_ptr<WritableFile>> createFile(std::string_view path) override {
    const std::string p(path);
    constexpr int kFlags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW;
    int opened = ::open(p.c_str(), kFlags, 0600);
    if (opened < 0 && errno == ELOOP && ::unlink(p.c_str()) == 0)
      opened = ::open(p.c_str(), kFlags, 0600);
    if (opened < 0) return fromErrno();
    auto file = std::make_unique<PosixWritableFile>(opened, closer_);
    // An existing file keeps its bits through O_TRUNC: it is made private too.
    if (::fchmod(opened, 0600) != 0) return fromErrno();
    return file;
  }

  Result<std::unique_ptr<ReadableFile>> openForReading(std::string_view path) override {
    int fd = ::open(std::string(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return fromErrno();
    auto file = std::make_unique<PosixReadableFile>(fd);
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) return fail(Failure::IsDir);
    if (S_ISREG(st.st_mode)) file->setRegular();
    return file;
  }

  Result<std::unique_ptr<MappedFile>> mapReadOnly(std::string_view path) override {
    FileDescriptor fd(::open(std::string(path).c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return fromErrno();
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return fromErrno();
    auto size = static_cast<std::size_t>(st.st_size);
    if (size == 0) return std::make_unique<PosixMappedFile>(nullptr, 0);
    void* address = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd.get(), 0);
    if (address == MAP_FAILED) return fromErrno();
    return std::make_unique<PosixMappedFile>(address, size);
  }

  Result<std::vector<DirectoryEntry>> listDirectory(std::string_view path) override {
    DIR* dir = ::opendir(std::string(path).c_str());
    if (dir == nullptr) return fromErrno();
    std::vector<DirectoryEntry> entries;
    while (true) {
      errno = 0;
      dirent* entry = ::readdir(dir);
      if (entry == nullptr) {
        int error = errno;
        ::closedir(dir);
        if (error != 0) return fail(failureFromErrno(error));
        return entries;
      }
      std::string_view name = entry->d_name;
      if (name == "." || name == "..") continue;
      EntryKind kind = EntryKind::Other;
      switch (entry->d_type) {
        case DT_DIR:
          kind = EntryKind::Directory;
          break;
        case DT_REG:
          kind = EntryKind::File;
          break;
        case DT_LNK:
          kind = EntryKind::Link;
          break;
        case DT_UNKNOWN: {
          struct stat st {};
          if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
            kind = kindOf(st.st_mode);
          }
          break;
        }
        default:
          break;
      }
      entries.push_back({std::string(name), kind});
    }
  }

  Status deleteTree(std::string_view path) override {
    return removeAt(AT_FDCWD, std::string(path).c_str());
  }

  Status flushFileSystem(std::string_view path) override {
    // Every file written is closed, and its close checked, first.
    if (auto closed = closer_.drain(); !closed) return closed;
    FileDescriptor fd(::open(std::string(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0) return fromErrno();
#ifdef __linux__
    if (::syncfs(fd.get()) != 0) return fromErrno();
#else
    ::sync();
#endif
    return {};
  }

  Status rename(std::string_view from, std::string_view to) override {
    if (::rename(std::string(from).c_str(), std::string(to).c_str()) != 0) return fromErrno();
    return {};
  }

  Result<std::unique_ptr<FileLock>> lock(std::string_view path, LockMode mode) override {
    return lockFile(path, mode, 0);
  }

  Result<std::unique_ptr<FileLock>> tryLock(std::string_view path, LockMode mode) override {
    return lockFile(path, mode, LOCK_NB);
  }

  Result<bool> isLockedExclusively(std::string_view path) override {
    FileDescriptor fd(
        ::open(std::string(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    if (fd.get() < 0) {
      if (errno == ENOENT || errno == ELOOP) return false;
      return fromErrno();
    }
    // The shared lock taken here goes with the descriptor.
    if (retryAfterSignal([&] { return ::flock(fd.get(), LOCK_SH | LOCK_NB); }) == 0) return false;
    if (errno == EWOULDBLOCK) return true;
    if (errno == ENOLCK || errno == EOPNOTSUPP) return false;
    return fromErrno();
  }

  Result<bool> deleteOwnFile(std::string_view path) override {
    const std::string p(path);
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0) return errno == ENOENT ? Result<bool>(false) : fromErrno();
    if (S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) return false;
    if (::unlink(p.c_str()) != 0) return errno == ENOENT ? Result<bool>(false) : fromErrno();
    return true;
  }

 private:
  static Result<std::unique_ptr<FileLock>> lockFile(std::string_view path, LockMode mode,
                                                    int flags) {
    const std::string p(path);
    // A file removed or replaced while this process waited for its lock (its
    // install was removed meanwhile) locks nothing that others see: the file
    // now at the name is locked instead, or FileNotFound when its directory
    // is gone too.
    while (true) {
      auto lock = openAndLock(p, mode, flags);
      if (!lock) return fail(lock.error());
      struct stat held {
      }, named{};
      if (::fstat(lock->second, &held) != 0) return fromErrno();
      if (::lstat(p.c_str(), &named) == 0) {
        if (held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
          return std::move(lock->first);
        }
      } else if (errno != ENOENT) {
        return fromErrno();
      }
    }
  }

  // The lock and its descriptor.
  static Result<std::pair<std::unique_ptr<FileLock>, int>> openAndLock(const std::string& p,
                                                                       LockMode mode, int flags) {
    // Read-only: flock() needs no more, so installs on a read-only file
    // system or owned by another user can be locked too. O_NONBLOCK: a FIFO
    // planted at the name must not hold the open up.
    constexpr int kFlags = O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    int fd = ::open(p.c_str(), kFlags, 0644);
    // A link planted at the lock's name is removed, never followed; so is an
    // empty directory there (rmdir leaves a full one, and EISDIR stands).
    if (fd < 0 && errno == ELOOP && ::unlink(p.c_str()) == 0) fd = ::open(p.c_str(), kFlags, 0644);
    if (fd < 0 && errno == EISDIR) {
      if (::rmdir(p.c_str()) != 0) return fail(Failure::IsDir);
      fd = ::open(p.c_str(), kFlags, 0644);
    }
    if (fd < 0) return fromErrno();
    auto lock = std::make_unique<PosixFileLock>(fd);
    const int operation = (mode == LockMode::Shared ? LOCK_SH : LOCK_EX) | flags;
    if (retryAfterSignal([&] { return ::flock(fd, operation); }) == 0) {
      return std::pair{std::unique_ptr<FileLock>(std::move(lock)), fd};
    }
    if (errno == EWOULDBLOCK) return fail(Failure::FileBusy);
    if (errno == ENOLCK || errno == EOPNOTSUPP) return fail(Failure::FileLocksUnsupported);
    return fromErrno();
  }

  FileCloser closer_;
};

}  // namespace

FileSystem& realFileSystem() {
  static PosixFileSystem fs;
  return fs;
}

}  // namespace wexlo
