// The file-system operations the launcher needs, behind one small interface:
// one real implementation per platform, and an in-memory fake for tests.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/failure.h"

namespace wexlo {

enum class EntryKind { Directory, File, Link, Other };

struct DirectoryEntry {
  std::string name;
  EntryKind kind;
};

// A file opened for reading; closed when destroyed.
class ReadableFile {
 public:
  virtual ~ReadableFile() = default;
  // Reads to the end of the file. Fails with StreamTooLong as soon as `limit`
  // bytes were read without reaching the end, so at most limit - 1 bytes fit.
  virtual Result<std::string> readAll(std::size_t limit) = 0;
};

// A read-only view of a whole file; the bytes stay valid while it lives.
class MappedFile {
 public:
  virtual ~MappedFile() = default;
  virtual std::span<const std::uint8_t> bytes() const = 0;
  // Gives back the memory holding `part` of the view where the platform can;
  // reading it again reads the file again.
  virtual void release(std::span<const std::uint8_t> /*part*/) const {}
};

// A file being written piece by piece, in order; closed when destroyed.
class WritableFile {
 public:
  virtual ~WritableFile() = default;
  // Appends `piece`.
  virtual Status write(std::span<const std::uint8_t> piece) = 0;
  // Gives the file the bits `mode & 0777` where the platform has Unix
  // permissions, starts writing it back to the disk without waiting for it,
  // and closes it. On POSIX the last two happen on a thread of their own: a
  // failure to close is then told by the next flushFileSystem.
  virtual Status finish(std::uint32_t mode) = 0;
};

enum class LockMode { Shared, Exclusive };

// A lock between processes on a lock file, released when destroyed or when
// the holding process dies.
class FileLock {
 public:
  virtual ~FileLock() = default;

  // Keeps the lock held by the program the launcher hands over to (on POSIX
  // the lock's descriptor survives exec); where the launcher waits for that
  // program instead, the launcher's own lock already covers it.
  virtual Status keepAcrossHandOver() = 0;
};

// Windows refuses to rename a directory while any file in it is open, lock
// files included; POSIX does not.
#ifdef _WIN32
inline constexpr bool kOpenFilesPinTheirDirectory = true;
#else
inline constexpr bool kOpenFilesPinTheirDirectory = false;
#endif

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // Creates the directory and every missing ancestor. An existing directory is
  // fine; a non-directory in the way fails with NotDir (or PathAlreadyExists).
  // Here and in makeDirectory, new directories are writable by their owner
  // alone (0755 at most, on platforms with Unix permissions).
  virtual Status makePath(std::string_view path) = 0;

  // Creates one directory: PathAlreadyExists when a directory or file of that
  // name exists, FileNotFound when the parent is missing. A link in its place
  // is removed, never followed, and the directory made.
  virtual Status makeDirectory(std::string_view path) = 0;

  // Succeeds when anything exists at `path`; FileNotFound when it (or its
  // parent) does not, AccessDenied when the query is refused.
  virtual Status checkExists(std::string_view path) = 0;

  // Creates or truncates `path` and writes all of `content`. On platforms with
  // Unix permissions the bits `mode & 0777` are applied, also to a file that
  // already existed; elsewhere `mode` is ignored. A link in the file's place is
  // removed and replaced by the file, never written through.
  virtual Status writeFile(std::string_view path, std::span<const std::uint8_t> content,
                           std::uint32_t mode) = 0;

  // Creates or truncates `path` for writing piece by piece, readable and
  // writable by its owner alone until finish() gives it its mode. A link in
  // the file's place is removed and replaced, never written through.
  virtual Result<std::unique_ptr<WritableFile>> createFile(std::string_view path) = 0;

  // Opens a file for reading. The handle is never inherited by child processes.
  virtual Result<std::unique_ptr<ReadableFile>> openForReading(std::string_view path) = 0;

  virtual Result<std::unique_ptr<MappedFile>> mapReadOnly(std::string_view path) = 0;

  // Lists a directory without following links; "." and ".." are left out.
  virtual Result<std::vector<DirectoryEntry>> listDirectory(std::string_view path) = 0;

  // Deletes `path` and everything below it. Links inside are removed, never
  // followed. A path that does not exist counts as deleted.
  virtual Status deleteTree(std::string_view path) = 0;

  // Makes everything written so far on the file system holding `path`
  // durable (POSIX: every finished file closed, then syncfs). Windows has no such call short of
  // flushing each file, which costs far more; there it does nothing.
  virtual Status flushFileSystem(std::string_view path) = 0;

  // Renames `from` to `to` in the same directory tree, replacing a file (not
  // a directory) at `to`. Fails with FileBusy or AccessDenied when the
  // platform refuses to move something in use.
  virtual Status rename(std::string_view from, std::string_view to) = 0;

  // Waits until this process holds the lock on the file at `path`, creating
  // the file when missing; a link or an empty directory at its name is
  // replaced by the file (a directory with files in it fails with IsDir). The
  // file is opened for reading only. FileLocksUnsupported where the file
  // system has none. A lock file removed while this process waited for it
  // is not held: the file at the name now is locked instead (FileNotFound
  // when its directory is gone). Where open files pin their directory, no
  // such removal can happen.
  virtual Result<std::unique_ptr<FileLock>> lock(std::string_view path, LockMode mode) = 0;

  // The same without waiting: FileBusy while another process holds a lock
  // that conflicts with `mode`.
  virtual Result<std::unique_ptr<FileLock>> tryLock(std::string_view path, LockMode mode) = 0;

  // Whether another process holds the lock on the file at `path`
  // exclusively. False when no such file exists; the file is never created,
  // nor a link at its name followed.
  virtual Result<bool> isLockedExclusively(std::string_view path) = 0;

  // Deletes the file at `path` only when the running user owns it (a link
  // is deleted, never followed); false when the file is another user's, a
  // directory, or gone.
  virtual Result<bool> deleteOwnFile(std::string_view path) = 0;
};

// The file system of the machine the launcher runs on.
FileSystem& realFileSystem();

}  // namespace wexlo
