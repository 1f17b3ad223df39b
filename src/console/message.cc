#include "console/message.h"

#include <array>

namespace wexlo {

namespace {

// Collects a message's bytes and hands them to the stream 64 at a time, so a
// long path comes out whole and in order without a large allocation.
class MessageWriter {
 public:
  MessageWriter(Console& console, StreamId stream) : console_(console), stream_(stream) {}

  Status put(std::string_view text) {
    while (!text.empty()) {
      std::size_t n = std::min(text.size(), buffer_.size() - used_);
      text.copy(buffer_.data() + used_, n);
      used_ += n;
      text.remove_prefix(n);
      if (used_ == buffer_.size()) {
        if (auto flushed = flush(); !flushed) return flushed;
      }
    }
    return {};
  }

  Status flush() {
    if (used_ == 0) return {};
    auto written = console_.write(stream_, {buffer_.data(), used_});
    used_ = 0;
    return written;
  }

 private:
  Console& console_;
  StreamId stream_;
  std::array<char, 64> buffer_{};
  std::size_t used_ = 0;
};

constexpr std::string_view kRed = "\x1b[31m";
constexpr std::string_view kBold = "\x1b[1m";
constexpr std::string_view kDim = "\x1b[2m";
constexpr std::string_view kReset = "\x1b[0m";

}  // namespace

Status writeMessage(Console& console, StreamId stream,
                    std::initializer_list<std::string_view> pieces) {
  MessageWriter writer(console, stream);
  for (std::string_view piece : pieces) {
    if (auto put = writer.put(piece); !put) return put;
  }
  return writer.flush();
}

void ErrorLog::logError(std::initializer_list<std::string_view> pieces) {
  if (!colour_) colour_ = chooseColourMode(console_, environment_);
  MessageWriter writer(console_, StreamId::Error);

  // A colour step that fails is ignored; a text write that fails ends the line.
  auto colour = [&](std::string_view code, TextStyle style) {
    switch (*colour_) {
      case ColourMode::None:
        break;
      case ColourMode::EscapeCodes:
        (void)writer.put(code);
        break;
      case ColourMode::ConsoleAttributes:
        (void)writer.flush();
        (void)console_.setStyleAttributes(style);
        break;
    }
  };
  auto line = [&]() -> Status {
    colour(kRed, TextStyle::Red);
    colour(kBold, TextStyle::Bold);
    if (auto s = writer.put("error"); !s) return s;
    colour(kReset, TextStyle::Reset);
    colour(kDim, TextStyle::Dim);
    colour(kBold, TextStyle::Bold);
    if (auto s = writer.put(": "); !s) return s;
    colour(kReset, TextStyle::Reset);
    for (std::string_view piece : pieces) {
      if (auto s = writer.put(piece); !s) return s;
    }
    return writer.put("\n");
  };
  (void)line();
  (void)writer.flush();
}

}  // namespace wexlo
