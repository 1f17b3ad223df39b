#include "launch/runtime_launch.h"

#include "platform/path.h"

namespace wexlo {

namespace {

#ifdef _WIN32
constexpr std::string_view kRuntimeProgram = "erl.exe";
#else
constexpr std::string_view kRuntimeProgram = "erl";
#endif

// The cookie file holds at most 255 bytes.
constexpr std::size_t kCookieReadLimit = 256;

}  // namespace

ReleasePaths releasePaths(std::string_view installDirectory, const BuildMetadata& metadata) {
  const std::string runtimeDirectory = "erts-" + metadata.ertsVersion;
  const std::string releaseDirectory =
      joinPath({installDirectory, "releases", metadata.appVersion});
  return ReleasePaths{
      .runtimeExecutable = joinPath({installDirectory, runtimeDirectory, "bin", kRuntimeProgram}),
      .cookieFile = joinPath({installDirectory, "releases", "COOKIE"}),
      .libraryDirectory = joinPath({installDirectory, "lib"}),
      .bootFile = joinPath({releaseDirectory, "start"}),
      .argumentsFile = joinPath({releaseDirectory, "vm.args"}),
      .configurationFile = joinPath({releaseDirectory, "sys.config"}),
      .configurationBase = joinPath({releaseDirectory, "sys"}),
  };
}

std::vector<std::string> runtimeArguments(const ReleasePaths& paths, std::string_view cookie,
                                          const std::vector<std::string>& arguments,
                                          StartMode mode) {
  // "-mode embedded" stays one argument, not "-mode" and "embedded": released
  // launchers have always passed it so, and splitting it would change the
  // code-loading mode every existing release boots in.
  std::vector<std::string> argv = {
      paths.runtimeExecutable,
      "-elixir",
      "ansi_enabled",
      "true",
      "-noshell",
      "-s",
      "elixir",
      "start_cli",
      "-mode embedded",
      "-setcookie",
      std::string(cookie),
      "-boot",
      paths.bootFile,
      "-boot_var",
      "RELEASE_LIB",
      paths.libraryDirectory,
      "-args_file",
      paths.argumentsFile,
      "-config",
      paths.configurationFile,
      "-extra",
  };
  // Elixir's command-line handler would halt a server right after boot and
  // read the user's arguments as its own options or as a script to run.
  if (mode == StartMode::Service) argv.erase(argv.begin() + 5, argv.begin() + 8);
  if (arguments.size() > 1) argv.insert(argv.end(), arguments.begin() + 1, arguments.end());
  return argv;
}

Result<int> launchRuntime(FileSystem& fs, Console& console, Process& process,
                          const std::vector<std::string>& arguments,
                          std::string_view selfExecutablePath, const BuildMetadata& metadata,
                          std::string_view installDirectory, const RunStampSource& stamp) {
  auto environment = process.environment();
  if (!environment) return fail(environment.error());
  environment->set("_IS_TTY", console.isTerminal(StreamId::Output) ? "1" : "0");

  ReleasePaths paths = releasePaths(installDirectory, metadata);

  // Read in every run, even when RELEASE_COOKIE wins, so a release without
  // its cookie file never starts. The file stays open until the runtime has
  // ended (on POSIX it closes on exec).
  auto cookieFile = fs.openForReading(paths.cookieFile);
  if (!cookieFile) return fail(cookieFile.error());
  auto fileCookie = (*cookieFile)->readAll(kCookieReadLimit);
  if (!fileCookie) return fail(fileCookie.error());
  const auto environmentCookie = environment->get("RELEASE_COOKIE");
  const std::string cookie = environmentCookie ? std::string(*environmentCookie) : *fileCookie;

  auto copy = copyConfigurationForRun(fs, *environment, installDirectory, paths.configurationFile,
                                      metadata, stamp);
  if (!copy) return fail(copy.error());
  if (*copy) {
    paths.configurationFile = (*copy)->file;
    paths.configurationBase = (*copy)->base;
  }

  const auto argv = runtimeArguments(paths, cookie, arguments, startModeIn(metadata.options));

  environment->set("RELEASE_ROOT", installDirectory);
  environment->set("RELEASE_SYS_CONFIG", paths.configurationBase);
  environment->set("__WEXLO", "1");
  environment->set("__WEXLO_BIN_PATH", selfExecutablePath);

  return process.handOver(paths.runtimeExecutable, argv, *environment);
}

}  // namespace wexlo
