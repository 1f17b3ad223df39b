#include "platform/file_tree_windows.h"

namespace wexlo::win32 {

namespace {

// An entry is a link when its reparse point stands for another name
// (symbolic link, junction); other reparse points are ordinary files.
bool isNameSurrogate(DWORD attributes, DWORD reparseTag) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && IsReparseTagNameSurrogate(reparseTag);
}

}  // namespace

EntryKind kindOf(DWORD attributes, DWORD reparseTag) {
  if (isNameSurrogate(attributes, reparseTag)) return EntryKind::Link;
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return EntryKind::Directory;
  if (attributes & FILE_ATTRIBUTE_DEVICE) return EntryKind::Other;
  return EntryKind::File;
}

Result<UniqueHandle> openFile(const std::wstring& path, DWORD access, DWORD disposition,
                              DWORD flags) {
  // Null security attributes: the handle is not inherited by the runtime.
  UniqueHandle handle(
      CreateFileW(path.c_str(), access, kShareAll, nullptr, disposition, flags, nullptr));
  if (!handle.valid()) return fail(lastFailure());
  return handle;
}

bool isNotFound(DWORD error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

Status requireDirectory(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return fail(lastFailure());
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return fail(Failure::NotDir);
  return {};
}

Result<std::vector<RawEntry>> listAt(const std::wstring& directory) {
  std::wstring pattern = directory;
  if (!pattern.ends_with(L'\\')) pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                   nullptr, FIND_FIRST_EX_LARGE_FETCH);
  std::vector<RawEntry> entries;
  if (search == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    // The search error does not tell a missing directory from a file; the
    // attributes do. An empty root directory has no "." entry to find.
    auto isDir = requireDirectory(directory);
    if (!isDir && (isDir.error() == Failure::NotDir || isDir.error() == Failure::FileNotFound)) {
      return std::unexpected(isDir.error());
    }
    if (isDir && error == ERROR_FILE_NOT_FOUND) return entries;
    return fail(failureFromError(error));
  }
  do {
    std::wstring_view name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    entries.push_back({std::wstring(name), found.dwFileAttributes, found.dwReserved0});
  } while (FindNextFileW(search, &found));
  DWORD error = GetLastError();
  FindClose(search);
  if (error != ERROR_NO_MORE_FILES) return fail(failureFromError(error));
  return entries;
}

namespace {

std::wstring childOf(const std::wstring& directory, const std::wstring& name) {
  return directory.ends_with(L'\\') ? directory + name : directory + L'\\' + name;
}

Status deleteFileAt(const std::wstring& path) {
  if (DeleteFileW(path.c_str())) return {};
  DWORD error = GetLastError();
  if (isNotFound(error)) return {};
  if (error == ERROR_ACCESS_DENIED) {
    // A read-only file refuses deletion until the attribute is cleared.
    DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
        !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
        SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) {
      if (DeleteFileW(path.c_str())) return {};
      error = GetLastError();
    }
  }
  return fail(failureFromError(error));
}

Status removeDirectoryAt(const std::wstring& path) {
  if (RemoveDirectoryW(path.c_str())) return {};
  DWORD error = GetLastError();
  if (isNotFound(error)) return {};
  return fail(failureFromError(error));
}

// Removes one entry that is not a directory to descend into: a file, or a
// link of either kind, which goes without its target being touched.
Status removeLeaf(const std::wstring& path, DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return removeDirectoryAt(path);
  return deleteFileAt(path);
}

// Attributes and reparse tag of the entry itself, never of a link's target.
Result<RawEntry> inspect(const std::wstring& path) {
  auto handle = openFile(path, FILE_READ_ATTRIBUTES, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
  if (!handle) return std::unexpected(handle.error());
  FILE_ATTRIBUTE_TAG_INFO info{};
  if (!GetFileInformationByHandleEx(handle->get(), FileAttributeTagInfo, &info, sizeof info)) {
    return fail(lastFailure());
  }
  return RawEntry{L"", info.FileAttributes, info.ReparseTag};
}

}  // namespace

Result<bool> removeIfLink(const std::wstring& path) {
  auto entry = inspect(path);
  if (!entry) {
    if (entry.error() == Failure::FileNotFound) return false;
    return std::unexpected(entry.error());
  }
  if (kindOf(entry->attributes, entry->reparseTag) != EntryKind::Link) return false;
  if (auto removed = removeLeaf(path, entry->attributes); !removed) {
    return std::unexpected(removed.error());
  }
  return true;
}

Status deleteTreeAt(const std::wstring& root) {
  auto top = inspect(root);
  if (!top) {
    return top.error() == Failure::FileNotFound ? Status{} : std::unexpected(top.error());
  }
  if (kindOf(top->attributes, top->reparseTag) != EntryKind::Directory) {
    return removeLeaf(root, top->attributes);
  }
  // Depth-first without recursion: a tree may be deeper than the stack.
  struct Pending {
    std::wstring path;
    bool emptied;
  };
  std::vector<Pending> pending{{root, false}};
  while (!pending.empty()) {
    if (pending.back().emptied) {
      if (auto removed = removeDirectoryAt(pending.back().path); !removed) return removed;
      pending.pop_back();
      continue;
    }
    pending.back().emptied = true;
    std::wstring directory = pending.back().path;
    auto entries = listAt(directory);
    if (!entries) {
      if (entries.error() == Failure::FileNotFound) continue;
      return std::unexpected(entries.error());
    }
    for (const auto& entry : *entries) {
      std::wstring path = childOf(directory, entry.name);
      if (kindOf(entry.attributes, entry.reparseTag) == EntryKind::Directory) {
        pending.push_back({std::move(path), false});
      } else if (auto removed = removeLeaf(path, entry.attributes); !removed) {
        return removed;
      }
    }
  }
  return {};
}

}  // namespace wexlo::win32
