#include "image/pe_image.h"

#include <algorithm>
#include <cstdio>

#include "image/bytes.h"

namespace wexlo::image {

namespace {

constexpr std::uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr std::uint16_t kPe32 = 0x10b;
constexpr std::uint16_t kPe32Plus = 0x20b;
constexpr std::size_t kCoffHeaderSize = 20;
constexpr std::size_t kSectionHeaderSize = 40;
// More directories or sections than this is a damaged header, not an image.
constexpr std::uint32_t kMaxDirectories = 16;
constexpr std::uint16_t kMaxSections = 96;

std::optional<PeSection> readSection(std::span<const std::uint8_t> file, std::size_t at) {
  if (at > file.size() || file.size() - at < kSectionHeaderSize) return std::nullopt;
  PeSection section;
  const auto* name = reinterpret_cast<const char*>(file.data() + at);
  section.name.assign(name, std::find(name, name + 8, '\0'));
  section.virtualSize = *readLittle<std::uint32_t>(file, at + 8);
  section.virtualAddress = *readLittle<std::uint32_t>(file, at + 12);
  section.rawSize = *readLittle<std::uint32_t>(file, at + 16);
  section.rawOffset = *readLittle<std::uint32_t>(file, at + 20);
  section.characteristics = *readLittle<std::uint32_t>(file, at + 36);
  return section;
}

}  // namespace

PeDataDirectory PeImage::directory(std::size_t index) const {
  return index < directories.size() ? directories[index] : PeDataDirectory{};
}

std::optional<std::size_t> PeImage::fileOffsetOf(std::uint32_t rva) const {
  for (const PeSection& section : sections) {
    if (rva >= section.virtualAddress && rva - section.virtualAddress < section.rawSize) {
      return std::size_t{section.rawOffset} + (rva - section.virtualAddress);
    }
  }
  return std::nullopt;
}

std::optional<PeImage> readPeImage(std::span<const std::uint8_t> file) {
  if (file.size() < 0x40 || file[0] != 'M' || file[1] != 'Z') return std::nullopt;
  const std::size_t peOffset = *readLittle<std::uint32_t>(file, 0x3c);
  if (readLittle<std::uint32_t>(file, peOffset) != kPeSignature) return std::nullopt;

  PeImage image;
  image.coffHeaderOffset = peOffset + 4;
  const auto machine = readLittle<std::uint16_t>(file, image.coffHeaderOffset);
  const auto sectionCount = readLittle<std::uint16_t>(file, image.coffHeaderOffset + 2);
  const auto optionalSize = readLittle<std::uint16_t>(file, image.coffHeaderOffset + 16);
  const auto characteristics = readLittle<std::uint16_t>(file, image.coffHeaderOffset + 18);
  image.optionalHeaderOffset = image.coffHeaderOffset + kCoffHeaderSize;
  const auto magic = readLittle<std::uint16_t>(file, image.optionalHeaderOffset);
  if (!machine || !sectionCount || !optionalSize || !characteristics || !magic ||
      (*magic != kPe32 && *magic != kPe32Plus) || *sectionCount > kMaxSections) {
    return std::nullopt;
  }
  image.machine = *machine;
  image.characteristics = *characteristics;
  image.pe32Plus = *magic == kPe32Plus;
  image.optionalHeaderSize = *optionalSize;

  // Offsets inside the optional header; only the directories differ between
  // PE32 and PE32+.
  const std::size_t optional = image.optionalHeaderOffset;
  const std::size_t countOffset = image.pe32Plus ? 108 : 92;
  if (countOffset + 4 > image.optionalHeaderSize) return std::nullopt;
  const auto sectionAlignment = readLittle<std::uint32_t>(file, optional + 32);
  const auto fileAlignment = readLittle<std::uint32_t>(file, optional + 36);
  const auto sizeOfImage = readLittle<std::uint32_t>(file, optional + 56);
  const auto sizeOfHeaders = readLittle<std::uint32_t>(file, optional + 60);
  const auto subsystem = readLittle<std::uint16_t>(file, optional + 68);
  const auto directoryCount = readLittle<std::uint32_t>(file, optional + countOffset);
  if (!sectionAlignment || !fileAlignment || !sizeOfImage || !sizeOfHeaders || !subsystem ||
      !directoryCount) {
    return std::nullopt;
  }
  image.sectionAlignment = *sectionAlignment;
  image.fileAlignment = *fileAlignment;
  image.sizeOfImage = *sizeOfImage;
  image.sizeOfHeaders = *sizeOfHeaders;
  image.subsystem = *subsystem;
  image.checksumOffset = optional + 64;
  image.directoryCountOffset = optional + countOffset;
  image.directoriesOffset = optional + countOffset + 4;

  // Directories past the optional header's declared size are not there.
  const std::size_t room = (image.optionalHeaderSize - countOffset - 4) / 8;
  const std::size_t count = std::min<std::size_t>({*directoryCount, room, kMaxDirectories});
  for (std::size_t i = 0; i < count; ++i) {
    const auto address = readLittle<std::uint32_t>(file, image.directoriesOffset + 8 * i);
    const auto size = readLittle<std::uint32_t>(file, image.directoriesOffset + 8 * i + 4);
    if (!address || !size) return std::nullopt;
    image.directories.push_back({*address, *size});
  }

  image.sectionTableOffset = optional + image.optionalHeaderSize;
  for (std::uint16_t i = 0; i < *sectionCount; ++i) {
    auto section = readSection(file, image.sectionTableOffset + kSectionHeaderSize * i);
    if (!section) return std::nullopt;
    image.sections.push_back(std::move(*section));
  }
  return image;
}

std::optional<std::size_t> certificateTableOffset(std::span<const std::uint8_t> file) {
  const auto image = readPeImage(file);
  if (!image) return std::nullopt;
  const PeDataDirectory table = image->directory(kPeDirectorySecurity);
  if (table.address == 0 || table.size == 0 || table.address > file.size() ||
      table.size > file.size() - table.address) {
    return std::nullopt;
  }
  return table.address;
}

std::string peMachineName(std::uint16_t machine) {
  switch (machine) {
    case kPeMachineI386:
      return "x86 (32-bit)";
    case kPeMachineAmd64:
      return "x86-64";
    case kPeMachineArm64:
      return "arm64";
    default: {
      char name[32];
      std::snprintf(name, sizeof name, "PE machine 0x%04x", machine);
      return name;
    }
  }
}

}  // namespace wexlo::image
