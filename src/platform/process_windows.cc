#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/command_line.h"
#include "platform/environment_block.h"
#include "platform/environment_windows.h"
#include "platform/process.h"
#include "platform/runtime_lifetime_windows.h"
#include "platform/win32_util_windows.h"
#include "platform/windows_command_line.h"

namespace wexlo {

bool windowsNameEquals(std::string_view a, std::string_view b) {
  if (a == b || asciiCaseInsensitiveEquals(a, b)) return true;
  auto wideA = win32::widen(a);
  auto wideB = win32::widen(b);
  if (!wideA || !wideB) return false;
  // Upper-cases each UTF-16 unit with the system's table, as the environment
  // block's own lookups do.
  return CompareStringOrdinal(wideA->data(), static_cast<int>(wideA->size()), wideB->data(),
                              static_cast<int>(wideB->size()), TRUE) == CSTR_EQUAL;
}

namespace {

// The largest path the launcher passes on: 32,767 UTF-16 units of up to three
// bytes each, plus one.
constexpr std::size_t kMaxSelfPathBytes = 98'302;

Failure startFailure(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DIRECTORY:
      return Failure::FileNotFound;
    case ERROR_ACCESS_DENIED:
      return Failure::AccessDenied;
    case ERROR_SHARING_VIOLATION:
      return Failure::FileBusy;
    case ERROR_INVALID_NAME:
      return Failure::InvalidName;
    case ERROR_FILENAME_EXCED_RANGE:
      return Failure::NameTooLong;
    case ERROR_COMMITMENT_LIMIT:
      return Failure::SystemResources;
    default:
      auto failure = win32::failureFromError(error);
      return failure == Failure::InvalidExe ? failure : Failure::Unexpected;
  }
}

bool hasAny(std::initializer_list<HANDLE> handles) {
  return std::ranges::any_of(
      handles, [](HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; });
}

// The block up to and including the empty entry that ends it.
std::u16string_view wholeBlock(const wchar_t* block) {
  const wchar_t* end = block;
  while (*end != L'\0') end += std::wstring_view(end).size() + 1;
  return {reinterpret_cast<const char16_t*>(block), static_cast<std::size_t>(end - block + 1)};
}

Result<std::wstring> moduleFileName() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return fail(win32::lastFailure());
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    if (buffer.size() >= 32'768) return fail(Failure::NameTooLong);
    buffer.resize(buffer.size() * 2);
  }
}

Result<std::wstring> finalPathName(HANDLE file) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    DWORD length = GetFinalPathNameByHandleW(file, buffer.data(), static_cast<DWORD>(buffer.size()),
                                             FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return fail(win32::lastFailure());
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    buffer.resize(length);
  }
}

// "\\?\C:\dir" becomes "C:\dir" and "\\?\UNC\server\share" "\\server\share".
std::wstring withoutExtendedPrefix(std::wstring path) {
  if (path.starts_with(L"\\\\?\\UNC\\")) return L"\\\\" + path.substr(8);
  if (path.starts_with(L"\\\\?\\")) return path.substr(4);
  return path;
}

class WindowsProcess final : public Process {
 public:
  Result<std::vector<std::string>> arguments() override {
    const wchar_t* line = GetCommandLineW();
    if (line == nullptr) return std::vector<std::string>{};
    return splitCommandLine(reinterpret_cast<const char16_t*>(line));
  }

  Result<Environment> environment() override {
    wchar_t* block = GetEnvironmentStringsW();
    if (block == nullptr) return fail(Failure::OutOfMemory);
    auto entries = parseEnvironmentBlock(wholeBlock(block));
    FreeEnvironmentStringsW(block);
    return Environment::fromEntries(entries, windowsNameEquals);
  }

  std::optional<std::string> defaultInstallRoot() override {
    // Read as UTF-16 rather than through the narrow code page, so that an
    // application-data path with characters outside that code page (a user
    // name in another script) still names the right directory.
    std::wstring value(MAX_PATH, L'\0');
    for (;;) {
      SetLastError(ERROR_SUCCESS);
      DWORD length =
          GetEnvironmentVariableW(L"APPDATA", value.data(), static_cast<DWORD>(value.size()));
      if (length == 0) {
        if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
        return std::string();
      }
      if (length < value.size()) {
        value.resize(length);
        return win32::narrow(value);
      }
      value.resize(length);
    }
  }

  Result<std::string> selfExecutablePath() override {
    auto image = moduleFileName();
    if (!image) return std::unexpected(image.error());
    win32::UniqueHandle file(CreateFileW(image->c_str(), FILE_READ_ATTRIBUTES,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                         nullptr));
    if (!file.valid()) return fail(win32::lastFailure());
    auto final = finalPathName(file.get());
    if (!final) return std::unexpected(final.error());
    auto path = win32::narrow(withoutExtendedPrefix(std::move(*final)));
    if (path.size() > kMaxSelfPathBytes) return fail(Failure::NameTooLong);
    return path;
  }

  Result<int> handOver(const std::string& program, const std::vector<std::string>& argv,
                       const Environment& environment) override {
    auto application = win32::widen(program);
    if (!application) return std::unexpected(application.error());
    auto commandLine = quoteCommandLine(argv);
    if (!commandLine) return std::unexpected(commandLine.error());
    // CreateProcessW may write into the command line, so it gets its own copy.
    auto wideCommandLine = win32::widen(*commandLine);
    if (!wideCommandLine) return std::unexpected(wideCommandLine.error());
    auto block = environmentBlock(environment);
    if (!block) return std::unexpected(block.error());

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    if (hasAny({startup.hStdInput, startup.hStdOutput, startup.hStdError})) {
      startup.dwFlags = STARTF_USESTDHANDLES;
    }
    PROCESS_INFORMATION started{};
    win32::leaveConsoleInterruptsToTheRuntime();
    // The runtime starts suspended so that it is in the job before it can
    // start anything of its own.
    win32::UniqueHandle job = win32::killOnCloseJob();
    // A console program started by one without a console (a GUI program, a
    // scheduled task) would get a new console of its own, a window that pops
    // up; without a console of the launcher's, the runtime gets none either.
    const DWORD flags = CREATE_UNICODE_ENVIRONMENT | (job.valid() ? CREATE_SUSPENDED : 0) |
                        (win32::hasConsole() ? 0 : DETACHED_PROCESS);
    if (!CreateProcessW(application->c_str(), wideCommandLine->data(), nullptr, nullptr, TRUE,
                        flags, block->data(), nullptr, &startup, &started)) {
      DWORD error = GetLastError();
      // Windows refuses a directory with an access or handle error; it is
      // still no program to be found there.
      DWORD attributes = GetFileAttributesW(application->c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return fail(Failure::FileNotFound);
      }
      return fail(startFailure(error));
    }
    win32::UniqueHandle runtime(started.hProcess);
    win32::UniqueHandle thread(started.hThread);
    win32::setRuntimeForConsoleClose(runtime.get());
    if (job.valid()) {
      // A launcher already in a job that allows no nested one goes on
      // without: the runtime then outlives a killed launcher, as before.
      (void)AssignProcessToJobObject(job.get(), runtime.get());
      if (ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
        (void)TerminateProcess(runtime.get(), 1);
        return fail(Failure::Unexpected);
      }
    }

    if (WaitForSingleObject(runtime.get(), INFINITE) != WAIT_OBJECT_0) {
      return fail(Failure::Unexpected);
    }
    DWORD exitCode;
    if (!GetExitCodeProcess(runtime.get(), &exitCode)) return 1;
    // All 32 bits: 256 is a failure and 0xC0000005 a crash, not 0 and 5.
    return static_cast<int>(exitCode);
  }
};

}  // namespace

// The C runtime's argv is not used: the command line is split here, losslessly.
void setProcessArguments(int /*argc*/, char** /*argv*/) {}

Process& realProcess() {
  static WindowsProcess process;
  return process;
}

}  // namespace wexlo
