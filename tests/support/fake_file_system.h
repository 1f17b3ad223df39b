// An in-memory file system for unit tests. Paths are '/'-separated; repeated
// separators are ignored. Failures can be injected per operation and path.
// writeFile may be called from several threads at once, as unpacking does;
// everything else from one thread at a time.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "support/printers.h"

namespace wexlo::testing {

class FakeFileSystem : public FileSystem {
 public:
  struct Node {
    EntryKind kind = EntryKind::File;
    std::string content;  // file content, or a link's target
    std::uint32_t mode = 0644;
    bool othersOwn = false;  // owned by another user
  };

  // Set-up helpers; parents are created as needed.
  void addDirectory(std::string_view path);
  void addFile(std::string_view path, std::string_view content, std::uint32_t mode = 0644);
  void addLink(std::string_view path, std::string_view target);
  void giveToAnotherUser(std::string_view path);

  // The operations whose failures can be injected, one per interface call
  // (ReadAll is the read of a file opened with openForReading).
  enum class Op {
    MakePath,
    MakeDirectory,
    CheckExists,
    WriteFile,
    OpenForReading,
    ReadAll,
    MapReadOnly,
    ListDirectory,
    DeleteTree,
    FlushFileSystem,
    Rename,
    Lock,
  };

  // The next calls of `operation` on exactly `path` fail with `failure`
  // (DeleteTree covers deleteOwnFile too).
  void failOn(Op operation, std::string_view path, Failure failure);

  // Another process holds a lock on `path`: tryLock() of a conflicting mode
  // fails with FileBusy, as it does against a lock this process holds
  // already (lock() waits for it, which a fake cannot, so it takes over as
  // if the other process had ended).
  void holdLockElsewhere(std::string_view path, LockMode mode);

  // The locks this process holds now, and whether each was kept for the
  // runtime (path -> "shared"/"exclusive", plus " kept").
  std::map<std::string, std::string> heldLocks() const;

  bool exists(std::string_view path) const;
  bool isDirectory(std::string_view path) const;
  const Node* node(std::string_view path) const;
  std::string content(std::string_view path) const;
  // Every path below `root` (relative, sorted), directories with a trailing '/'.
  std::vector<std::string> tree(std::string_view root = "") const;

  // Every operation call as "operation path", in order.
  std::vector<std::string> calls;
  // heldLocks() as it was at each rename, in order.
  std::vector<std::map<std::string, std::string>> locksAtRenames;

  Status makePath(std::string_view path) override;
  Status makeDirectory(std::string_view path) override;
  Status checkExists(std::string_view path) override;
  Status writeFile(std::string_view path, std::span<const std::uint8_t> content,
                   std::uint32_t mode) override;
  // Recorded as "writeFile path" and failed by Op::WriteFile, like writeFile;
  // the content grows as it is written.
  Result<std::unique_ptr<WritableFile>> createFile(std::string_view path) override;
  Result<std::unique_ptr<ReadableFile>> openForReading(std::string_view path) override;
  Result<std::unique_ptr<MappedFile>> mapReadOnly(std::string_view path) override;
  Result<std::vector<DirectoryEntry>> listDirectory(std::string_view path) override;
  Status deleteTree(std::string_view path) override;
  Status flushFileSystem(std::string_view path) override;
  Status rename(std::string_view from, std::string_view to) override;
  Result<std::unique_ptr<FileLock>> lock(std::string_view path, LockMode mode) override;
  Result<std::unique_ptr<FileLock>> tryLock(std::string_view path, LockMode mode) override;
  Result<bool> isLockedExclusively(std::string_view path) override;
  Result<bool> deleteOwnFile(std::string_view path) override;

  static std::string normalize(std::string_view path);
  static std::string parentOf(const std::string& normalized);

 private:
  Status injected(Op operation, std::string_view path);
  // A fresh mutex for every copy, so the fake stays copyable and swappable.
  struct CopyableMutex {
    std::mutex mutex;
    CopyableMutex() = default;
    CopyableMutex(const CopyableMutex&) {}
    CopyableMutex& operator=(const CopyableMutex&) { return *this; }
  };
  CopyableMutex writing_;
  std::map<std::string, Node> nodes_;  // normalized path -> node; "" is the root
  std::map<std::pair<Op, std::string>, Failure> failures_;
  std::map<std::string, LockMode> elsewhere_;
  // Every live lock of this process by a serial number: path and state.
  std::shared_ptr<std::map<int, std::pair<std::string, std::string>>> held_ =
      std::make_shared<std::map<int, std::pair<std::string, std::string>>>();
};

}  // namespace wexlo::testing
