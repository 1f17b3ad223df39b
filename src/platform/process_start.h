// Process-wide settings a launcher fixes before, or around, its own work.
#pragma once

#ifndef _WIN32
#include <signal.h>
#endif

#include <cstddef>
#include <optional>

#include "platform/failure.h"

namespace wexlo {

// The longest path, in UTF-16 units, by which a program can be started.
// Windows starts none by a path of MAX_PATH or more: neither the short nor
// the extended form gets past that limit everywhere (Wine turns both back
// into the long path). Elsewhere any path the file system takes will do.
#ifdef _WIN32
inline constexpr std::optional<std::size_t> kLongestProgramPath = 259;
#else
inline constexpr std::optional<std::size_t> kLongestProgramPath = std::nullopt;
#endif

// Opens the null device on each of the three standard streams that is
// closed, before anything else is opened: a file the launcher opens later
// would otherwise take a standard stream's number, and the runtime would
// read from it or write into it. Where streams are handles, not numbers,
// nothing needs doing.
Status openClosedStandardStreams();

// Whether standard stream `stream` (0, 1 or 2) was closed when
// openClosedStandardStreams ran: the launcher's own reads and writes on it
// still fail, as on a closed stream, while the runtime finds it empty.
bool standardStreamWasClosed(int stream);

// While alive, a write past the process's file size limit fails with
// FileTooBig instead of ending the process without a word; the signal's
// earlier disposition comes back when it goes, before the runtime starts.
class FileSizeLimitAsFailure {
 public:
  FileSizeLimitAsFailure();
  ~FileSizeLimitAsFailure();
  FileSizeLimitAsFailure(const FileSizeLimitAsFailure&) = delete;
  FileSizeLimitAsFailure& operator=(const FileSizeLimitAsFailure&) = delete;

 private:
#ifndef _WIN32
  bool changed_ = false;
  struct sigaction previous_ {};
#endif
};

}  // namespace wexlo
