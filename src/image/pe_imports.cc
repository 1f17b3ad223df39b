#include "image/pe_imports.h"

#include <algorithm>

#include "image/bytes.h"
#include "image/pe_image.h"

namespace wexlo::image {

namespace {

constexpr std::size_t kDescriptorSize = 20;
// Real images import a few dozen DLLs with short names; more is damage.
constexpr std::size_t kMaxDescriptors = 4096;
constexpr std::size_t kMaxNameLength = 256;

std::optional<std::string> nameAt(std::span<const std::uint8_t> file, std::size_t offset) {
  if (offset >= file.size()) return std::nullopt;
  const auto rest = file.subspan(offset, std::min(file.size() - offset, kMaxNameLength));
  const auto end = std::ranges::find(rest, std::uint8_t{0});
  if (end == rest.end() || end == rest.begin()) return std::nullopt;
  return std::string(rest.begin(), end);
}

}  // namespace

std::optional<std::vector<std::string>> readPeImports(std::span<const std::uint8_t> file) {
  const auto image = readPeImage(file);
  if (!image) return std::nullopt;
  std::vector<std::string> names;
  const PeDataDirectory imports = image->directory(kPeDirectoryImport);
  if (imports.address == 0 || imports.size == 0) return names;
  const auto table = image->fileOffsetOf(imports.address);
  if (!table) return std::nullopt;
  // The table ends with an all-zero descriptor; its size field is often loose.
  for (std::size_t i = 0; i < kMaxDescriptors; ++i) {
    const std::size_t at = *table + kDescriptorSize * i;
    const auto lookup = readLittle<std::uint32_t>(file, at);
    const auto nameAddress = readLittle<std::uint32_t>(file, at + 12);
    const auto thunks = readLittle<std::uint32_t>(file, at + 16);
    if (!lookup || !nameAddress || !thunks) return std::nullopt;
    if (*nameAddress == 0 && *lookup == 0 && *thunks == 0) return names;
    const auto nameOffset = image->fileOffsetOf(*nameAddress);
    auto name = nameOffset ? nameAt(file, *nameOffset) : std::nullopt;
    if (!name) return std::nullopt;
    names.push_back(std::move(*name));
  }
  return std::nullopt;
}

}  // namespace wexlo::image
