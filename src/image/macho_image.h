// What a Mach-O file's headers say: the CPU and kind of each image in it, one
// for a thin file, one per architecture for a fat (universal) file.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace wexlo::image {

inline constexpr std::uint32_t kMachOExecute = 2;
inline constexpr std::uint32_t kMachODylib = 6;
inline constexpr std::uint32_t kMachOBundle = 8;

struct MachOSlice {
  std::uint32_t cpuType = 0;
  std::uint32_t fileType = 0;  // MH_EXECUTE, MH_DYLIB, MH_BUNDLE, …
};

struct MachOImage {
  bool fat = false;
  std::vector<MachOSlice> slices;
};

// Nothing when `file` is no Mach-O file: a wrong magic, load commands past
// the end, or a fat header whose architecture count or slices do not fit.
// A Java class file starts with the fat magic too; its "count" is the class
// format's major version (45 or more), more than any fat file holds.
std::optional<MachOImage> readMachOImage(std::span<const std::uint8_t> file);

// "x86-64", "arm64", … or "Mach-O CPU N", for messages.
std::string machOCpuName(std::uint32_t cpuType);

}  // namespace wexlo::image
