// Runs a program as a child process with a controlled environment and
// standard input, and collects its output and exit status.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace wexlo::testing {

struct ProcessOptions {
  std::vector<std::string> environment;  // "NAME=value" entries, nothing else
  std::optional<std::string> input;      // standard input; nothing: /dev/null
  std::filesystem::path workingDirectory;
};

struct ProcessResult {
  int status = -1;  // exit status, or 128 + signal number
  std::string out;
  std::string err;
};

// Pointers to `strings` followed by a null pointer, for exec and spawn calls.
std::vector<char*> nullTerminatedPointers(std::vector<std::string>& strings);

ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});

// A fresh directory under the system's temporary directory, removed with
// everything in it when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

std::string readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, std::string_view content);

}  // namespace wexlo::testing
