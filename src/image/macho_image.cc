#include "image/macho_image.h"

#include "image/bytes.h"

namespace wexlo::image {

namespace {

constexpr std::uint32_t kMagic32 = 0xfeedface;
constexpr std::uint32_t kMagic64 = 0xfeedfacf;
constexpr std::uint32_t kFatMagic = 0xcafebabe;
constexpr std::uint32_t kFatMagic64 = 0xcafebabf;
constexpr std::uint32_t kCpu64 = 0x01000000;
constexpr std::uint32_t kCpuX86 = 7;
constexpr std::uint32_t kCpuArm = 12;
constexpr std::uint32_t kCpuPowerPc = 18;
constexpr std::uint32_t kMaxFileType = 12;  // MH_FILESET
constexpr std::uint32_t kMaxFatSlices = 16;
constexpr std::uint32_t kMaxSliceAlignment = 15;  // 32 KiB, beyond any page size

std::optional<MachOSlice> readThin(std::span<const std::uint8_t> file) {
  // The magic in the file's own byte order tells that order and the word size.
  const auto little = readLittle<std::uint32_t>(file, 0);
  const auto big = readBig<std::uint32_t>(file, 0);
  if (!little || !big) return std::nullopt;
  const bool bigEndian = *little != kMagic32 && *little != kMagic64;
  const std::uint32_t magic = bigEndian ? *big : *little;
  if (magic != kMagic32 && magic != kMagic64) return std::nullopt;
  const bool is64 = magic == kMagic64;
  const std::size_t headerSize = is64 ? 32 : 28;
  auto read = [&](std::size_t offset) {
    return bigEndian ? readBig<std::uint32_t>(file, offset)
                     : readLittle<std::uint32_t>(file, offset);
  };
  const auto cpuType = read(4);
  const auto fileType = read(12);
  const auto commandCount = read(16);
  const auto commandsSize = read(20);
  if (!cpuType || !fileType || !commandCount || !commandsSize || file.size() < headerSize ||
      *fileType == 0 || *fileType > kMaxFileType || *commandsSize > file.size() - headerSize ||
      *commandCount > *commandsSize / 8) {
    return std::nullopt;
  }
  return MachOSlice{*cpuType, *fileType};
}

std::optional<MachOImage> readFat(std::span<const std::uint8_t> file, bool wide) {
  const auto count = readBig<std::uint32_t>(file, 4);
  if (!count || *count == 0 || *count > kMaxFatSlices) return std::nullopt;
  const std::size_t entrySize = wide ? 32 : 20;
  const std::size_t tableEnd = 8 + entrySize * *count;
  MachOImage image{.fat = true, .slices = {}};
  for (std::uint32_t i = 0; i < *count; ++i) {
    const std::size_t at = 8 + entrySize * i;
    const auto cpuType = readBig<std::uint32_t>(file, at);
    const auto offset = wide ? readBig<std::uint64_t>(file, at + 8)
                             : readBig<std::uint32_t>(file, at + 8).transform([](std::uint32_t v) {
                                 return std::uint64_t{v};
                               });
    const auto size = wide ? readBig<std::uint64_t>(file, at + 16)
                           : readBig<std::uint32_t>(file, at + 12).transform([](std::uint32_t v) {
                               return std::uint64_t{v};
                             });
    const auto alignment = readBig<std::uint32_t>(file, at + (wide ? 24 : 16));
    if (!cpuType || !offset || !size || !alignment || *alignment > kMaxSliceAlignment ||
        *offset < tableEnd || *offset % (std::uint64_t{1} << *alignment) != 0 ||
        *offset > file.size() || *size > file.size() - *offset) {
      return std::nullopt;
    }
    const auto slice = readThin(file.subspan(*offset, *size));
    if (!slice || slice->cpuType != *cpuType) return std::nullopt;
    image.slices.push_back(*slice);
  }
  return image;
}

}  // namespace

std::optional<MachOImage> readMachOImage(std::span<const std::uint8_t> file) {
  const auto magic = readBig<std::uint32_t>(file, 0);
  if (!magic) return std::nullopt;
  if (*magic == kFatMagic || *magic == kFatMagic64) return readFat(file, *magic == kFatMagic64);
  auto slice = readThin(file);
  if (!slice) return std::nullopt;
  return MachOImage{.fat = false, .slices = {*slice}};
}

std::string machOCpuName(std::uint32_t cpuType) {
  switch (cpuType) {
    case kCpuX86:
      return "x86 (32-bit)";
    case kCpuX86 | kCpu64:
      return "x86-64";
    case kCpuArm:
      return "arm (32-bit)";
    case kCpuArm | kCpu64:
      return "arm64";
    case kCpuPowerPc:
      return "powerpc";
    case kCpuPowerPc | kCpu64:
      return "powerpc64";
    default:
      return "Mach-O CPU " + std::to_string(cpuType);
  }
}

}  // namespace wexlo::image
