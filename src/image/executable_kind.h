// Tells whether a file is a program or library in one of the formats the
// packer knows (ELF, PE, Mach-O) and what it is built for. Only a header that
// reads soundly counts: "MZ" or 0xCAFEBABE alone (a Java class file) do not.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "image/elf_image.h"
#include "image/macho_image.h"
#include "image/pe_image.h"

namespace wexlo::image {

// Bytes enough for mayBeExecutable().
inline constexpr std::size_t kExecutableMagicSize = 4;

struct Executable {
  // Exactly one of these is set.
  std::optional<ElfHeader> elf;
  std::optional<PeImage> pe;
  std::optional<MachOImage> machO;
  // The shared libraries it asks the loader for (ELF DT_NEEDED entries, a PE
  // image's imported DLLs); empty when they do not read soundly.
  std::vector<std::string> needed;
  bool interpreter = false;  // an ELF program that names its loader

  // Whether an ELF file is for Linux: built for the System V ABI or the
  // GNU/Linux one, rather than for another system's.
  bool linuxElf() const;
  // A PE image that loads as a DLL rather than running as a program.
  bool peDll() const;
  // "Linux x86-64 shared library", "Windows x86 (32-bit) console program",
  // "macOS arm64 + x86-64 program", … for messages.
  std::string description() const;
};

// Whether a file starting with `head` could be one; a cheap test before
// reading the whole file.
bool mayBeExecutable(std::span<const std::uint8_t> head);

// The program or library in `file` (the whole file: a PE or fat Mach-O
// header points far into it); nothing for anything else, including object
// files, core files and damaged headers.
std::optional<Executable> identifyExecutable(std::span<const std::uint8_t> file);

}  // namespace wexlo::image
