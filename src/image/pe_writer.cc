#include "image/pe_writer.h"

#include <algorithm>

#include "image/pe_image.h"

namespace wexlo::image {

namespace {

constexpr std::size_t kSectionHeaderSize = 40;
// Initialised, read-only data.
constexpr std::uint32_t kResourceCharacteristics = 0x40000040;

void set16(std::vector<std::uint8_t>& out, std::size_t at, std::uint16_t value) {
  out[at] = static_cast<std::uint8_t>(value);
  out[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void set32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t value) {
  set16(out, at, static_cast<std::uint16_t>(value));
  set16(out, at + 2, static_cast<std::uint16_t>(value >> 16));
}

std::uint32_t get32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return std::uint32_t{bytes[at]} | std::uint32_t{bytes[at + 1]} << 8 |
         std::uint32_t{bytes[at + 2]} << 16 | std::uint32_t{bytes[at + 3]} << 24;
}

std::uint64_t alignUp(std::uint64_t value, std::uint32_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

bool powerOfTwo(std::uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

}  // namespace

std::expected<std::vector<std::uint8_t>, std::string> withResourceSection(
    std::span<const std::uint8_t> image, const ResourceSet& resources) {
  const auto pe = readPeImage(image);
  if (!pe) return std::unexpected("not a PE image");
  if (pe->directories.size() <= kPeDirectoryResource) {
    return std::unexpected("the PE image has no resource directory entry");
  }
  if (pe->directory(kPeDirectorySecurity).size != 0) {
    return std::unexpected("the PE image is signed; its resources cannot change");
  }
  if (!powerOfTwo(pe->fileAlignment) || !powerOfTwo(pe->sectionAlignment)) {
    return std::unexpected("the PE image's alignments are not powers of two");
  }

  std::vector<std::uint8_t> out(image.begin(), image.end());
  std::vector<PeSection> sections = pe->sections;
  std::uint32_t initialisedData = get32(image, pe->optionalHeaderOffset + 8);
  // Resources in the last section, with nothing after them, are replaced in
  // place; anywhere else they stay, unused, so no other section moves.
  const PeDataDirectory old = pe->directory(kPeDirectoryResource);
  if (old.size != 0 && !sections.empty()) {
    const PeSection& last = sections.back();
    const bool inLast =
        old.address >= last.virtualAddress && old.address - last.virtualAddress < last.virtualSize;
    if (inLast && last.rawOffset != 0 &&
        std::uint64_t{last.rawOffset} + last.rawSize >= out.size()) {
      out.resize(last.rawOffset);
      initialisedData -= std::min(initialisedData, last.rawSize);
      sections.pop_back();
    }
  }

  const std::size_t slot = pe->sectionTableOffset + kSectionHeaderSize * sections.size();
  if (slot + kSectionHeaderSize > pe->sizeOfHeaders || slot + kSectionHeaderSize > out.size() ||
      std::any_of(sections.begin(), sections.end(), [&](const PeSection& s) {
        return s.rawSize != 0 && s.rawOffset < slot + kSectionHeaderSize;
      })) {
    return std::unexpected("the PE image's headers have no room for another section");
  }
  std::uint64_t end = pe->sizeOfHeaders;
  for (const PeSection& s : sections) {
    end = std::max<std::uint64_t>(
        end, std::uint64_t{s.virtualAddress} + std::max(s.virtualSize, s.rawSize));
  }
  const std::uint64_t rva = alignUp(end, pe->sectionAlignment);
  if (rva > 0x7fffffff) return std::unexpected("the PE image is too large");
  auto rsrc = buildResourceSection(resources, static_cast<std::uint32_t>(rva));
  if (!rsrc) return std::unexpected(rsrc.error());

  const std::uint64_t rawOffset = alignUp(out.size(), pe->fileAlignment);
  const std::uint64_t rawSize = alignUp(rsrc->size(), pe->fileAlignment);
  if (rawOffset + rawSize > 0x7fffffff) return std::unexpected("the PE image is too large");
  out.resize(rawOffset);
  out.insert(out.end(), rsrc->begin(), rsrc->end());
  out.resize(rawOffset + rawSize);

  std::fill(out.begin() + static_cast<std::ptrdiff_t>(slot),
            out.begin() + static_cast<std::ptrdiff_t>(slot + kSectionHeaderSize), 0);
  std::copy_n(".rsrc", 5, out.begin() + static_cast<std::ptrdiff_t>(slot));
  set32(out, slot + 8, static_cast<std::uint32_t>(rsrc->size()));
  set32(out, slot + 12, static_cast<std::uint32_t>(rva));
  set32(out, slot + 16, static_cast<std::uint32_t>(rawSize));
  set32(out, slot + 20, static_cast<std::uint32_t>(rawOffset));
  set32(out, slot + 36, kResourceCharacteristics);

  set16(out, pe->coffHeaderOffset + 2, static_cast<std::uint16_t>(sections.size() + 1));
  set32(out, pe->optionalHeaderOffset + 8, initialisedData + static_cast<std::uint32_t>(rawSize));
  set32(out, pe->optionalHeaderOffset + 56,
        static_cast<std::uint32_t>(alignUp(rva + rsrc->size(), pe->sectionAlignment)));
  const std::size_t directory = pe->directoriesOffset + 8 * kPeDirectoryResource;
  set32(out, directory, static_cast<std::uint32_t>(rva));
  set32(out, directory + 4, static_cast<std::uint32_t>(rsrc->size()));

  PeChecksum checksum(pe->checksumOffset);
  checksum.add(out);
  set32(out, pe->checksumOffset, checksum.finish());
  return out;
}

void PeChecksum::add(std::span<const std::uint8_t> bytes) {
  for (std::uint8_t byte : bytes) {
    const std::size_t at = length_++;
    if (at >= checksumOffset_ && at < checksumOffset_ + 4) continue;
    sum_ += std::uint64_t{byte} << (8 * (at % 2));
  }
}

std::uint32_t PeChecksum::finish() const {
  std::uint64_t sum = sum_;
  while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
  return static_cast<std::uint32_t>(sum + length_);
}

}  // namespace wexlo::image
