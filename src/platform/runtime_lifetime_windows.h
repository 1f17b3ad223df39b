// Keeping a started runtime's life tied to the launcher's on Windows, where
// the two are separate processes.
#pragma once

#include "platform/win32_util_windows.h"

namespace wexlo::win32 {

// From now on a Ctrl-C or Ctrl-Break in the console does not end the
// launcher: the runtime, which shares the console and gets the same event,
// decides, and the launcher ends with its status. On a close, logoff or
// shutdown event the launcher waits for `runtime` (once set) as long as
// Windows lets it. A handler routine, unlike ignoring the events outright, is
// not inherited by the runtime.
void leaveConsoleInterruptsToTheRuntime();
void setRuntimeForConsoleClose(HANDLE runtime);

// Whether the launcher is attached to a console.
bool hasConsole();

// A job object that ends every process in it when its last handle closes,
// however the launcher ends, Task Manager or TerminateProcess included. What
// a process in the job starts itself is left out of it (a daemon such as
// epmd outlives the runtime, as it does elsewhere). An invalid handle when
// the system gives none.
UniqueHandle killOnCloseJob();

}  // namespace wexlo::win32
