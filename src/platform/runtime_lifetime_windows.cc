#include "platform/runtime_lifetime_windows.h"

#include <atomic>

namespace wexlo::win32 {

namespace {

std::atomic<HANDLE> runtimeForClose{nullptr};

BOOL WINAPI onConsoleControl(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT: {
      // Windows ends the process once this returns, or when its own time
      // limit for the event runs out, whichever comes first.
      HANDLE runtime = runtimeForClose.load();
      if (runtime == nullptr) return FALSE;
      DWORD exitCode = 1;
      if (WaitForSingleObject(runtime, INFINITE) != WAIT_OBJECT_0 ||
          !GetExitCodeProcess(runtime, &exitCode)) {
        exitCode = 1;
      }
      ExitProcess(exitCode);
    }
    default:
      return FALSE;
  }
}

}  // namespace

void leaveConsoleInterruptsToTheRuntime() {
  // Without a console there are no such events to handle.
  (void)SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

void setRuntimeForConsoleClose(HANDLE runtime) { runtimeForClose.store(runtime); }

bool hasConsole() {
  // Fails, giving 0, for a process attached to no console; GetConsoleWindow
  // is no test, since a console need not have a window.
  DWORD processes[1];
  return GetConsoleProcessList(processes, 1) != 0;
}

UniqueHandle killOnCloseJob() {
  UniqueHandle job(CreateJobObjectW(nullptr, nullptr));
  if (!job.valid()) return {};
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags =
      JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK;
  if (!SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                               sizeof limits)) {
    return {};
  }
  return job;
}

}  // namespace wexlo::win32
