#include "support/fake_erl_record.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/wtf8.h"

namespace wexlo::testing {
namespace {

using ParseResult = std::expected<FakeErlRecord, std::string>;

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> unhex(std::string_view text) {
  if (text.size() % 2 != 0) return std::nullopt;
  std::string bytes;
  bytes.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    int high = hexDigit(text[i]);
    int low = hexDigit(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes += static_cast<char>(high << 4 | low);
  }
  return bytes;
}

std::optional<std::u16string> utf16le(std::string_view bytes) {
  if (bytes.size() % 2 != 0) return std::nullopt;
  std::u16string units;
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    units += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                   static_cast<unsigned char>(bytes[i + 1]) << 8);
  }
  return units;
}

std::string_view nameOf(std::string_view entry) {
  std::size_t equals = entry.empty() ? std::string_view::npos : entry.find('=', 1);
  return equals == std::string_view::npos ? entry : entry.substr(0, equals);
}

bool equalIgnoringAsciiCase(std::string_view a, std::string_view b) {
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [&](char x, char y) { return lower(x) == lower(y); });
}

template <typename Match>
std::optional<std::string> findEnv(const std::vector<std::string>& environment, Match match) {
  for (const std::string& entry : environment) {
    std::string_view name = nameOf(entry);
    if (match(name)) {
      return name.size() < entry.size() ? entry.substr(name.size() + 1) : std::string();
    }
  }
  return std::nullopt;
}

// Stores one decoded item; false when a kind that occurs once comes again.
bool store(FakeErlRecord& record, std::string_view kind, std::string value,
           const std::optional<std::u16string>& units) {
  auto once = [&](std::optional<std::string>& slot) {
    if (slot) return false;
    slot = std::move(value);
    return true;
  };
  if (kind == "arg" || kind == "arg16") {
    record.args.push_back(std::move(value));
    return true;
  }
  if (kind == "env" || kind == "env16") {
    record.environment.push_back(std::move(value));
    return true;
  }
  if (kind == "cmdline16") {
    record.commandLine16 = units;
    return once(record.commandLine);
  }
  if (kind == "cwd" || kind == "cwd16") return once(record.workingDirectory);
  if (kind == "exe" || kind == "exe16") return once(record.executable);
  if (kind == "console") return once(record.console);
  return once(record.standardInput);
}

bool knownKind(std::string_view kind) {
  static constexpr std::string_view kKinds[] = {"arg",   "env",   "cwd",   "exe",   "stdin",
                                                "arg16", "env16", "cwd16", "exe16", "cmdline16"};
  return kind == "console" ||
         std::find(std::begin(kKinds), std::end(kKinds), kind) != std::end(kKinds);
}

}  // namespace

std::optional<std::string> FakeErlRecord::env(std::string_view name) const {
  return findEnv(environment, [&](std::string_view n) { return n == name; });
}

std::optional<std::string> FakeErlRecord::envIgnoringCase(std::string_view name) const {
  return findEnv(environment, [&](std::string_view n) { return equalIgnoringAsciiCase(n, name); });
}

std::vector<std::string> FakeErlRecord::envNames() const {
  std::vector<std::string> names;
  for (const std::string& entry : environment) names.emplace_back(nameOf(entry));
  return names;
}

ParseResult parseFakeErlRecord(std::string_view text) {
  FakeErlRecord record;
  std::size_t lineNumber = 0;
  while (!text.empty()) {
    ++lineNumber;
    auto where = [&](std::string_view what) {
      return std::unexpected("fake_erl record line " + std::to_string(lineNumber) + ": " +
                             std::string(what));
    };
    std::size_t end = text.find('\n');
    if (end == std::string_view::npos) return where("ends without a line feed (truncated?)");
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);

    std::size_t tab = line.find('\t');
    if (tab == std::string_view::npos) return where("no tab");
    std::string_view kind = line.substr(0, tab);
    if (!knownKind(kind)) return where("unknown kind \"" + std::string(kind) + "\"");
    std::optional<std::string> bytes = unhex(line.substr(tab + 1));
    if (!bytes) return where("bad hex");

    std::optional<std::u16string> units;
    std::string value = std::move(*bytes);
    if (kind.ends_with("16")) {
      units = utf16le(value);
      if (!units) return where("odd number of UTF-16 bytes");
      value = wtf16ToWtf8(*units);
    }
    if (!store(record, kind, std::move(value), units)) {
      return where("\"" + std::string(kind) + "\" occurs twice");
    }
  }
  if (record.args.empty()) return std::unexpected("fake_erl record holds no arguments");
  return record;
}

ParseResult readFakeErlRecord(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::unexpected("cannot open fake_erl record " + path.string());
  std::ostringstream text;
  text << file.rdbuf();
  if (file.bad()) return std::unexpected("cannot read fake_erl record " + path.string());
  return parseFakeErlRecord(text.str());
}

}  // namespace wexlo::testing
