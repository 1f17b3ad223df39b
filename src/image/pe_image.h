// What a PE image's headers say: its CPU and subsystem, where its headers,
// data directories and sections are, so that readers can find a directory's
// data and a writer can add a section.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace wexlo::image {

inline constexpr std::uint16_t kPeMachineI386 = 0x14c;
inline constexpr std::uint16_t kPeMachineAmd64 = 0x8664;
inline constexpr std::uint16_t kPeMachineArm64 = 0xaa64;

inline constexpr std::uint16_t kPeSubsystemGui = 2;
inline constexpr std::uint16_t kPeSubsystemConsole = 3;

inline constexpr std::size_t kPeDirectoryImport = 1;
inline constexpr std::size_t kPeDirectoryResource = 2;
inline constexpr std::size_t kPeDirectorySecurity = 4;

struct PeDataDirectory {
  std::uint32_t address = 0;  // an RVA; for the security directory a file offset
  std::uint32_t size = 0;
};

struct PeSection {
  std::string name;  // up to 8 bytes, trailing NULs dropped
  std::uint32_t virtualAddress = 0;
  std::uint32_t virtualSize = 0;
  std::uint32_t rawOffset = 0;
  std::uint32_t rawSize = 0;
  std::uint32_t characteristics = 0;
};

struct PeImage {
  std::uint16_t machine = 0;
  std::uint16_t characteristics = 0;  // the COFF header's
  bool pe32Plus = false;
  std::uint16_t subsystem = 0;
  std::uint32_t sectionAlignment = 0;
  std::uint32_t fileAlignment = 0;
  std::uint32_t sizeOfImage = 0;
  std::uint32_t sizeOfHeaders = 0;

  // File offsets of the headers, for a writer that updates them in place.
  std::size_t coffHeaderOffset = 0;
  std::size_t optionalHeaderOffset = 0;
  std::size_t optionalHeaderSize = 0;
  std::size_t checksumOffset = 0;
  std::size_t directoryCountOffset = 0;
  std::size_t directoriesOffset = 0;  // entry 0; entry i at + 8 * i
  std::size_t sectionTableOffset = 0;

  std::vector<PeDataDirectory> directories;
  std::vector<PeSection> sections;

  // The directory `index`, or an empty one when the image has fewer.
  PeDataDirectory directory(std::size_t index) const;
  // The file offset of `rva` inside a section's raw data, if it lies there.
  std::optional<std::size_t> fileOffsetOf(std::uint32_t rva) const;
};

// The headers of the PE image in `file`; nothing when it is not one: no "MZ"
// and "PE\0\0", an unknown optional header, or headers, directories or the
// section table cut short by the file's end.
std::optional<PeImage> readPeImage(std::span<const std::uint8_t> file);

// Where a certificate table added by a signing tool starts, when the security
// directory names one that lies inside the file.
std::optional<std::size_t> certificateTableOffset(std::span<const std::uint8_t> file);

// "x86-64", "x86 (32-bit)", "arm64" or "PE machine 0xNNNN", for messages.
std::string peMachineName(std::uint16_t machine);

}  // namespace wexlo::image
