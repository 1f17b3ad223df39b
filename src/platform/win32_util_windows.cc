#include "platform/win32_util_windows.h"

#include <utility>
#include <vector>

#include "platform/wtf8.h"

namespace wexlo::win32 {

UniqueHandle& UniqueHandle::operator=(UniqueHandle&& other) noexcept {
  if (this != &other) {
    if (valid()) CloseHandle(handle_);
    handle_ = other.release();
  }
  return *this;
}

UniqueHandle::~UniqueHandle() {
  if (valid()) CloseHandle(handle_);
}

HANDLE UniqueHandle::release() { return std::exchange(handle_, INVALID_HANDLE_VALUE); }

Result<std::wstring> widen(std::string_view wtf8) {
  auto wide = wtf8ToWtf16(wtf8);
  if (!wide) return std::unexpected(wide.error());
  return std::wstring(reinterpret_cast<const wchar_t*>(wide->data()), wide->size());
}

std::string narrow(std::wstring_view wide) {
  return wtf16ToWtf8(
      std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()));
}

namespace {

// Reported when a scanner removes or quarantines a file being opened; not
// every SDK's headers name them.
constexpr DWORD kErrorVirusInfected = 225;
constexpr DWORD kErrorVirusDeleted = 226;

constexpr std::wstring_view kExtendedPrefix = L"\\\\?\\";
constexpr std::wstring_view kNtPrefix = L"\\??\\";
constexpr std::wstring_view kDevicePrefix = L"\\\\.\\";
constexpr std::wstring_view kUncPrefix = L"\\\\?\\UNC\\";

Result<std::wstring> fullPathName(const std::wstring& path) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    DWORD length =
        GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (length == 0) return fail(lastFailure());
    if (length < buffer.size()) return std::wstring(buffer.data(), length);
    buffer.resize(length);
  }
}

}  // namespace

Result<std::wstring> extendedPath(std::string_view path) {
  if (path.empty() || path.find('\0') != std::string_view::npos) {
    return fail(Failure::BadPathName);
  }
  auto wide = widen(path);
  if (!wide) return std::unexpected(wide.error());
  // Already in a form the kernel takes verbatim: no separator or dot handling.
  if (wide->starts_with(kExtendedPrefix) || wide->starts_with(kNtPrefix)) return *wide;
  for (auto& unit : *wide) {
    if (unit == L'/') unit = L'\\';
  }
  auto full = fullPathName(*wide);
  if (!full) return full;
  if (full->starts_with(kDevicePrefix) || full->starts_with(kExtendedPrefix)) return full;
  if (full->starts_with(L"\\\\")) return std::wstring(kUncPrefix) + full->substr(2);
  return std::wstring(kExtendedPrefix) + *full;
}

Failure failureFromError(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
      return Failure::FileNotFound;
    case ERROR_ACCESS_DENIED:
      return Failure::AccessDenied;
    case ERROR_SHARING_VIOLATION:
      return Failure::FileBusy;
    case ERROR_LOCK_VIOLATION:
      return Failure::LockViolation;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
      return Failure::BadPathName;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return Failure::NoSpaceLeft;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
      return Failure::PathAlreadyExists;
    case ERROR_DIRECTORY:
      return Failure::NotDir;
    case ERROR_DIR_NOT_EMPTY:
      return Failure::DirNotEmpty;
    case ERROR_FILENAME_EXCED_RANGE:
      return Failure::NameTooLong;
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      return Failure::NetworkNotFound;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_COMMITMENT_LIMIT:
    case ERROR_NO_SYSTEM_RESOURCES:
      return Failure::SystemResources;
    case ERROR_TOO_MANY_OPEN_FILES:
      return Failure::ProcessFdQuotaExceeded;
    case ERROR_CANT_RESOLVE_FILENAME:
      return Failure::SymLinkLoop;
    case ERROR_WRITE_PROTECT:
      return Failure::ReadOnlyFileSystem;
    case ERROR_NOT_SAME_DEVICE:
      return Failure::CrossDevice;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
      return Failure::BrokenPipe;
    case ERROR_CRC:
    case ERROR_IO_DEVICE:
      return Failure::InputOutput;
    case kErrorVirusInfected:
    case kErrorVirusDeleted:
      return Failure::AntivirusInterference;
    case ERROR_BAD_EXE_FORMAT:
    case ERROR_BAD_FORMAT:
    case ERROR_EXE_MACHINE_TYPE_MISMATCH:
    case ERROR_INVALID_EXE_SIGNATURE:
    case ERROR_EXE_MARKED_INVALID:
    case ERROR_INVALID_STARTING_CODESEG:
    case ERROR_INVALID_STACKSEG:
    case ERROR_INVALID_MODULETYPE:
    case ERROR_INVALID_ORDINAL:
    case ERROR_ITERATED_DATA_EXCEEDS_64k:
    case ERROR_INVALID_MINALLOCSIZE:
    case ERROR_DYNLINK_FROM_INVALID_RING:
    case ERROR_IOPL_NOT_ENABLED:
    case ERROR_INVALID_SEGDPL:
    case ERROR_AUTODATASEG_EXCEEDS_64k:
    case ERROR_RING2SEG_MUST_BE_MOVABLE:
    case ERROR_RELOC_CHAIN_XEEDS_SEGLIM:
    case ERROR_INFLOOP_IN_RELOC_CHAIN:
      return Failure::InvalidExe;
    default:
      return Failure::Unexpected;
  }
}

}  // namespace wexlo::win32
