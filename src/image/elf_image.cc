#include "image/elf_image.h"

#include "image/bytes.h"

namespace wexlo::image {

std::optional<ElfHeader> readElfHeader(std::span<const std::uint8_t> file) {
  constexpr std::size_t kHeaderSize32 = 52;
  constexpr std::size_t kHeaderSize64 = 64;
  if (file.size() < kHeaderSize32 || file[0] != 0x7f || file[1] != 'E' || file[2] != 'L' ||
      file[3] != 'F') {
    return std::nullopt;
  }
  const std::uint8_t wordSize = file[4];   // EI_CLASS: 1 32-bit, 2 64-bit
  const std::uint8_t byteOrder = file[5];  // EI_DATA: 1 little, 2 big-endian
  if ((wordSize != 1 && wordSize != 2) || (byteOrder != 1 && byteOrder != 2) || file[6] != 1) {
    return std::nullopt;
  }
  ElfHeader header{.is64 = wordSize == 2, .bigEndian = byteOrder == 2, .osAbi = file[7]};
  if (header.is64 && file.size() < kHeaderSize64) return std::nullopt;
  const auto type = readOrdered<std::uint16_t>(file, 16, header.bigEndian);
  const auto machine = readOrdered<std::uint16_t>(file, 18, header.bigEndian);
  const auto version = readOrdered<std::uint32_t>(file, 20, header.bigEndian);
  if (!type || !machine || version != 1u) return std::nullopt;
  header.type = *type;
  header.machine = *machine;
  return header;
}

std::string elfMachineName(std::uint16_t machine) {
  switch (machine) {
    case kElfMachineX86:
      return "x86 (32-bit)";
    case kElfMachineArm:
      return "arm (32-bit)";
    case kElfMachineX86_64:
      return "x86-64";
    case kElfMachineAarch64:
      return "aarch64";
    default:
      return "ELF machine " + std::to_string(machine);
  }
}

}  // namespace wexlo::image
