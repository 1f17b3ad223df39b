// What an ELF program or library asks of the loader: whether it names an
// interpreter (a program does, a shared library does not) and the shared
// libraries it needs, read through its program headers as the loader does.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace wexlo::image {

struct ElfDynamic {
  bool interpreter = false;         // a PT_INTERP segment: a dynamically linked program
  std::vector<std::string> needed;  // DT_NEEDED names, in the file's order
};

// Nothing when `file` is no ELF file, or its program headers, dynamic
// segment or string table lie outside it. A static program needs nothing.
std::optional<ElfDynamic> readElfDynamic(std::span<const std::uint8_t> file);

}  // namespace wexlo::image
