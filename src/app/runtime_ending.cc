#include "app/runtime_ending.h"

#include <array>
#include <string_view>

namespace wexlo {

namespace {

struct Ending {
  std::uint32_t status;
  bool started;  // false: the runtime never ran its own code
  std::string_view words;
};

constexpr std::array kEndings = {
    Ending{0xC0000135, false, "a DLL the runtime needs is missing"},
    Ending{0xC0000139, false, "a DLL the runtime needs lacks a function the runtime uses"},
    Ending{0xC000007B, false, "the runtime or a DLL it needs is not a program for this system"},
    Ending{0xC0000142, false, "a DLL the runtime needs failed to initialise"},
    Ending{0xC0000005, true, "access violation"},
    Ending{0xC0000006, true, "a page of its code could not be read from disk"},
    Ending{0xC000001D, true, "illegal instruction"},
    Ending{0xC0000096, true, "privileged instruction"},
    Ending{0xC0000094, true, "integer division by zero"},
    Ending{0xC00000FD, true, "stack overflow"},
    Ending{0xC0000017, true, "out of memory"},
    Ending{0xC0000374, true, "heap corruption"},
    Ending{0xC0000409, true, "it stopped itself on a fatal fault (fail fast)"},
    Ending{0x80000003, true, "breakpoint"},
};

}  // namespace

std::optional<std::string> runtimeEndingMessage(std::uint32_t status) {
  for (const auto& ending : kEndings) {
    if (ending.status != status) continue;
    std::string hex = "0x";
    for (int shift = 28; shift >= 0; shift -= 4) hex += "0123456789ABCDEF"[(status >> shift) & 0xF];
    return std::string(ending.started ? "the runtime crashed: " : "the runtime could not start: ") +
           std::string(ending.words) + " (" + hex + ")";
  }
  return std::nullopt;
}

}  // namespace wexlo
