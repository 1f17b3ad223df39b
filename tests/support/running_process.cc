#include "support/running_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <stdexcept>
#include <utility>

namespace wexlo::testing {

namespace {

// Appends what one read gives; false at the end of the stream.
bool readMore(int fd, std::string& into) {
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) < 0 && errno == EINTR) {
  }
  if (n <= 0) return false;
  into.append(buffer, static_cast<std::size_t>(n));
  return true;
}

}  // namespace

RunningProcess::RunningProcess(const std::vector<std::string>& argvIn,
                               const ProcessOptions& options, std::filesystem::path errorFile)
    : errorFile_(std::move(errorFile)) {
  std::signal(SIGPIPE, SIG_IGN);
  int outPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, errorFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  const std::string cwd = options.workingDirectory.string();
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  std::vector<std::string> argv = argvIn, env = options.environment;
  auto argvPointers = nullTerminatedPointers(argv), envPointers = nullTerminatedPointers(env);
  const int spawned = posix_spawn(&pid_, argv[0].c_str(), &actions, nullptr, argvPointers.data(),
                                  envPointers.data());
  posix_spawn_file_actions_destroy(&actions);
  ::close(outPipe[1]);
  out_ = outPipe[0];
  if (spawned != 0) {
    ::close(out_);
    throw std::runtime_error("cannot start " + argv[0]);
  }
}

RunningProcess::~RunningProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  if (out_ >= 0) ::close(out_);
}

std::optional<std::string> RunningProcess::readLine() {
  std::size_t end;
  while ((end = pending_.find('\n')) == std::string::npos) {
    if (!readMore(out_, pending_)) return std::nullopt;
  }
  std::string line = pending_.substr(0, end);
  pending_.erase(0, end + 1);
  return line;
}

void RunningProcess::signal(int number) const {
  if (::kill(pid_, number) != 0) throw std::runtime_error("kill failed");
}

ProcessResult RunningProcess::wait() {
  ProcessResult result;
  while (readMore(out_, pending_)) {
  }
  result.out = std::exchange(pending_, {});
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0) {
    if (errno != EINTR) throw std::runtime_error("waitpid failed");
  }
  pid_ = -1;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.err = readFile(errorFile_);
  return result;
}

std::optional<std::string> httpGet(int port, const std::string& path) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return std::nullopt;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return std::nullopt;
  }
  const std::string request = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
  std::string response;
  if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
      static_cast<ssize_t>(request.size())) {
    while (readMore(fd, response)) {
    }
  }
  ::close(fd);
  return response;
}

}  // namespace wexlo::testing
