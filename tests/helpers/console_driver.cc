// Does to a running Windows launcher what a user or a process manager does,
// once its runtime runs, and writes down what became of the processes.
// Windows tests run it under Wine, in a terminal for console events.
//
//   console_driver.exe ctrl-c    RESULT LAUNCHER RUNTIME_PID_FILE [CHILD_PID_FILE]
//   console_driver.exe terminate RESULT LAUNCHER RUNTIME_PID_FILE CHILD_PID_FILE
//
// It starts LAUNCHER (sharing its console, standard handles and environment)
// and waits until the runtime has written its process ID to
// RUNTIME_PID_FILE (and, for terminate, the runtime's own child to
// CHILD_PID_FILE). Then:
//   ctrl-c     sends Ctrl-C to every process on the console but itself, and
//              writes "launcher=<exit code>" once the launcher has ended;
//   terminate  ends the launcher with TerminateProcess and writes
//              "runtime=ended|running" and "child=ended|running", then ends
//              whatever still runs.
// RESULT gets "failed=<what>" when a step fails. Like fake_erl, this program
// uses none of the project's own code.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

std::FILE* result = nullptr;

int failed(const char* what) {
  std::fprintf(result, "failed=%s (error %lu)\n", what, GetLastError());
  std::fclose(result);
  return 1;
}

// The process ID a fake runtime wrote, once it is there (at most a minute).
DWORD waitForPid(const wchar_t* file) {
  for (int tries = 0; tries < 600; ++tries) {
    std::ifstream in(file);
    unsigned long pid = 0;
    if (in >> pid && pid != 0) return static_cast<DWORD>(pid);
    Sleep(100);
  }
  return 0;
}

// Whether the process ends within `milliseconds`; one still running is ended.
const char* endsWithin(DWORD pid, DWORD milliseconds) {
  HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid);
  if (process == nullptr) return "ended";
  const bool ended = WaitForSingleObject(process, milliseconds) == WAIT_OBJECT_0;
  if (!ended) TerminateProcess(process, 1);
  CloseHandle(process);
  return ended ? "ended" : "running";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 5) return 2;
  const std::wstring action = argv[1];
  result = _wfopen(argv[2], L"wb");
  if (result == nullptr) return 2;

  std::wstring commandLine = L"\"" + std::wstring(argv[3]) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION launcher{};
  if (!CreateProcessW(argv[3], commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &launcher)) {
    return failed("CreateProcessW");
  }
  CloseHandle(launcher.hThread);
  const DWORD runtime = waitForPid(argv[4]);
  if (runtime == 0) return failed("no runtime");

  if (action == L"ctrl-c") {
    // Ignoring it itself now, after the launcher started, so that the
    // launcher did not inherit that.
    if (!SetConsoleCtrlHandler(nullptr, TRUE)) return failed("SetConsoleCtrlHandler");
    if (!GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0)) return failed("GenerateConsoleCtrlEvent");
    DWORD exitCode = 0;
    if (WaitForSingleObject(launcher.hProcess, 30'000) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(launcher.hProcess, &exitCode)) {
      TerminateProcess(launcher.hProcess, 1);
      return failed("the launcher did not end");
    }
    std::fprintf(result, "launcher=%lu\n", exitCode);
  } else if (action == L"terminate" && argc == 6) {
    const DWORD child = waitForPid(argv[5]);
    if (child == 0) return failed("no child of the runtime");
    if (!TerminateProcess(launcher.hProcess, 99) ||
        WaitForSingleObject(launcher.hProcess, 10'000) != WAIT_OBJECT_0) {
      return failed("TerminateProcess");
    }
    std::fprintf(result, "runtime=%s\n", endsWithin(runtime, 10'000));
    std::fprintf(result, "child=%s\n", endsWithin(child, 0));
  } else {
    return failed("usage");
  }
  CloseHandle(launcher.hProcess);
  return std::fclose(result) == 0 ? 0 : 1;
}
