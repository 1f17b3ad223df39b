// What an ELF file's header says: the CPU it is built for, its word size and
// byte order, and what kind of file it is.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace wexlo::image {

inline constexpr std::uint16_t kElfMachineX86 = 3;
inline constexpr std::uint16_t kElfMachineArm = 40;
inline constexpr std::uint16_t kElfMachineX86_64 = 62;
inline constexpr std::uint16_t kElfMachineAarch64 = 183;

inline constexpr std::uint16_t kElfTypeExecutable = 2;
inline constexpr std::uint16_t kElfTypeShared = 3;

struct ElfHeader {
  bool is64 = false;
  bool bigEndian = false;
  std::uint8_t osAbi = 0;
  std::uint16_t type = 0;
  std::uint16_t machine = 0;
};

// The header of the ELF file in `file`; nothing when it is not one: a wrong
// magic, an unknown word size, byte order or version, or a header cut short.
std::optional<ElfHeader> readElfHeader(std::span<const std::uint8_t> file);

// "x86-64", "aarch64", … or "ELF machine N", for messages.
std::string elfMachineName(std::uint16_t machine);

}  // namespace wexlo::image
