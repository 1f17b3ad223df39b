// The resources a Windows program carries for Explorer and the loader: a
// version record, an application manifest and an icon, laid out as the
// contents of a .rsrc section, and read back from an image.
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace wexlo::image {

inline constexpr std::uint16_t kResourceIcon = 3;
inline constexpr std::uint16_t kResourceGroupIcon = 14;
inline constexpr std::uint16_t kResourceVersion = 16;
inline constexpr std::uint16_t kResourceManifest = 24;

// One image of an .ico file, as the file holds it (PNG or a DIB).
struct IconImage {
  std::uint8_t width = 0;  // 0 means 256
  std::uint8_t height = 0;
  std::uint8_t colourCount = 0;
  std::uint16_t planes = 0;
  std::uint16_t bitCount = 0;
  std::span<const std::uint8_t> bytes;  // into the file given to readIconFile
};

// The images of an .ico file, or what is wrong with it: not an icon
// directory, no images, or an image that is cut short, lies outside the file
// or is neither PNG nor a bitmap.
std::expected<std::vector<IconImage>, std::string> readIconFile(std::span<const std::uint8_t> file);

using VersionStrings = std::vector<std::pair<std::string, std::string>>;  // UTF-8 key, value

struct ResourceSet {
  std::array<std::uint16_t, 4> fileVersion{};  // also the product version
  VersionStrings versionStrings;               // in this order
  std::string manifest;                        // UTF-8 XML; empty: none
  std::vector<IconImage> icon;                 // empty: none
};

// The bytes of a .rsrc section loaded at `sectionRva`, or why they cannot be
// made: a string that is not UTF-8, or a version record too long for the
// 16-bit lengths it is made of.
std::expected<std::vector<std::uint8_t>, std::string> buildResourceSection(
    const ResourceSet& resources, std::uint32_t sectionRva);

struct VersionRecord {
  std::array<std::uint16_t, 4> fileVersion{};
  VersionStrings strings;
};

// The version record of the PE image in `file`, if it carries one that reads
// soundly; every read is bounded by the file.
std::optional<VersionRecord> readVersionRecord(std::span<const std::uint8_t> file);

// The resource types (kResource*) of the PE image in `file`, ascending.
std::vector<std::uint32_t> resourceTypes(std::span<const std::uint8_t> file);

}  // namespace wexlo::image
