// Files and directory trees on Windows below the FileSystem interface:
// opening without inheritance, telling links from directories, listing and
// deleting trees without following links.
#pragma once

#include <string>
#include <vector>

#include "platform/file_system.h"
#include "platform/win32_util_windows.h"

namespace wexlo::win32 {

// Other processes (a virus scanner, a second launcher, the running runtime)
// may hold our files; nobody gets locked out by us.
inline constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The kind of an entry from its attributes and reparse tag: a reparse point
// that stands for another name (symbolic link, junction) is a link.
EntryKind kindOf(DWORD attributes, DWORD reparseTag);

// Opens `path`; the handle is never inherited by child processes.
Result<UniqueHandle> openFile(const std::wstring& path, DWORD access, DWORD disposition,
                              DWORD flags = FILE_ATTRIBUTE_NORMAL);

bool isNotFound(DWORD error);

// Succeeds when `path` is a directory; NotDir when it is something else.
Status requireDirectory(const std::wstring& path);

struct RawEntry {
  std::wstring name;
  DWORD attributes;
  DWORD reparseTag;
};

// The entries of `directory` without "." and "..", links not followed.
Result<std::vector<RawEntry>> listAt(const std::wstring& directory);

// Removes `path` when it is a link (symbolic link or junction), leaving its
// target alone; true when it did. Anything else, or nothing, stays.
Result<bool> removeIfLink(const std::wstring& path);

// Deletes `root` and everything below it; links are removed, never followed.
// A missing root counts as deleted.
Status deleteTreeAt(const std::wstring& root);

}  // namespace wexlo::win32
