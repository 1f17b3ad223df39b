#include "support/native_images.h"

#include <bit>

namespace wexlo::testing {

namespace {

template <typename T>
void put(std::string& bytes, std::size_t at, T value) {
  if (bytes.size() < at + sizeof(T)) bytes.resize(at + sizeof(T), '\0');
  for (std::size_t i = 0; i < sizeof(T); ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

void putBig(std::string& bytes, std::size_t at, std::uint32_t value) {
  put(bytes, at, std::byteswap(value));
}

}  // namespace

std::string elfImage(const ElfSpec& shape) {
  constexpr std::uint64_t kBase = 0x10000;
  const std::uint16_t segments = shape.interpreter ? 3 : 2;
  std::string file(64, '\0');
  file.replace(0, 7,
               "\x7f"
               "ELF\x02\x01\x01");
  file[7] = static_cast<char>(shape.osAbi);
  put<std::uint16_t>(file, 16, shape.type);
  put<std::uint16_t>(file, 18, shape.machine);
  put<std::uint32_t>(file, 20, 1);
  put<std::uint64_t>(file, 32, 64);  // program headers right after
  put<std::uint16_t>(file, 52, 64);
  put<std::uint16_t>(file, 54, 56);
  put<std::uint16_t>(file, 56, segments);

  const std::size_t strings = 64 + 56 * segments;
  std::string table(1, '\0');
  std::vector<std::uint64_t> nameOffsets;
  for (const std::string& name : shape.needed) {
    nameOffsets.push_back(table.size());
    table += name + '\0';
  }
  const std::size_t interpreter = table.size();
  table += "/lib/ld-linux.so\0";
  file.resize(strings, '\0');
  file += table;
  const std::size_t dynamic = (file.size() + 7) / 8 * 8;
  std::size_t at = dynamic;
  for (const std::uint64_t offset : nameOffsets) {
    put<std::uint64_t>(file, at, 1);  // DT_NEEDED
    put<std::uint64_t>(file, at + 8, offset);
    at += 16;
  }
  put<std::uint64_t>(file, at, 5);  // DT_STRTAB
  put<std::uint64_t>(file, at + 8, kBase + strings);
  put<std::uint64_t>(file, at + 16, 0);  // DT_NULL
  put<std::uint64_t>(file, at + 24, 0);

  auto segment = [&](int index, std::uint32_t type, std::uint64_t offset, std::uint64_t size) {
    const std::size_t header = 64 + 56 * index;
    put<std::uint32_t>(file, header, type);
    put<std::uint64_t>(file, header + 8, offset);
    put<std::uint64_t>(file, header + 16, kBase + offset);
    put<std::uint64_t>(file, header + 32, size);
    put<std::uint64_t>(file, header + 40, size);
  };
  segment(0, 1, 0, file.size());
  segment(1, 2, dynamic, file.size() - dynamic);
  if (shape.interpreter) segment(2, 3, strings + interpreter, 17);
  return file;
}

std::string peFile(const PeSpec& shape) {
  constexpr std::size_t kPe = 0x40;
  constexpr std::size_t kOptional = kPe + 24;
  constexpr std::uint32_t kSectionAddress = 0x1000;
  constexpr std::size_t kSectionData = 0x200;
  const std::size_t optionalSize = shape.pe32Plus ? 240 : 224;
  const std::size_t directories = kOptional + (shape.pe32Plus ? 112 : 96);
  const std::size_t sectionTable = kOptional + optionalSize;

  std::string file(kSectionData, '\0');
  file[0] = 'M';
  file[1] = 'Z';
  put<std::uint32_t>(file, 0x3c, kPe);
  file.replace(kPe, 4, std::string("PE\0\0", 4));
  put<std::uint16_t>(file, kPe + 4, shape.machine);
  put<std::uint16_t>(file, kPe + 6, 1);  // one section
  put<std::uint16_t>(file, kPe + 20, static_cast<std::uint16_t>(optionalSize));
  put<std::uint16_t>(file, kPe + 22, shape.dll ? 0x2022 : 0x0022);
  put<std::uint16_t>(file, kOptional, shape.pe32Plus ? 0x20b : 0x10b);
  put<std::uint32_t>(file, kOptional + 32, 0x1000);
  put<std::uint32_t>(file, kOptional + 36, 0x200);
  put<std::uint32_t>(file, kOptional + 56, 0x2000);
  put<std::uint32_t>(file, kOptional + 60, kSectionData);
  put<std::uint16_t>(file, kOptional + 68, shape.subsystem);
  put<std::uint32_t>(file, directories - 4, 16);

  // .idata: the descriptors, an empty one, then the names.
  std::string data((shape.imports.size() + 1) * 20, '\0');
  for (std::size_t i = 0; i < shape.imports.size(); ++i) {
    put<std::uint32_t>(data, 20 * i + 12,
                       kSectionAddress + static_cast<std::uint32_t>(data.size()));
    put<std::uint32_t>(data, 20 * i + 16, kSectionAddress);
    data += shape.imports[i] + '\0';
  }
  data.resize((data.size() + 0x1ff) / 0x200 * 0x200, '\0');
  if (!shape.imports.empty()) {
    put<std::uint32_t>(file, directories + 8, kSectionAddress);
    put<std::uint32_t>(file, directories + 12,
                       static_cast<std::uint32_t>(20 * shape.imports.size()));
  }
  file.replace(sectionTable, 6, ".idata");
  put<std::uint32_t>(file, sectionTable + 8, static_cast<std::uint32_t>(data.size()));
  put<std::uint32_t>(file, sectionTable + 12, kSectionAddress);
  put<std::uint32_t>(file, sectionTable + 16, static_cast<std::uint32_t>(data.size()));
  put<std::uint32_t>(file, sectionTable + 20, kSectionData);
  return file + data;
}

std::string machOImage(std::uint32_t cpuType, std::uint32_t fileType) {
  std::string file;
  put<std::uint32_t>(file, 0, 0xfeedfacf);
  put<std::uint32_t>(file, 4, cpuType);
  put<std::uint32_t>(file, 12, fileType);
  put<std::uint32_t>(file, 16, 1);   // one load command
  put<std::uint32_t>(file, 20, 16);  // of 16 bytes
  file.resize(48, '\0');
  return file;
}

std::string fatMachOImage(const std::vector<std::uint32_t>& cpuTypes) {
  std::string file;
  putBig(file, 0, 0xcafebabe);
  putBig(file, 4, static_cast<std::uint32_t>(cpuTypes.size()));
  for (std::size_t i = 0; i < cpuTypes.size(); ++i) {
    const std::string slice = machOImage(cpuTypes[i]);
    const std::uint32_t offset = static_cast<std::uint32_t>(0x1000 * (i + 1));
    putBig(file, 8 + 20 * i, cpuTypes[i]);
    putBig(file, 8 + 20 * i + 8, offset);
    putBig(file, 8 + 20 * i + 12, static_cast<std::uint32_t>(slice.size()));
    putBig(file, 8 + 20 * i + 16, 12);
    file.resize(offset, '\0');
    file += slice;
  }
  return file;
}

}  // namespace wexlo::testing
