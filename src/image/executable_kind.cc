#include "image/executable_kind.h"

#include <algorithm>

#include "image/bytes.h"
#include "image/elf_dynamic.h"
#include "image/pe_imports.h"

namespace wexlo::image {

namespace {

constexpr std::uint8_t kElfAbiSystemV = 0;
constexpr std::uint8_t kElfAbiLinux = 3;
constexpr std::uint16_t kPeExecutableImage = 0x0002;
constexpr std::uint16_t kPeDll = 0x2000;

std::string elfSystemName(std::uint8_t osAbi) {
  switch (osAbi) {
    case kElfAbiSystemV:
    case kElfAbiLinux:
      return "Linux";
    case 2:
      return "NetBSD";
    case 6:
      return "Solaris";
    case 9:
      return "FreeBSD";
    case 12:
      return "OpenBSD";
    default:
      return "ELF OS/ABI " + std::to_string(osAbi);
  }
}

std::string elfDescription(const ElfHeader& elf, bool interpreter) {
  std::string cpu = elfMachineName(elf.machine);
  if (elf.machine == kElfMachineX86_64 && !elf.is64) cpu = "x86-64 (32-bit ELF)";
  if (elf.machine == kElfMachineAarch64 && !elf.is64) cpu = "aarch64 (32-bit ELF)";
  if (elf.bigEndian) cpu += " big-endian";
  const bool program = elf.type == kElfTypeExecutable || interpreter;
  return elfSystemName(elf.osAbi) + " " + cpu + (program ? " program" : " shared library");
}

std::string peDescription(const PeImage& pe, bool dll) {
  std::string cpu = peMachineName(pe.machine);
  if (pe.machine == kPeMachineAmd64 && !pe.pe32Plus) cpu = "x86-64 (PE32)";
  std::string kind = "DLL";
  if (!dll) {
    kind = pe.subsystem == kPeSubsystemConsole ? "console program"
           : pe.subsystem == kPeSubsystemGui
               ? "GUI program"
               : "program for subsystem " + std::to_string(pe.subsystem);
  }
  return "Windows " + cpu + " " + kind;
}

std::string machODescription(const MachOImage& image) {
  std::string cpus;
  bool library = true;
  for (const MachOSlice& slice : image.slices) {
    if (!cpus.empty()) cpus += " + ";
    cpus += machOCpuName(slice.cpuType);
    library = library && slice.fileType != kMachOExecute;
  }
  return "macOS " + cpus + (library ? " library" : " program");
}

bool isProgramOrLibrary(const MachOImage& image) {
  return std::ranges::any_of(image.slices, [](const MachOSlice& slice) {
    return slice.fileType == kMachOExecute || slice.fileType == kMachODylib ||
           slice.fileType == kMachOBundle;
  });
}

}  // namespace

bool Executable::linuxElf() const {
  return elf && (elf->osAbi == kElfAbiSystemV || elf->osAbi == kElfAbiLinux);
}

bool Executable::peDll() const { return pe && (pe->characteristics & kPeDll) != 0; }

std::string Executable::description() const {
  if (elf) return elfDescription(*elf, interpreter);
  if (pe) return peDescription(*pe, peDll());
  if (machO) return machODescription(*machO);
  return "unknown";
}

bool mayBeExecutable(std::span<const std::uint8_t> head) {
  const auto magic = readBig<std::uint32_t>(head, 0);
  if (!magic) return false;
  switch (*magic) {
    case 0x7f454c46:  // "\x7f" "ELF"
    case 0xfeedface:
    case 0xfeedfacf:
    case 0xcefaedfe:
    case 0xcffaedfe:
    case 0xcafebabe:
    case 0xcafebabf:
      return true;
    default:
      return head[0] == 'M' && head[1] == 'Z';
  }
}

std::optional<Executable> identifyExecutable(std::span<const std::uint8_t> file) {
  Executable found;
  if (auto elf = readElfHeader(file)) {
    if (elf->type != kElfTypeExecutable && elf->type != kElfTypeShared) return std::nullopt;
    found.elf = elf;
    if (auto dynamic = readElfDynamic(file)) {
      found.interpreter = dynamic->interpreter;
      found.needed = std::move(dynamic->needed);
    }
    return found;
  }
  if (auto pe = readPeImage(file)) {
    if ((pe->characteristics & kPeExecutableImage) == 0) return std::nullopt;
    found.pe = std::move(*pe);
    found.needed = readPeImports(file).value_or(std::vector<std::string>{});
    return found;
  }
  if (auto machO = readMachOImage(file)) {
    if (!isProgramOrLibrary(*machO)) return std::nullopt;
    found.machO = std::move(*machO);
    return found;
  }
  return std::nullopt;
}

}  // namespace wexlo::image
