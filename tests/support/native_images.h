// Small but well-formed programs and libraries in each format the packer
// reads, for tests that check what a release carries.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace wexlo::testing {

inline constexpr std::uint16_t kElfX86_64 = 62;
inline constexpr std::uint16_t kElfAarch64 = 183;
inline constexpr std::uint16_t kPeAmd64 = 0x8664;
inline constexpr std::uint16_t kPeI386 = 0x14c;
inline constexpr std::uint16_t kPeArm64 = 0xaa64;

struct ElfSpec {
  std::uint16_t machine = kElfX86_64;
  std::uint16_t type = 3;  // ET_DYN
  std::vector<std::string> needed = {};
  bool interpreter = false;
  std::uint8_t osAbi = 0;
};

// A 64-bit little-endian ELF file: one PT_LOAD over the whole file, a
// PT_DYNAMIC naming `needed`, and a PT_INTERP when asked.
std::string elfImage(const ElfSpec& shape);

struct PeSpec {
  std::uint16_t machine = kPeAmd64;
  bool pe32Plus = true;
  std::uint16_t subsystem = 3;  // console
  bool dll = false;
  std::vector<std::string> imports = {};
};

// A PE image with one section that holds its import directory.
std::string peFile(const PeSpec& shape);

// A thin 64-bit little-endian Mach-O file of `fileType` (2 program, 6 library).
std::string machOImage(std::uint32_t cpuType, std::uint32_t fileType = 2);
// A fat file holding one thin program per CPU type, slices 4 KiB aligned.
std::string fatMachOImage(const std::vector<std::uint32_t>& cpuTypes);

}  // namespace wexlo::testing
