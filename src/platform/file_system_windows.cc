#include <aclapi.h>

#include <algorithm>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/file_system.h"
#include "platform/file_tree_windows.h"
#include "platform/win32_util_windows.h"

namespace wexlo {

namespace {

using namespace win32;

// Largest single ReadFile/WriteFile request; the calls take a 32-bit length.
constexpr std::size_t kMaxTransfer = 1u << 30;

// The directory that holds `path` in extended form, or nothing at a root
// ("\\?\C:\", "\\?\UNC\server\share").
std::optional<std::wstring> parentOf(const std::wstring& path) {
  std::size_t rootEnd;
  if (path.starts_with(L"\\\\?\\UNC\\")) {
    auto server = path.find(L'\\', 8);
    if (server == std::wstring::npos) return std::nullopt;
    rootEnd = path.find(L'\\', server + 1);
    if (rootEnd == std::wstring::npos) return std::nullopt;
  } else {
    rootEnd = path.find(L'\\', 4);
    if (rootEnd == std::wstring::npos) return std::nullopt;
  }
  std::wstring trimmed = path;
  while (trimmed.size() > rootEnd + 1 && trimmed.back() == L'\\') trimmed.pop_back();
  auto slash = trimmed.rfind(L'\\');
  if (slash == std::wstring::npos || slash < rootEnd || trimmed.size() <= rootEnd + 1) {
    return std::nullopt;
  }
  return trimmed.substr(0, std::max(slash, rootEnd + 1));
}

Status createDirectory(const std::wstring& path) {
  if (CreateDirectoryW(path.c_str(), nullptr)) return {};
  return fail(win32::lastFailure());
}

Status makePathAt(const std::wstring& path) {
  // Walk back to the nearest ancestor that exists, then create forward.
  std::vector<std::wstring> missing{path};
  for (;;) {
    auto created = createDirectory(missing.back());
    if (created) {
      missing.pop_back();
      break;
    }
    if (created.error() == Failure::PathAlreadyExists) {
      // Made by someone else meanwhile, or there all along.
      if (auto isDir = requireDirectory(missing.back()); !isDir) return isDir;
      missing.pop_back();
      break;
    }
    if (created.error() != Failure::FileNotFound) return created;
    auto parent = parentOf(missing.back());
    if (!parent) return created;
    missing.push_back(std::move(*parent));
  }
  while (!missing.empty()) {
    auto created = createDirectory(missing.back());
    if (!created && created.error() == Failure::PathAlreadyExists) {
      if (auto isDir = requireDirectory(missing.back()); !isDir) return isDir;
    } else if (!created) {
      return created;
    }
    missing.pop_back();
  }
  return {};
}

// Writes `content` at `start` in the file.
Status writeAllAt(HANDLE file, std::span<const std::uint8_t> content, std::uint64_t start = 0) {
  std::uint64_t offset = 0;
  while (offset < content.size()) {
    auto chunk = static_cast<DWORD>(std::min<std::uint64_t>(content.size() - offset, kMaxTransfer));
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(start + offset);
    position.OffsetHigh = static_cast<DWORD>((start + offset) >> 32);
    DWORD written = 0;
    if (!WriteFile(file, content.data() + offset, chunk, &written, &position)) {
      return fail(win32::lastFailure());
    }
    if (written == 0) return fail(Failure::WriteFailed);
    offset += written;
  }
  return {};
}

class WindowsWritableFile final : public WritableFile {
 public:
  explicit WindowsWritableFile(UniqueHandle file) : file_(std::move(file)) {}
  Status write(std::span<const std::uint8_t> piece) override {
    auto written = writeAllAt(file_.get(), piece, offset_);
    if (written) offset_ += piece.size();
    return written;
  }
  // Windows has no permission bits to apply, nor a way to start writeback
  // without waiting for it.
  Status finish(std::uint32_t /*mode*/) override {
    if (!CloseHandle(file_.release())) return fail(win32::lastFailure());
    return {};
  }

 private:
  UniqueHandle file_;
  std::uint64_t offset_ = 0;
};

class WindowsReadableFile final : public ReadableFile {
 public:
  explicit WindowsReadableFile(UniqueHandle file) : file_(std::move(file)) {}

  Result<std::string> readAll(std::size_t limit) override {
    std::string content;
    for (;;) {
      if (content.size() >= limit) return fail(Failure::StreamTooLong);
      std::size_t before = content.size();
      std::size_t want = std::min(limit - before, std::max<std::size_t>(before, 4096));
      want = std::min(want, kMaxTransfer);
      content.resize(before + want);
      DWORD got = 0;
      if (!ReadFile(file_.get(), content.data() + before, static_cast<DWORD>(want), &got,
                    nullptr)) {
        DWORD error = GetLastError();
        if (error != ERROR_HANDLE_EOF && error != ERROR_BROKEN_PIPE) {
          return fail(win32::failureFromError(error));
        }
        got = 0;
      }
      content.resize(before + got);
      if (got == 0) return content;
    }
  }

 private:
  UniqueHandle file_;
};

class WindowsMappedFile final : public MappedFile {
 public:
  WindowsMappedFile(const void* view, std::size_t size)
      : view_(view), bytes_(static_cast<const std::uint8_t*>(view), size) {}
  ~WindowsMappedFile() override {
    if (view_ != nullptr) UnmapViewOfFile(view_);
  }
  WindowsMappedFile(const WindowsMappedFile&) = delete;
  WindowsMappedFile& operator=(const WindowsMappedFile&) = delete;

  std::span<const std::uint8_t> bytes() const override { return bytes_; }

 private:
  const void* view_;
  std::span<const std::uint8_t> bytes_;
};

class WindowsFileLock final : public FileLock {
 public:
  explicit WindowsFileLock(UniqueHandle file) : file_(std::move(file)) {}
  ~WindowsFileLock() override {
    OVERLAPPED whole{};
    UnlockFileEx(file_.get(), 0, MAXDWORD, MAXDWORD, &whole);
  }
  WindowsFileLock(const WindowsFileLock&) = delete;
  WindowsFileLock& operator=(const WindowsFileLock&) = delete;

  // The launcher waits for the runtime while it holds this lock.
  Status keepAcrossHandOver() override { return {}; }

 private:
  UniqueHandle file_;
};

// Whether the owner of the open file is the user this process runs as.
Result<bool> ownedByThisUser(HANDLE file) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  DWORD error = GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                                nullptr, nullptr, &descriptor);
  if (error != ERROR_SUCCESS) return fail(win32::failureFromError(error));
  struct Freed {
    PSECURITY_DESCRIPTOR d;
    ~Freed() { LocalFree(d); }
  } freed{descriptor};
  HANDLE rawToken = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &rawToken)) {
    return fail(win32::lastFailure());
  }
  UniqueHandle token(rawToken);
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  std::vector<std::uint8_t> buffer(size);
  if (size == 0 || !GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) {
    return fail(win32::lastFailure());
  }
  const auto* user = reinterpret_cast<const TOKEN_USER*>(buffer.data());
  return EqualSid(owner, user->User.Sid) != FALSE;
}

class WindowsFileSystem final : public FileSystem {
 public:
  Status makePath(std::string_view path) override {
    auto wide = win32::extendedPath(path);
    if (!wide) return std::unexpected(wide.error());
    return makePathAt(*wide);
  }

  Status makeDirectory(std::string_view path) override {
    auto wide = win32::extendedPath(path);
    if (!wide) return std::unexpected(wide.error());
    auto created = createDirectory(*wide);
    if (created || created.error() != Failure::PathAlreadyExists) return created;
    // A link where a directory belongs would lead the writes below it
    // elsewhere: it goes, and a real directory takes its place.
    auto removed = removeIfLink(*wide);
    if (!removed) return std::unexpected(removed.error());
    return *removed ? createDirectory(*wide) : created;
  }

  Status checkExists(std::string_view path) override {
    auto wide = win32::extendedPath(path);
    if (!wide) return fail(Failure::Unexpected);
    if (GetFileAttributesW(wide->c_str()) != INVALID_FILE_ATTRIBUTES) return {};
    DWORD error = GetLastError();
    if (isNotFound(error)) return fail(Failure::FileNotFound);
    if (error == ERROR_ACCESS_DENIED) return fail(Failure::AccessDenied);
    return fail(Failure::Unexpected);
  }

  Status writeFile(std::string_view path, std::span<const std::uint8_t> content,
                   std::uint32_t /*mode: Windows has no permission bits to apply*/) override {
    auto wide = win32::extendedPath(path);
    if (!wide) return std::unexpected(wide.error());
    // A link in the file's place is removed, never written through.
    if (auto removed = removeIfLink(*wide); !removed) return std::unexpected(removed.error());
    auto file = openFile(*wide, GENERIC_WRITE, CREATE_ALWAYS);
    if (!file) return std::unexpected(file.error());
    return writeAllAt(file->get(), content);
  }

  Result<std::unique_ptr<WritableFile>> createFile(std::string_view path) override {
    auto wide = win32::extendedPath(path);
    if (!wide) return std::unexpected(wide.error());
    if (auto removed = removeIfLink(*wide); !removed) return std::unexpected(removed.error());
    auto file = openFile(*wide, GENERIC_WRITE, CREATE_ALWAYS);
    if (!file) return std::unexpected(file.error());
    return std::make_unique<WindowsWritableFile>(std::move(*file));
  }

  Result<std::unique_ptr<ReadableFile>> openForReading(std::string_view path) override {
    auto wide = win32::extendedPath(path);
    if (!wide) return std::unexpected(wide.error());
    auto file = openFile(*wide, GENERIC_READ, OPEN_EXISTING);
    if (!file) return std::unexpected(file.error());
    return std::make_unique<WindowsReadableFile>(std::move(*file));
  }

  Result<std::unique_ptr<MappedFile>> mapReadOnly(std::string_view path) override {
    auto wide = win32::extendedPath(path);
    if (!wide) return std::unexpected(wide.error());
    auto file = openFile(*wide, GENERIC_READ, OPEN_EXISTING);
    if (!file) return std::unexpected(file.error());
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file->get(), &size)) return fail(win32::lastFailure());
    if (static_cast<std::uint64_t>(size.QuadPart) > std::numeric_limits<std::size_t>::max()) {
      return fail(Failure::FileTooBig);
    }
    // An empty file cannot be mapped; it has no bytes to show anyway.
    if (size.QuadPart == 0) return std::make_unique<WindowsMappedFile>(nullptr, 0);
    UniqueHandle mapping(CreateFileMappingW(file->get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (mapping.get() == nullptr) return fail(win32::lastFailure());
    const void* view = MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0);
    if (view == nullptr) return fail(win32::lastFailure());
    return std::make_unique<WindowsMappedFile>(view, static_cast<std::size_t>(size.QuadPart));
  }

  Result<std::vector<DirectoryEntry>> listDirectory(std::string_view path) override {
    auto wide = win32::extendedPath(path);
    if (!wide) return std::unexpected(wide.error());
    auto raw = listAt(*wide);
    if (!raw) return std::unexpected(raw.error());
    std::vector<DirectoryEntry> entries;
    entries.reserve(raw->size());
    for (const auto& entry : *raw) {
      entries.push_back({win32::narrow(entry.name), kindOf(entry.attributes, entry.reparseTag)});
    }
    return entries;
  }

  Status deleteTree(std::string_view path) override {
    auto wide = win32::extendedPath(path);
    if (!wide) return std::unexpected(wide.error());
    return deleteTreeAt(*wide);
  }

  Status flushFileSystem(std::string_view) override { return {}; }

  Status rename(std::string_view from, std::string_view to) override {
    auto source = win32::extendedPath(from);
    if (!source) return std::unexpected(source.error());
    auto target = win32::extendedPath(to);
    if (!target) return std::unexpected(target.error());
    if (!MoveFileExW(source->c_str(), target->c_str(), MOVEFILE_REPLACE_EXISTING)) {
      return fail(win32::lastFailure());
    }
    return {};
  }

  Result<std::unique_ptr<FileLock>> lock(std::string_view path, LockMode mode) override {
    return lockFile(path, mode, 0);
  }

  Result<std::unique_ptr<FileLock>> tryLock(std::string_view path, LockMode mode) override {
    return lockFile(path, mode, LOCKFILE_FAIL_IMMEDIATELY);
  }

  Result<bool> isLockedExclusively(std::string_view path) override {
    auto wide = win32::extendedPath(path);
    if (!wide) return std::unexpected(wide.error());
    auto file = openFile(*wide, GENERIC_READ, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT);
    if (!file) {
      if (file.error() == Failure::FileNotFound) return false;
      return std::unexpected(file.error());
    }
    OVERLAPPED whole{};
    if (LockFileEx(file->get(), LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole)) {
      UnlockFileEx(file->get(), 0, MAXDWORD, MAXDWORD, &whole);
      return false;
    }
    DWORD error = GetLastError();
    if (error == ERROR_LOCK_VIOLATION) return true;
    return fail(win32::failureFromError(error));
  }

  Result<bool> deleteOwnFile(std::string_view path) override {
    auto wide = win32::extendedPath(path);
    if (!wide) return std::unexpected(wide.error());
    // One handle for the question and the deletion: the file asked about is
    // the file deleted.
    auto file = openFile(*wide, READ_CONTROL | DELETE | FILE_READ_ATTRIBUTES, OPEN_EXISTING,
                         FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS);
    if (!file) {
      if (file.error() == Failure::FileNotFound) return false;
      return std::unexpected(file.error());
    }
    FILE_ATTRIBUTE_TAG_INFO kind{};
    if (!GetFileInformationByHandleEx(file->get(), FileAttributeTagInfo, &kind, sizeof kind)) {
      return fail(win32::lastFailure());
    }
    if (kind.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) return false;
    auto own = ownedByThisUser(file->get());
    if (!own || !*own) return own;
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (!SetFileInformationByHandle(file->get(), FileDispositionInfo, &disposition,
                                    sizeof disposition)) {
      return fail(win32::lastFailure());
    }
    return true;
  }

 private:
  static Result<std::unique_ptr<FileLock>> lockFile(std::string_view path, LockMode mode,
                                                    DWORD flags) {
    auto wide = win32::extendedPath(path);
    if (!wide) return std::unexpected(wide.error());
    // A link at the lock's name is removed, never followed.
    if (auto removed = removeIfLink(*wide); !removed) return std::unexpected(removed.error());
    // Read access is all LockFileEx needs, so read-only media and installs
    // of another user can be locked too.
    auto file = openFile(*wide, GENERIC_READ, OPEN_ALWAYS);
    if (!file) return std::unexpected(file.error());
    if (mode == LockMode::Exclusive) flags |= LOCKFILE_EXCLUSIVE_LOCK;
    OVERLAPPED whole{};
    if (!LockFileEx(file->get(), flags, 0, MAXDWORD, MAXDWORD, &whole)) {
      DWORD error = GetLastError();
      if (error == ERROR_LOCK_VIOLATION) return fail(Failure::FileBusy);
      return fail(win32::failureFromError(error));
    }
    return std::make_unique<WindowsFileLock>(std::move(*file));
  }
};

}  // namespace

FileSystem& realFileSystem() {
  static WindowsFileSystem fileSystem;
  return fileSystem;
}

}  // namespace wexlo
