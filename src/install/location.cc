#include "install/location.h"

#include "platform/wtf8.h"

namespace wexlo {

std::string overrideVariableName(std::string_view appName) {
  std::string name(appName);
  for (char& c : name) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return name + "_INSTALL_DIR";
}

std::string installDirectoryName(std::string_view appName, std::string_view ertsVersion,
                                 std::string_view appVersion) {
  std::string name(appName);
  name.append("_erts-").append(ertsVersion).append("_").append(appVersion);
  return name;
}

Result<std::string> resolveBaseDirectory(Console& console, const Environment& environment,
                                         Process& process, std::string_view appName) {
  std::string variable = overrideVariableName(appName);
  if (auto value = environment.get(variable)) {
    (void)writeMessage(console, StreamId::Output,
                       {"[i] Install path is being overridden using `", variable, "`\n"});
    (void)writeMessage(console, StreamId::Output, {"[i] New install path is: ", *value, "\n"});
    return joinPath({*value, ".wexlo"});
  }
  auto root = process.defaultInstallRoot();
  if (!root) return fail(Failure::AppDataDirUnavailable);
  return joinPath({*root, ".wexlo"});
}

Result<std::string> resolveInstallDirectory(FileSystem& fs, std::string_view baseDirectory,
                                            std::string_view installDirectoryName) {
  if (auto made = fs.makePath(baseDirectory); !made) return fail(made.error());
  return joinPath({baseDirectory, installDirectoryName});
}

std::optional<std::string> runtimePathTooLong(std::string_view runtimePath,
                                              std::string_view appName,
                                              std::optional<std::size_t> longest) {
  if (!longest) return std::nullopt;
  auto units = wtf8ToWtf16(runtimePath);
  // A path that does not convert fails at the start with its own name.
  if (!units || units->size() <= *longest) return std::nullopt;
  return "the runtime's path in this install is " + std::to_string(units->size()) +
         " characters long, and programs can only be started by paths of at most " +
         std::to_string(*longest) + "; set " + overrideVariableName(appName) +
         " to a shorter directory";
}

void reportInstallLocationFailure(Console& console, std::string_view appName) {
  std::string variable = overrideVariableName(appName);
  auto line = [&](std::initializer_list<std::string_view> pieces) {
    (void)writeMessage(console, StreamId::Error, pieces);
  };
  line({"[!] We could not install this application to the default directory.\n"});
  line({"[!] This may be due to a permission error.\n"});
  line({"[!] Please override the default ", appName, " install directory using the `", variable,
        "` environment variable.\n"});
  line({"[!] On Linux or MacOS you can run the command: `export ", variable,
        "=/some/other/path`\n"});
  line({"[!] On Windows you can use: `SET ", variable, "=D:\\some\\other\\path`\n"});
}

}  // namespace wexlo
