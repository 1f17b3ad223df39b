#include "maintenance/maintenance.h"

#include <array>

#include "console/message.h"
#include "install/removal.h"

namespace wexlo {

namespace {

void say(Console& console, StreamId stream, std::initializer_list<std::string_view> pieces) {
  (void)writeMessage(console, stream, pieces);
}

// Reads the answer to the confirmation prompt: the bytes before the first
// line feed, within an 8-byte buffer. EndOfStream when input ends before any
// byte, StreamTooLong when 8 bytes hold no line feed, ReadFailed.
Result<std::string> readConfirmation(Console& console) {
  std::array<char, 8> buffer{};
  std::size_t used = 0;
  while (used < buffer.size()) {
    auto got = console.readInput(std::span(buffer).subspan(used));
    if (!got) return fail(got.error());
    std::string_view seen(buffer.data(), used + *got);
    if (auto newline = seen.find('\n'); newline != std::string_view::npos) {
      return std::string(seen.substr(0, newline));
    }
    if (*got == 0) {
      if (used == 0) return fail(Failure::EndOfStream);
      return std::string(seen);
    }
    used += *got;
  }
  return fail(Failure::StreamTooLong);
}

// Waits for a launcher that is unpacking the install, then removes it, unless
// a runtime runs from it: that is told before anything is said to be deleted,
// and fails with FileBusy.
Status removeUnlessRunning(FileSystem& fs, Console& console, std::string_view installDirectory) {
  auto deleting = [&] {
    say(console, StreamId::Output, {"[i] Deleting directory: ", installDirectory, "\n"});
  };
  auto exists = fs.checkExists(installDirectory);
  if (!exists && exists.error() == Failure::FileNotFound) {
    deleting();
    return {};
  }
  auto locks = lockForRemoval(fs, installDirectory, UnpackingRun::WaitForIt);
  // A first run that failed while this one waited took its install away.
  if (!locks && locks.error() == Failure::FileNotFound) {
    deleting();
    return {};
  }
  if (!locks) return fail(locks.error());
  bool removed = false;
  if (*locks) {
    deleting();
    auto done = removeInstall(fs, installDirectory, std::move(**locks));
    if (!done) return fail(done.error());
    removed = *done;
  }
  if (removed) return {};
  say(console, StreamId::Error,
      {"[!] The application is running from this install; close it, then uninstall again.\n"});
  return fail(Failure::FileBusy);
}

Result<int> uninstall(FileSystem& fs, Console& console, std::string_view installDirectory) {
  say(console, StreamId::Error,
      {"[w] This will uninstall the application runtime for this Wexlo binary!\n"});
  say(console, StreamId::Output, {"[?] Please confirm this action [y/n]: "});

  auto answer = readConfirmation(console);
  if (!answer) {
    say(console, StreamId::Error, {"[!] Failed to confirm: ", failureName(answer.error()), "\n"});
    return fail(answer.error());
  }

  bool yes = !answer->empty() && (answer->front() == 'y' || answer->front() == 'Y');
  if (yes) {
    if (auto deleted = removeUnlessRunning(fs, console, installDirectory); !deleted) {
      return fail(deleted.error());
    }
    say(console, StreamId::Output, {"[i] Uninstall complete!\n"});
  } else {
    say(console, StreamId::Error, {"[w] Uninstall was aborted!\n"});
  }
  say(console, StreamId::Output, {"[i] Quitting.\n"});
  return 0;
}

}  // namespace

bool isMaintenanceRun(const std::vector<std::string>& arguments) {
  return arguments.size() >= 2 && arguments[1] == "maintenance";
}

Result<int> runMaintenance(FileSystem& fs, Console& console,
                           const std::vector<std::string>& arguments,
                           std::string_view installDirectory, std::string_view metadataText) {
  if (arguments.size() == 2) {
    say(console, StreamId::Error, {"[w] No sub-command provided!\n"});
    return 0;
  }
  const std::string& command = arguments[2];
  if (command == "uninstall") return uninstall(fs, console, installDirectory);
  if (command == "directory") {
    if (auto s = writeMessage(console, StreamId::Output, {installDirectory, "\n"}); !s) {
      return fail(s.error());
    }
    return 0;
  }
  if (command == "meta") {
    if (auto s = writeMessage(console, StreamId::Output, {metadataText}); !s) {
      return fail(s.error());
    }
    return 0;
  }
  return 0;
}

}  // namespace wexlo
