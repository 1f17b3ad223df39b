// A program left running while a test talks to it: its standard output is
// read line by line, standard error collected in a file, and it is stopped
// with a signal. Plus the smallest HTTP client, for services.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/process_runner.h"

namespace wexlo::testing {

class RunningProcess {
 public:
  // Standard input is /dev/null; standard error goes to `errorFile`.
  RunningProcess(const std::vector<std::string>& argv, const ProcessOptions& options,
                 std::filesystem::path errorFile);
  ~RunningProcess();  // kills and reaps a process still running
  RunningProcess(const RunningProcess&) = delete;
  RunningProcess& operator=(const RunningProcess&) = delete;

  pid_t pid() const { return pid_; }
  // The next line of standard output without its line feed; nothing at its end.
  std::optional<std::string> readLine();
  void signal(int number) const;
  // Reads standard output to its end and waits: `out` holds what readLine
  // had not returned.
  ProcessResult wait();

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string pending_;
  std::filesystem::path errorFile_;
};

// GET `path` from 127.0.0.1:`port` over HTTP/1.0: the whole response, or
// nothing when no connection could be made.
std::optional<std::string> httpGet(int port, const std::string& path);

}  // namespace wexlo::testing
