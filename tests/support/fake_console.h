// A console for unit tests: records what each stream received (and every
// write call), serves scripted standard input, and can fail writes.
#pragma once

#include <string>
#include <vector>

#include "platform/console.h"
#include "support/printers.h"

namespace wexlo::testing {

class FakeConsole : public Console {
 public:
  std::string out;          // standard output
  std::string err;          // standard error
  std::string interleaved;  // both streams in write order, error bytes marked "E:"
  std::vector<std::string> writes;
  std::string input;                 // what standard input serves, then end of input
  std::size_t inputChunk = 1 << 20;  // at most this many bytes per read
  bool inputFails = false;
  bool outputFails = false;
  bool errorFails = false;
  bool terminal = false;         // isTerminal() for both streams
  bool escapeCodes = false;      // enableEscapeCodes()
  bool styleAttributes = false;  // an old console on standard error

  Status write(StreamId stream, std::span<const char> bytes) override {
    std::string text(bytes.data(), bytes.size());
    if ((stream == StreamId::Output && outputFails) || (stream == StreamId::Error && errorFails)) {
      return fail(Failure::WriteFailed);
    }
    writes.push_back(text);
    (stream == StreamId::Output ? out : err) += text;
    interleaved += (stream == StreamId::Output ? "O:" : "E:") + text;
    return {};
  }
  Result<std::size_t> readInput(std::span<char> bytes) override {
    if (inputFails) return fail(Failure::ReadFailed);
    std::size_t n = std::min({bytes.size(), input.size(), inputChunk});
    input.copy(bytes.data(), n);
    input.erase(0, n);
    return n;
  }
  bool isTerminal(StreamId) override { return terminal; }
  bool enableEscapeCodes() override { return escapeCodes; }
  bool hasStyleAttributes() override { return styleAttributes; }
  Status setStyleAttributes(TextStyle style) override {
    static constexpr const char* kNames[] = {"<red>", "<bold>", "<dim>", "<reset>"};
    err += kNames[static_cast<int>(style)];
    return {};
  }
};

}  // namespace wexlo::testing
