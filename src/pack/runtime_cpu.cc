#include "pack/runtime_cpu.h"

#include <array>
#include <cstdint>
#include <fstream>
#include <optional>

#include "image/elf_image.h"
#include "pack/files.h"
#include "pack/target.h"

namespace wexlo {

namespace {

// e_machine of the ELF file at `path`; nothing if it is not one.
std::optional<std::uint16_t> elfMachine(const std::filesystem::path& path) {
  std::array<std::uint8_t, 64> header{};
  std::ifstream in(path, std::ios::binary);
  in.read(reinterpret_cast<char*>(header.data()), header.size());
  const auto elf =
      image::readElfHeader(std::span(header.data(), static_cast<std::size_t>(in.gcount())));
  if (!elf) return std::nullopt;
  return elf->machine;
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
    return packError("release's runtime is built for " + image::elfMachineName(*machine) +
                     ", not for " + std::string(target) + ": " + quoted(path) + " (" +
                     advice(*machine, target) + ")");
  }
  return {};
}

}  // namespace wexlo
