// Small Win32 helpers shared by the Windows platform layer: owned handles,
// WTF-8 <-> UTF-16 at the API boundary, long-path forms and error mapping.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>
#include <string_view>

#include "platform/failure.h"

namespace wexlo::win32 {

// Closes a kernel handle when it goes out of scope.
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept;
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle();

  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  HANDLE release();

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// wchar_t is 16 bits on Windows, so UTF-16 text is handed to the API as is.
// Fails with InvalidWtf8.
Result<std::wstring> widen(std::string_view wtf8);
std::string narrow(std::wstring_view wide);

// The extended-length form ("\\?\C:\dir\file", "\\?\UNC\server\share\file")
// of a path with either separator, made absolute against the working
// directory with "." and ".." resolved, so that file calls are not limited to
// 260 characters. Device paths ("\\.\...") are left alone. A path that can
// never name a file (empty, or holding a NUL) fails with BadPathName.
Result<std::wstring> extendedPath(std::string_view path);

// The failure name for a Win32 error code of a file or process call.
Failure failureFromError(DWORD error);
inline Failure lastFailure() { return failureFromError(GetLastError()); }

}  // namespace wexlo::win32
