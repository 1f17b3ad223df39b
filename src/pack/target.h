// The targets the packer makes launchers for: one list, so that choosing a
// stub, checking a release and the help text agree.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "image/elf_image.h"

namespace wexlo {

inline constexpr std::string_view kLinuxTarget = "linux-x86_64";
inline constexpr std::string_view kLinuxAarch64Target = "linux-aarch64";
inline constexpr std::string_view kWindowsTarget = "windows-x86_64";

// ELF e_machine values of the CPUs the Linux targets run on.
inline constexpr std::uint16_t kElfMachineX86_64 = image::kElfMachineX86_64;
inline constexpr std::uint16_t kElfMachineAarch64 = image::kElfMachineAarch64;

struct Target {
  std::string_view name;     // as --target and a stub's marker give it
  std::uint16_t elfMachine;  // the CPU its runtime's ELF programs are for; 0: none
};

inline constexpr std::array<Target, 3> kTargets = {{
    {kLinuxTarget, kElfMachineX86_64},
    {kLinuxAarch64Target, kElfMachineAarch64},
    {kWindowsTarget, 0},
}};

// The target named `name`; nullptr for an unknown name.
const Target* findTarget(std::string_view name);

// "linux-x86_64, linux-aarch64 or windows-x86_64", for messages and help.
std::string targetNames();

}  // namespace wexlo
