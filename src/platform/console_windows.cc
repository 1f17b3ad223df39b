#include <algorithm>
#include <array>
#include <string>
#include <string_view>

#include "platform/console.h"
#include "platform/win32_util_windows.h"
#include "platform/wtf8.h"

namespace wexlo {

namespace {

// Console writes of more than a few tens of kilobytes fail on older Windows.
constexpr std::size_t kMaxConsoleWrite = 32 * 1024;

HANDLE handleOf(StreamId stream) {
  return GetStdHandle(stream == StreamId::Output ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

bool usable(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

// MSYS and Cygwin terminal emulators hand their programs named pipes called
// like "\msys-1888ae32e00d56aa-pty0-to-master"; for those programs that pipe
// is the terminal.
bool isEmulatorPty(HANDLE handle) {
  if (GetFileType(handle) != FILE_TYPE_PIPE) return false;
  constexpr std::size_t kMaxNameUnits = 512;
  alignas(FILE_NAME_INFO)
      std::array<std::byte, sizeof(FILE_NAME_INFO) + kMaxNameUnits * sizeof(wchar_t)>
          buffer{};
  auto* info = reinterpret_cast<FILE_NAME_INFO*>(buffer.data());
  if (!GetFileInformationByHandleEx(handle, FileNameInfo, info, buffer.size())) return false;
  std::wstring_view name(info->FileName, info->FileNameLength / sizeof(wchar_t));
  return (name.starts_with(L"\\msys-") || name.starts_with(L"\\cygwin-")) &&
         name.find(L"-pty") != std::wstring_view::npos;
}

bool isTerminalHandle(HANDLE handle) {
  if (!usable(handle)) return false;
  DWORD mode;
  if (GetConsoleMode(handle, &mode)) return true;
  return isEmulatorPty(handle);
}

Status writeConsole(HANDLE handle, std::u16string_view text) {
  while (!text.empty()) {
    std::size_t units = std::min(text.size(), kMaxConsoleWrite / sizeof(char16_t));
    // A surrogate pair stays in one write.
    if (units < text.size() && text[units - 1] >= 0xD800 && text[units - 1] <= 0xDBFF) --units;
    DWORD written = 0;
    if (!WriteConsoleW(handle, reinterpret_cast<const wchar_t*>(text.data()),
                       static_cast<DWORD>(units), &written, nullptr) ||
        written == 0) {
      return fail(Failure::WriteFailed);
    }
    text.remove_prefix(std::min<std::size_t>(written, text.size()));
  }
  return {};
}

class WindowsConsole final : public Console {
 public:
  Status write(StreamId stream, std::span<const char> bytes) override {
    HANDLE handle = handleOf(stream);
    if (!usable(handle)) return fail(Failure::WriteFailed);
    DWORD mode;
    if (GetConsoleMode(handle, &mode)) {
      // A console shows bytes in its own code page, rarely UTF-8; as UTF-16
      // the text reads right in any.
      auto& pending = pending_[stream == StreamId::Output ? 0 : 1];
      return writeConsole(handle, wtf8PieceToWtf16(pending, {bytes.data(), bytes.size()}));
    }
    while (!bytes.empty()) {
      auto chunk = static_cast<DWORD>(std::min(bytes.size(), kMaxConsoleWrite));
      DWORD written = 0;
      if (!WriteFile(handle, bytes.data(), chunk, &written, nullptr) || written == 0) {
        return fail(Failure::WriteFailed);
      }
      bytes = bytes.subspan(written);
    }
    return {};
  }

  Result<std::size_t> readInput(std::span<char> bytes) override {
    HANDLE handle = GetStdHandle(STD_INPUT_HANDLE);
    if (!usable(handle)) return fail(Failure::ReadFailed);
    auto want = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    DWORD got = 0;
    if (!ReadFile(handle, bytes.data(), want, &got, nullptr)) {
      // The writing end of a pipe went away: that is the end of the input.
      if (GetLastError() == ERROR_BROKEN_PIPE) return 0;
      return fail(Failure::ReadFailed);
    }
    return got;
  }

  bool isTerminal(StreamId stream) override { return isTerminalHandle(handleOf(stream)); }

  bool enableEscapeCodes() override {
    HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    if (!usable(handle)) return false;
    DWORD mode;
    if (GetConsoleMode(handle, &mode)) {
      if (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) return true;
      return SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
    }
    return isEmulatorPty(handle);
  }

  bool hasStyleAttributes() override {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) return false;
    resetAttributes_ = info.wAttributes;
    return true;
  }

  Status setStyleAttributes(TextStyle style) override {
    if (!SetConsoleTextAttribute(GetStdHandle(STD_ERROR_HANDLE), attributesOf(style))) {
      return fail(Failure::Unexpected);
    }
    return {};
  }

 private:
  // Console text attributes standing in for the escape codes of each style.
  WORD attributesOf(TextStyle style) const {
    switch (style) {
      case TextStyle::Red:
        return FOREGROUND_RED;
      case TextStyle::Bold:
        return FOREGROUND_RED | FOREGROUND_GREEN | FOREGROUND_BLUE | FOREGROUND_INTENSITY;
      case TextStyle::Dim:
        return FOREGROUND_INTENSITY;
      case TextStyle::Reset:
        break;
    }
    return resetAttributes_;
  }

  WORD resetAttributes_ = 0;
  // Per stream, the start of a character a write cut short.
  std::array<std::string, 2> pending_;
};

}  // namespace

Console& realConsole() {
  static WindowsConsole console;
  return console;
}

}  // namespace wexlo
