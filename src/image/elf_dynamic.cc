#include "image/elf_dynamic.h"

#include <algorithm>

#include "image/bytes.h"
#include "image/elf_image.h"

namespace wexlo::image {

namespace {

constexpr std::uint32_t kSegmentLoad = 1;
constexpr std::uint32_t kSegmentDynamic = 2;
constexpr std::uint32_t kSegmentInterpreter = 3;
constexpr std::uint64_t kTagNull = 0;
constexpr std::uint64_t kTagNeeded = 1;
constexpr std::uint64_t kTagStringTable = 5;
// Real files have a few dozen entries and short names; more is damage.
constexpr std::size_t kMaxDynamicEntries = 4096;
constexpr std::size_t kMaxNameLength = 4096;

struct Segment {
  std::uint32_t type = 0;
  std::uint64_t offset = 0;
  std::uint64_t address = 0;
  std::uint64_t fileSize = 0;
};

// Reads words of the file's own size and byte order.
class ElfReader {
 public:
  ElfReader(std::span<const std::uint8_t> file, const ElfHeader& header)
      : file_(file), header_(header) {}

  std::optional<std::uint64_t> word(std::size_t offset) const {
    if (header_.is64) return readOrdered<std::uint64_t>(file_, offset, header_.bigEndian);
    return readOrdered<std::uint32_t>(file_, offset, header_.bigEndian);
  }
  std::optional<std::uint16_t> half(std::size_t offset) const {
    return readOrdered<std::uint16_t>(file_, offset, header_.bigEndian);
  }
  std::optional<std::uint32_t> u32(std::size_t offset) const {
    return readOrdered<std::uint32_t>(file_, offset, header_.bigEndian);
  }

  std::optional<Segment> segment(std::size_t at) const {
    // Elf64_Phdr and Elf32_Phdr order their fields differently.
    const auto type = u32(at);
    const auto offset = header_.is64 ? word(at + 8) : word(at + 4);
    const auto address = header_.is64 ? word(at + 16) : word(at + 8);
    const auto fileSize = header_.is64 ? word(at + 32) : word(at + 16);
    if (!type || !offset || !address || !fileSize) return std::nullopt;
    return Segment{*type, *offset, *address, *fileSize};
  }

 private:
  std::span<const std::uint8_t> file_;
  ElfHeader header_;
};

bool inside(std::span<const std::uint8_t> file, std::uint64_t offset, std::uint64_t size) {
  return offset <= file.size() && size <= file.size() - offset;
}

// The file offset of `address` inside a loaded segment's file bytes.
std::optional<std::uint64_t> fileOffsetOf(const std::vector<Segment>& loads,
                                          std::uint64_t address) {
  for (const Segment& load : loads) {
    if (address >= load.address && address - load.address < load.fileSize) {
      return load.offset + (address - load.address);
    }
  }
  return std::nullopt;
}

std::optional<std::string> nameAt(std::span<const std::uint8_t> file, std::uint64_t offset) {
  if (offset >= file.size()) return std::nullopt;
  const auto rest = file.subspan(offset, std::min(file.size() - offset, kMaxNameLength));
  const auto end = std::ranges::find(rest, std::uint8_t{0});
  if (end == rest.end()) return std::nullopt;
  return std::string(rest.begin(), end);
}

}  // namespace

std::optional<ElfDynamic> readElfDynamic(std::span<const std::uint8_t> file) {
  const auto header = readElfHeader(file);
  if (!header) return std::nullopt;
  const ElfReader reader(file, *header);
  const auto tableOffset = header->is64 ? reader.word(32) : reader.word(28);
  const auto entrySize = reader.half(header->is64 ? 54 : 42);
  const auto count = reader.half(header->is64 ? 56 : 44);
  const std::size_t minEntrySize = header->is64 ? 56 : 32;
  if (!tableOffset || !entrySize || !count) return std::nullopt;
  if (*count > 0 && (*entrySize < minEntrySize ||
                     !inside(file, *tableOffset, std::uint64_t{*entrySize} * *count))) {
    return std::nullopt;
  }

  ElfDynamic dynamic;
  std::vector<Segment> loads;
  std::optional<Segment> dynamicSegment;
  for (std::size_t i = 0; i < *count; ++i) {
    const auto segment = reader.segment(*tableOffset + std::size_t{*entrySize} * i);
    if (!segment) return std::nullopt;
    if (segment->type == kSegmentLoad) loads.push_back(*segment);
    if (segment->type == kSegmentInterpreter) dynamic.interpreter = true;
    if (segment->type == kSegmentDynamic) dynamicSegment = segment;
  }
  if (!dynamicSegment) return dynamic;
  if (!inside(file, dynamicSegment->offset, dynamicSegment->fileSize)) return std::nullopt;

  const std::size_t wordSize = header->is64 ? 8 : 4;
  const std::size_t entries =
      std::min<std::uint64_t>(dynamicSegment->fileSize / (2 * wordSize), kMaxDynamicEntries);
  std::optional<std::uint64_t> stringTable;
  std::vector<std::uint64_t> neededOffsets;
  for (std::size_t i = 0; i < entries; ++i) {
    const std::size_t at = dynamicSegment->offset + 2 * wordSize * i;
    const auto tag = reader.word(at);
    const auto value = reader.word(at + wordSize);
    if (!tag || !value) return std::nullopt;
    if (*tag == kTagNull) break;
    if (*tag == kTagNeeded) neededOffsets.push_back(*value);
    if (*tag == kTagStringTable) stringTable = *value;
  }
  if (neededOffsets.empty()) return dynamic;
  const auto strings = stringTable ? fileOffsetOf(loads, *stringTable) : std::nullopt;
  if (!strings) return std::nullopt;
  for (const std::uint64_t offset : neededOffsets) {
    if (offset > file.size()) return std::nullopt;
    auto name = nameAt(file, *strings + offset);
    if (!name) return std::nullopt;
    dynamic.needed.push_back(std::move(*name));
  }
  return dynamic;
}

}  // namespace wexlo::image
