// Stands in for a release's erts-<v>/bin/erl in tests. It records exactly
// how it was started (argument vector, environment, working directory, own
// path) and then behaves as the environment tells it:
//
//   WEXLO_FAKE_ERL_RECORD      file to write the record to (truncated; none if unset)
//   WEXLO_FAKE_ERL_READ_STDIN  "1": read standard input to its end and record it
//   WEXLO_FAKE_ERL_STDOUT      bytes to write to standard output
//   WEXLO_FAKE_ERL_STDOUT_REPEAT  write them this many times (default 1)
//   WEXLO_FAKE_ERL_STDERR      bytes to write to standard error
//   WEXLO_FAKE_ERL_SIGNAL      (POSIX) raise this signal instead of exiting
//   WEXLO_FAKE_ERL_SLEEP_MS    stay alive this long after recording (a runtime
//                              still running while another launcher starts)
//   WEXLO_FAKE_ERL_WAIT_FOR    stay alive after recording until this file exists
//                              (at most a minute): a runtime the test lets go
//   WEXLO_FAKE_ERL_LINGER_MS   stay alive this long after writing
//   WEXLO_FAKE_ERL_EXIT        exit status (decimal, default 0; on Windows all 32 bits)
//   WEXLO_FAKE_ERL_ON_TERM     (POSIX) on SIGTERM: "ignore", or exit with this status
//   WEXLO_FAKE_ERL_ON_CTRL_C   (Windows) on Ctrl-C or Ctrl-Break: exit with this status
//   WEXLO_FAKE_ERL_PID_FILE    file to write the process ID to, in decimal, once recorded
//   WEXLO_FAKE_ERL_CHILD_PID_FILE  (Windows) first start a copy of itself that
//                              writes its own process ID there and then sleeps
//
// Record format: one line per item, "<kind>\t<hex of the bytes>\n", so that
// any byte survives. POSIX kinds: arg, env, cwd, exe, stdin. Windows kinds
// carry UTF-16LE units as they are, unpaired surrogates included: cmdline16
// (the raw command line), arg16 (the C runtime's split of it), env16 (each
// entry of the environment block, in block order), cwd16, exe16, stdin, and
// console ("attached" or "none": whether the process has a console).
//
// This program deliberately uses none of the project's own code, so that a
// fault there cannot hide itself in what the tests read back.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>

#include <csignal>
extern char** environ;
#endif

namespace {

constexpr int kRecordFailed = 125;

std::string hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char byte : bytes) {
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0xF];
  }
  return out;
}

void addLine(std::string& record, std::string_view kind, std::string_view bytes) {
  record += kind;
  record += '\t';
  record += hex(bytes);
  record += '\n';
}

bool writeAll(std::FILE* stream, std::string_view bytes) {
  return std::fwrite(bytes.data(), 1, bytes.size(), stream) == bytes.size() &&
         std::fflush(stream) == 0;
}

std::string readStandardInput() {
  std::string bytes;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0) bytes.append(buffer, n);
  return bytes;
}

// Accepts what strtol accepts, fully consumed; anything else counts as 0 so a
// typo shows up as a wrong status rather than a crash.
long parseNumber(const std::optional<std::string>& text) {
  if (!text || text->empty()) return 0;
  char* end = nullptr;
  errno = 0;
  long long value = std::strtoll(text->c_str(), &end, 10);
  return (errno != 0 || *end != '\0') ? 0 : static_cast<long>(value);
}

#ifdef _WIN32

std::wstring wide(const char* ascii) { return std::wstring(ascii, ascii + std::strlen(ascii)); }

// Control values are read as UTF-16 and handed on as UTF-8, so that a record
// path or an output text outside the ANSI code page survives.
std::optional<std::string> control(const char* name) {
  const wchar_t* value = _wgetenv(wide(name).c_str());
  if (value == nullptr) return std::nullopt;
  int length = WideCharToMultiByte(CP_UTF8, 0, value, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return std::string();
  std::string text(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, value, -1, text.data(), length, nullptr, nullptr);
  text.pop_back();  // the terminator
  return text;
}

std::FILE* openRecordFile(const std::string& path) {
  int length = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
  if (length <= 0) return nullptr;
  std::wstring widePath(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, widePath.data(), length);
  return _wfopen(widePath.c_str(), L"wb");
}

std::string unitsAsBytes(const wchar_t* text, std::size_t length) {
  std::string bytes;
  bytes.reserve(length * 2);
  for (std::size_t i = 0; i < length; ++i) {
    auto unit = static_cast<std::uint16_t>(text[i]);
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

std::string unitsAsBytes(const wchar_t* text) { return unitsAsBytes(text, std::wcslen(text)); }

void recordProcess(std::string& record, int argc, wchar_t** argv) {
  addLine(record, "cmdline16", unitsAsBytes(GetCommandLineW()));
  for (int i = 0; i < argc; ++i) addLine(record, "arg16", unitsAsBytes(argv[i]));
  if (wchar_t* block = GetEnvironmentStringsW()) {
    for (const wchar_t* entry = block; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
      addLine(record, "env16", unitsAsBytes(entry));
    }
    FreeEnvironmentStringsW(block);
  }
  wchar_t path[32768];
  DWORD length = GetCurrentDirectoryW(32768, path);
  if (length > 0 && length < 32768) addLine(record, "cwd16", unitsAsBytes(path, length));
  length = GetModuleFileNameW(nullptr, path, 32768);
  if (length > 0 && length < 32768) addLine(record, "exe16", unitsAsBytes(path, length));
  // Fails for a process with no console; a console need not have a window.
  DWORD processes[1];
  addLine(record, "console", GetConsoleProcessList(processes, 1) != 0 ? "attached" : "none");
}

#else

std::optional<std::string> control(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

std::FILE* openRecordFile(const std::string& path) { return std::fopen(path.c_str(), "wb"); }

void recordProcess(std::string& record, int argc, char** argv) {
  for (int i = 0; i < argc; ++i) addLine(record, "arg", argv[i]);
  for (char** entry = environ; *entry != nullptr; ++entry) addLine(record, "env", *entry);
  if (char* cwd = getcwd(nullptr, 0)) {
    addLine(record, "cwd", cwd);
    std::free(cwd);
  }
  char path[4096];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path);
  if (length > 0 && static_cast<std::size_t>(length) < sizeof path) {
    addLine(record, "exe", std::string_view(path, static_cast<std::size_t>(length)));
  }
}

#endif

// The status to end with on an interrupt, as configured.
long interruptStatus = 0;

#ifdef _WIN32
BOOL WINAPI onConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  ExitProcess(static_cast<UINT>(interruptStatus));
}

// A process of its own, as a runtime's port program or daemon would be.
bool startChild(const std::string& pidFile) {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), 32768));
  int length = MultiByteToWideChar(CP_UTF8, 0, pidFile.c_str(), -1, nullptr, 0);
  std::wstring widePidFile(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, pidFile.c_str(), -1, widePidFile.data(), length);
  SetEnvironmentVariableW(L"WEXLO_FAKE_ERL_PID_FILE", widePidFile.c_str());
  SetEnvironmentVariableW(L"WEXLO_FAKE_ERL_CHILD_PID_FILE", nullptr);
  SetEnvironmentVariableW(L"WEXLO_FAKE_ERL_RECORD", nullptr);
  std::wstring commandLine = L"fake_erl_child";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  if (!CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, &startup, &child)) {
    return false;
  }
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  return true;
}

unsigned long processId() { return GetCurrentProcessId(); }
#else
unsigned long processId() { return static_cast<unsigned long>(getpid()); }
#endif

void setUpInterrupts() {
#ifdef _WIN32
  if (auto status = control("WEXLO_FAKE_ERL_ON_CTRL_C")) {
    interruptStatus = parseNumber(status);
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
  }
#else
  if (auto onTerm = control("WEXLO_FAKE_ERL_ON_TERM"); onTerm == "ignore") {
    std::signal(SIGTERM, SIG_IGN);
  } else if (onTerm) {
    interruptStatus = parseNumber(onTerm);
    std::signal(SIGTERM, [](int) { _exit(static_cast<int>(interruptStatus)); });
  }
#endif
}

// Everything after recording the process itself; returns the exit status.
int run(std::string& record) {
  setUpInterrupts();
  auto recordPath = control("WEXLO_FAKE_ERL_RECORD");
  auto toStdout = control("WEXLO_FAKE_ERL_STDOUT");
  auto toStderr = control("WEXLO_FAKE_ERL_STDERR");
  long status = parseNumber(control("WEXLO_FAKE_ERL_EXIT"));

  if (control("WEXLO_FAKE_ERL_READ_STDIN") == "1") {
    addLine(record, "stdin", readStandardInput());
  }

  if (recordPath && !recordPath->empty()) {
    std::FILE* file = openRecordFile(*recordPath);
    bool written = file != nullptr && writeAll(file, record);
    if (file != nullptr && std::fclose(file) != 0) written = false;
    if (!written) {
      std::fprintf(stderr, "fake_erl: cannot write the record to %s: %s\n", recordPath->c_str(),
                   std::strerror(errno));
      return kRecordFailed;
    }
  }
#ifdef _WIN32
  if (auto childPidFile = control("WEXLO_FAKE_ERL_CHILD_PID_FILE"); childPidFile) {
    if (!startChild(*childPidFile)) return kRecordFailed;
  }
#endif
  if (auto pidFile = control("WEXLO_FAKE_ERL_PID_FILE"); pidFile && !pidFile->empty()) {
    std::FILE* file = openRecordFile(*pidFile);
    if (file == nullptr || std::fprintf(file, "%lu", processId()) < 0 || std::fclose(file) != 0) {
      return kRecordFailed;
    }
  }

  if (auto release = control("WEXLO_FAKE_ERL_WAIT_FOR"); release && !release->empty()) {
    for (int tries = 0; tries < 6000; ++tries) {
      if (std::FILE* file = std::fopen(release->c_str(), "rb")) {
        std::fclose(file);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  if (long milliseconds = parseNumber(control("WEXLO_FAKE_ERL_SLEEP_MS")); milliseconds > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }

  if (toStdout) {
    long repeat = parseNumber(control("WEXLO_FAKE_ERL_STDOUT_REPEAT"));
    for (long i = 0; i < std::max(repeat, 1L); ++i) writeAll(stdout, *toStdout);
  }
  if (toStderr) writeAll(stderr, *toStderr);
  if (long milliseconds = parseNumber(control("WEXLO_FAKE_ERL_LINGER_MS")); milliseconds > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }

#ifndef _WIN32
  if (long signal = parseNumber(control("WEXLO_FAKE_ERL_SIGNAL")); signal > 0) {
    std::signal(static_cast<int>(signal), SIG_DFL);
    std::raise(static_cast<int>(signal));
  }
#endif
  std::fflush(nullptr);
  return static_cast<int>(status);
}

}  // namespace

#ifdef _WIN32
// Built with -municode, so the C runtime splits the command line as UTF-16.
int wmain(int argc, wchar_t** argv) {
  // Byte-exact standard streams: no CR inserted before LF.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  std::string record;
  recordProcess(record, argc, argv);
  // ExitProcess keeps all 32 bits of the status.
  ExitProcess(static_cast<UINT>(run(record)));
}
#else
int main(int argc, char** argv) {
  std::string record;
  recordProcess(record, argc, argv);
  return run(record);
}
#endif
