#include "platform/windows_command_line.h"

#include <algorithm>

#include "platform/wtf8.h"

namespace wexlo {

namespace {

bool needsQuotes(std::string_view argument) {
  return argument.empty() ||
         std::ranges::any_of(argument, [](char c) { return static_cast<unsigned char>(c) <= ' '; });
}

void appendQuoted(std::string& line, std::string_view argument) {
  line += '"';
  std::size_t backslashes = 0;
  for (char c : argument) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    // Backslashes only escape when a quote follows: double them, plus one for
    // the quote itself.
    line.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    line += c;
  }
  // The closing quote follows, so trailing backslashes are doubled too.
  line.append(2 * backslashes, '\\');
  line += '"';
}

}  // namespace

Result<std::string> quoteCommandLine(const std::vector<std::string>& argv) {
  std::string line;
  for (std::size_t i = 0; i < argv.size(); ++i) {
    std::string_view argument = argv[i];
    if (argument.contains('\0')) return fail(Failure::InvalidCharacter);
    if (i > 0) line += ' ';
    if (i == 0) {
      if (argument.contains('"')) return fail(Failure::InvalidArg0);
      if (needsQuotes(argument)) {
        line += '"';
        line += argument;
        line += '"';
      } else {
        line += argument;
      }
    } else if (needsQuotes(argument) || argument.contains('"')) {
      appendQuoted(line, argument);
    } else {
      line += argument;
    }
  }
  return line;
}

Result<std::u16string> environmentBlock(const Environment& environment) {
  std::u16string block;
  for (const auto& [name, value] : environment.entries()) {
    if (name.contains('\0') || value.contains('\0')) return fail(Failure::InvalidCharacter);
    auto wideName = wtf8ToWtf16(name);
    if (!wideName) return fail(wideName.error());
    auto wideValue = wtf8ToWtf16(value);
    if (!wideValue) return fail(wideValue.error());
    block += *wideName;
    block += u'=';
    block += *wideValue;
    block += u'\0';
  }
  block += u'\0';
  // An empty map still needs two NULs: Windows reads the block up to a pair.
  if (block.size() == 1) block += u'\0';
  return block;
}

}  // namespace wexlo
