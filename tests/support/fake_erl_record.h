// Reads back what tests/helpers/fake_erl recorded about how it was started.
// The helper is built as <tests binary dir>/fake_erl (WEXLO_TEST_HELPERS_DIR
// in the test programs); tests install it as erts-<v>/bin/erl of a synthetic
// release and point WEXLO_FAKE_ERL_RECORD at a file.
#pragma once

#include <expected>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace wexlo::testing {

struct FakeErlRecord {
  // The argument vector, entry 0 included. On Windows the C runtime's split of
  // the command line, as WTF-8.
  std::vector<std::string> args;
  // "NAME=VALUE" entries in the order the process got them (WTF-8 on Windows).
  std::vector<std::string> environment;
  std::optional<std::string> commandLine;       // Windows only: the raw command line, WTF-8
  std::optional<std::u16string> commandLine16;  // Windows only: the same, as UTF-16 units
  std::optional<std::string> workingDirectory;
  std::optional<std::string> executable;     // the helper's own path as the OS reports it
  std::optional<std::string> standardInput;  // with WEXLO_FAKE_ERL_READ_STDIN=1
  std::optional<std::string> console;        // Windows only: "attached" or "none"

  // The value of the first entry named exactly `name`. A name ends at the
  // first '=' after its first character, so Windows' "=C:=C:\dir" entries
  // have the name "=C:".
  std::optional<std::string> env(std::string_view name) const;
  // The same, comparing names without regard to ASCII letter case (the
  // Windows rule for the names tests use).
  std::optional<std::string> envIgnoringCase(std::string_view name) const;
  // The names of all entries, in order.
  std::vector<std::string> envNames() const;
};

// Parses the record text; a malformed line (unknown kind, missing tab, bad
// hex, odd UTF-16 length) is an error naming the line.
std::expected<FakeErlRecord, std::string> parseFakeErlRecord(std::string_view text);

// Reads and parses the record file.
std::expected<FakeErlRecord, std::string> readFakeErlRecord(const std::filesystem::path& path);

}  // namespace wexlo::testing
