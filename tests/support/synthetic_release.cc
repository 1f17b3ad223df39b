#include "support/synthetic_release.h"

#include "support/process_runner.h"

namespace wexlo::testing {

std::string fakeErlBinary() { return readFile(std::string(WEXLO_TEST_HELPERS_DIR) + "/fake_erl"); }

std::vector<ArchiveFile> syntheticRelease(const std::string& appName, const std::string& appVersion,
                                          const std::string& ertsVersion, int libraryFiles,
                                          const std::string& cookie) {
  std::vector<ArchiveFile> files;
  files.push_back({"lib/.wexlo", "", 0100644});
  std::uint32_t seed = 12345;
  for (int i = 0; i < libraryFiles; ++i) {
    std::string app = "lib/app" + std::to_string(i % 7) + "-1." + std::to_string(i % 3);
    std::string dir = i % 5 == 0 ? app + "/priv/data/" + std::to_string(i % 4) : app + "/ebin";
    std::string content;
    int length = static_cast<int>((seed = seed * 1103515245 + 12345) % 3000);
    for (int j = 0; j < length; ++j) {
      content.push_back(static_cast<char>("abcdefgh \n"[(seed >> (j % 16)) % 10]));
    }
    files.push_back(
        {dir + "/m" + std::to_string(i) + ".beam", content, i % 11 == 0 ? 0100755u : 0100644u});
  }
  std::string erts = "erts-" + ertsVersion;
  files.push_back({erts + "/bin/erl", fakeErlBinary(), 0100755});
  files.push_back({erts + "/bin/empty", "", 0100644});
  files.push_back({"releases/COOKIE", cookie, 0100644});
  files.push_back({"releases/start_erl.data", ertsVersion + " " + appVersion, 0100644});
  std::string release = "releases/" + appVersion;
  files.push_back({release + "/start.boot", "boot", 0100644});
  files.push_back({release + "/vm.args", "-args", 0100644});
  files.push_back({release + "/sys.config", "[].", 0100644});
  files.push_back({"bin/" + appName, "#!/bin/sh\necho start\n", 0100755});
  return files;
}

std::string fakeErlWindowsBinary() {
  return readFile(std::string(WEXLO_TEST_HELPERS_DIR) + "/fake_erl.exe");
}

std::vector<ArchiveFile> syntheticWindowsRelease(const std::string& appName,
                                                 const std::string& appVersion,
                                                 const std::string& ertsVersion, int libraryFiles,
                                                 const std::string& cookie) {
  auto files = syntheticRelease(appName, appVersion, ertsVersion, libraryFiles, cookie);
  for (auto& file : files) {
    if (file.path == "erts-" + ertsVersion + "/bin/erl") {
      file = {file.path + ".exe", fakeErlWindowsBinary(), 0100755};
    } else if (file.path == "bin/" + appName) {
      file = {file.path + ".bat", "@echo start\r\n", 0100644};
    }
  }
  files.push_back({"releases/" + appVersion + "/" + appName + ".rel",
                   "{release,{\"" + appName + "\",\"" + appVersion + "\"},{erts,\"" + ertsVersion +
                       "\"},[{elixir,\"1.14.0\"}]}.\n",
                   0100644});
  return files;
}

}  // namespace wexlo::testing
