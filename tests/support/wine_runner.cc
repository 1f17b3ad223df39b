#include "support/wine_runner.h"

#include <gtest/gtest.h>

#include <charconv>

#include "platform/wtf8.h"

namespace wexlo::testing {

namespace {

std::string hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char byte : bytes) {
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0xF];
  }
  return out;
}

// One starter request line holding `text` as UTF-16LE units.
std::string unitsLine(std::string_view kind, std::string_view text) {
  auto units = wtf8ToWtf16(text);
  EXPECT_TRUE(units) << "not WTF-8: " << text;
  std::string bytes;
  for (char16_t unit : units.value_or(u"")) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return std::string(kind) + "\t" + hex(bytes) + "\n";
}

}  // namespace

std::string windowsPath(const std::filesystem::path& path) {
  std::string out = "Z:" + std::filesystem::absolute(path).lexically_normal().string();
  for (char& c : out) {
    if (c == '/') c = '\\';
  }
  return out;
}

bool isAddedByWine(std::string_view entry) {
  return entry.starts_with("WINE") || entry.starts_with("SystemDrive=") ||
         entry.starts_with("SystemRoot=");
}

std::vector<std::string> withoutWineEntries(const std::vector<std::string>& environment) {
  std::vector<std::string> out;
  for (const auto& entry : environment) {
    if (!isAddedByWine(entry)) out.push_back(entry);
  }
  return out;
}

std::filesystem::path wineStarterPath() {
  return std::filesystem::path(WEXLO_TEST_HELPERS_DIR) / "wine_starter.exe";
}

std::filesystem::path consoleDriverPath() {
  return std::filesystem::path(WEXLO_TEST_HELPERS_DIR) / "console_driver.exe";
}

Wine::Wine(std::filesystem::path prefix) : prefix_(std::move(prefix)) {
  // The first Windows program started on a prefix also starts the server and
  // Wine's service processes, which inherit its standard streams and outlive
  // it: a test reading those streams to their end would wait for them to
  // exit. Starting them here with no streams, and keeping the server a few
  // seconds past its last program, makes each run take milliseconds.
  const std::string quiet = " </dev/null >/dev/null 2>&1";
  runProcess({"/bin/sh", "-c",
              "/usr/bin/wineserver -p10" + quiet + "; /usr/bin/wine " + wineStarterPath().string() +
                  quiet + "; exit 0"},
             {linuxEnvironment({}), std::nullopt, {}});
}

std::vector<std::string> Wine::linuxEnvironment(const std::vector<std::string>& extra) const {
  // No DISPLAY: no window system, so nothing but the program's own output.
  // A UTF-8 locale: Wine converts Windows file names to Linux ones in the
  // locale's character set, and fails on names outside it.
  std::vector<std::string> env = {"WINEPREFIX=" + prefix_.string(), "WINEDEBUG=-all",
                                  "WINEDLLOVERRIDES=mscoree,mshtml=", "LANG=C.UTF-8"};
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

ProcessResult Wine::run(const std::filesystem::path& program, const std::vector<std::string>& args,
                        const ProcessOptions& options) const {
  std::vector<std::string> argv = {"/usr/bin/wine", program.string()};
  argv.insert(argv.end(), args.begin(), args.end());
  ProcessOptions wineOptions = options;
  wineOptions.environment = linuxEnvironment(options.environment);
  return runProcess(argv, wineOptions);
}

ProcessResult Wine::runInTerminal(const std::filesystem::path& program,
                                  const std::vector<std::string>& args,
                                  const ProcessOptions& options) const {
  auto shellQuoted = [](const std::string& word) {
    std::string out = "'";
    for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
  };
  std::string command = "exec /usr/bin/wine " + shellQuoted(program.string());
  for (const auto& arg : args) command += " " + shellQuoted(arg);
  ProcessOptions wineOptions = options;
  wineOptions.environment = linuxEnvironment(options.environment);
  return runProcess({"/usr/bin/script", "-qec", command, "/dev/null"}, wineOptions);
}

ExactRun Wine::start(const std::filesystem::path& program, std::string_view commandLine,
                     const std::vector<std::string>& environment, const ProcessOptions& options,
                     bool detached) const {
  const std::filesystem::path request = scratch_ / "start.request";
  const std::filesystem::path status = scratch_ / "status";
  std::filesystem::remove(status);
  std::string text = unitsLine("app", windowsPath(program)) + unitsLine("cmdline", commandLine);
  for (const auto& entry : environment) text += unitsLine("env", entry);
  text += "status\t" + hex(windowsPath(status)) + "\n";
  if (detached) text += "detached\t\n";
  writeFile(request, text);

  ExactRun run;
  run.result = this->run(wineStarterPath(), {windowsPath(request)},
                         {{}, options.input, options.workingDirectory});
  std::string code = readFile(status);
  std::uint32_t value = 0;
  auto [end, error] = std::from_chars(code.data(), code.data() + code.size(), value);
  if (!code.empty() && error == std::errc() && end == code.data() + code.size()) {
    run.exitCode = value;
  }
  return run;
}

}  // namespace wexlo::testing
