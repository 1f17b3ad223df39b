#include "platform/command_line.h"

#include "platform/wtf8.h"

namespace wexlo {

namespace {

bool isBlank(char16_t unit) { return unit == u' ' || unit == u'\t'; }

// Reads a view as if it ended at its first NUL.
class Cursor {
 public:
  explicit Cursor(std::u16string_view text) : text_(text.substr(0, text.find(u'\0'))) {}
  bool atEnd() const { return position_ >= text_.size(); }
  char16_t peek() const { return text_[position_]; }
  bool nextIs(char16_t unit) const {
    return position_ + 1 < text_.size() && text_[position_ + 1] == unit;
  }
  void advance() { ++position_; }

 private:
  std::u16string_view text_;
  std::size_t position_ = 0;
};

// The program name: quotes only toggle whether blanks end it.
std::u16string readProgram(Cursor& cursor) {
  std::u16string entry;
  bool inQuotes = false;
  for (; !cursor.atEnd(); cursor.advance()) {
    char16_t unit = cursor.peek();
    if (unit == u'"') {
      inQuotes = !inQuotes;
    } else if (isBlank(unit) && !inQuotes) {
      cursor.advance();
      break;
    } else {
      entry += unit;
    }
  }
  return entry;
}

std::u16string readArgument(Cursor& cursor) {
  std::u16string entry;
  std::size_t backslashes = 0;
  bool inQuotes = false;
  for (; !cursor.atEnd(); cursor.advance()) {
    char16_t unit = cursor.peek();
    if (unit == u'\\') {
      ++backslashes;
      continue;
    }
    if (unit == u'"') {
      entry.append(backslashes / 2, u'\\');
      if (backslashes % 2 == 1) {
        entry += u'"';
      } else if (inQuotes && cursor.nextIs(u'"')) {
        entry += u'"';
        cursor.advance();
      } else {
        inQuotes = !inQuotes;
      }
      backslashes = 0;
      continue;
    }
    entry.append(backslashes, u'\\');
    backslashes = 0;
    if (isBlank(unit) && !inQuotes) break;
    entry += unit;
  }
  entry.append(backslashes, u'\\');
  return entry;
}

}  // namespace

std::vector<std::string> splitCommandLine(std::u16string_view commandLine) {
  std::vector<std::string> entries;
  Cursor cursor(commandLine);
  if (cursor.atEnd()) return entries;
  entries.push_back(wtf16ToWtf8(readProgram(cursor)));
  while (true) {
    while (!cursor.atEnd() && isBlank(cursor.peek())) cursor.advance();
    if (cursor.atEnd()) break;
    entries.push_back(wtf16ToWtf8(readArgument(cursor)));
  }
  return entries;
}

}  // namespace wexlo
