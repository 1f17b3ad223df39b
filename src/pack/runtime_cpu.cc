#include "pack/runtime_cpu.h"

#include <array>
#include <cstdint>
#include <fstream>
#include <optional>

#include "pack/files.h"
#include "pack/target.h"

namespace wexlo {

namespace {

// e_machine of the ELF file at `path`; nothing if it is not one.
std::optional<std::uint16_t> elfMachine(const std::filesystem::path& path) {
  std::array<unsigned char, 20> header{};
  std::ifstream in(path, std::ios::binary);
  if (!in.read(reinterpret_cast<char*>(header.data()), header.size())) return std::nullopt;
  if (header[0] != 0x7f || header[1] != 'E' || header[2] != 'L' || header[3] != 'F') {
    return std::nullopt;
  }
  // e_machine sits at offset 18 in 32- and 64-bit headers alike, in the byte
  // order EI_DATA names (2: big-endian).
  const bool bigEndian = header[5] == 2;
  return static_cast<std::uint16_t>(bigEndian ? header[18] << 8 | header[19]
                                              : header[19] << 8 | header[18]);
}

std::string cpuName(std::uint16_t machine) {
  switch (machine) {
    case 3:
      return "x86 (32-bit)";
    case 40:
      return "arm (32-bit)";
    case kElfMachineX86_64:
      return "x86-64";
    case kElfMachineAarch64:
      return "aarch64";
    default:
      return "ELF machine " + std::to_string(machine);
  }
}

// What to do about a release built for `machine`: the target that fits it,
// if there is one.
std::string advice(std::uint16_t machine, std::string_view target) {
  for (const Target& other : kTargets) {
    if (other.elfMachine != 0 && other.elfMachine == machine) {
      return "pack it with --target " + std::string(other.name);
    }
  }
  return "build the release for " + std::string(target);
}

}  // namespace

PackResult<void> checkRuntimeCpu(const std::filesystem::path& ertsBin, std::string_view target) {
  const Target* wanted = findTarget(target);
  if (!wanted || wanted->elfMachine == 0) return {};
  for (const char* program : {"erlexec", "beam.smp"}) {
    const std::filesystem::path path = ertsBin / program;
    const auto machine = elfMachine(path);
    if (!machine || *machine == wanted->elfMachine) continue;
    return packError("release's runtime is built for " + cpuName(*machine) + ", not for " +
                     std::string(target) + ": " + quoted(path) + " (" + advice(*machine, target) +
                     ")");
  }
  return {};
}

}  // namespace wexlo
