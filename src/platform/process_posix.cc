// The process layer on Linux and macOS: argv as given, the environment from
// `environ`, and execve in place of starting a child.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>

#ifdef __APPLE__
#include <mach-o/dyld.h>
#endif

#include "platform/default_install_root.h"
#include "platform/errno_failure_posix.h"
#include "platform/output_relay_posix.h"
#include "platform/process.h"

extern "C" char** environ;

namespace wexlo {

namespace {

// Longest path handed on, as on Windows.
constexpr std::size_t kMaxPathBytes = 98'302;

std::vector<std::string>& savedArguments() {
  static std::vector<std::string> arguments;
  return arguments;
}

struct FreeDeleter {
  void operator()(char* p) const { std::free(p); }
};

Result<std::string> resolvedPath(const char* path) {
  std::unique_ptr<char, FreeDeleter> resolved(realpath(path, nullptr));
  if (!resolved) return fail(failureFromErrno(errno));
  std::string result(resolved.get());
  if (result.size() > kMaxPathBytes) return fail(Failure::NameTooLong);
  return result;
}

// The same failure names a refused CreateProcessW gives for the same cause.
Failure failureFromExecErrno(int error, const std::string& program) {
  struct stat info;
  if (error == EACCES && stat(program.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    return Failure::FileNotFound;
  }
  if (error == ENOEXEC
#ifdef ELIBBAD
      || error == ELIBBAD
#endif
  ) {
    return Failure::InvalidExe;
  }
  return failureFromErrno(error);
}

class PosixProcess : public Process {
 public:
  Result<std::vector<std::string>> arguments() override { return savedArguments(); }

  Result<Environment> environment() override {
    std::vector<EnvironmentVariable> entries;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
      std::string_view text(*entry);
      // A name ends at the first "=" after its first byte.
      auto separator = text.find('=', 1);
      if (separator == std::string_view::npos) {
        entries.push_back({std::string(text), ""});
      } else {
        entries.push_back(
            {std::string(text.substr(0, separator)), std::string(text.substr(separator + 1))});
      }
    }
    return Environment::fromEntries(entries, exactNameEquals);
  }

  std::optional<std::string> defaultInstallRoot() override {
    return posixDefaultInstallRoot([](std::string_view name) -> std::optional<std::string> {
      const char* value = std::getenv(std::string(name).c_str());
      if (value == nullptr) return std::nullopt;
      return std::string(value);
    });
  }

  Result<std::string> selfExecutablePath() override {
#ifdef __APPLE__
    std::uint32_t size = 0;
    _NSGetExecutablePath(nullptr, &size);
    std::string image(size, '\0');
    if (_NSGetExecutablePath(image.data(), &size) != 0) return fail(Failure::Unexpected);
    return resolvedPath(image.c_str());
#else
    // The kernel's link is already absolute and free of links; realpath()
    // would only confirm that, one readlink per component.
    std::string link(PATH_MAX, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", link.data(), link.size());
    if (length > 0 && static_cast<std::size_t>(length) < link.size() && link[0] == '/') {
      link.resize(static_cast<std::size_t>(length));
      // A file replaced or deleted since it was started shows as
      // "... (deleted)"; realpath() then opens the file through the link.
      if (!link.ends_with(" (deleted)")) return link;
    }
    return resolvedPath("/proc/self/exe");
#endif
  }

  Result<int> handOver(const std::string& program, const std::vector<std::string>& argv,
                       const Environment& environment) override {
    std::vector<std::string> variables;
    for (const auto& [name, value] : environment.entries()) variables.push_back(name + "=" + value);
    // A NUL would silently cut an argument or variable short.
    auto holdsNul = [](const std::string& s) { return s.contains('\0'); };
    if (holdsNul(program) || std::ranges::any_of(argv, holdsNul) ||
        std::ranges::any_of(variables, holdsNul)) {
      return fail(Failure::InvalidCharacter);
    }
    auto pointers = [](std::vector<std::string>& strings) {
      std::vector<char*> result;
      for (auto& s : strings) result.push_back(s.data());
      result.push_back(nullptr);
      return result;
    };
    std::vector<std::string> arguments = argv;
    auto argumentPointers = pointers(arguments);
    auto variablePointers = pointers(variables);
    std::fflush(nullptr);
    relayStandardOutput();
    // The launcher ignores SIGPIPE for its own messages; an ignored signal
    // would stay ignored across exec, so the runtime gets the default back.
    auto previous = std::signal(SIGPIPE, SIG_DFL);
    execve(program.c_str(), argumentPointers.data(), variablePointers.data());
    int error = errno;
    std::signal(SIGPIPE, previous);
    return fail(failureFromExecErrno(error, program));
  }
};

}  // namespace

void setProcessArguments(int argc, char** argv) {
  auto& arguments = savedArguments();
  arguments.assign(argv, argv + argc);
}

Process& realProcess() {
  static PosixProcess process;
  return process;
}

}  // namespace wexlo
