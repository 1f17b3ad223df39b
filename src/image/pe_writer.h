// Changes to a PE image that keep it loadable: a new resource section, and
// the header checksum over the file it ends up in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <vector>

#include "image/pe_resources.h"

namespace wexlo::image {

// `image` with `resources` as its resource section: a .rsrc section added
// after the others (one the image already has is dropped when it is the last
// thing in the file, else left unused), the section table, image sizes and
// resource directory updated. Fails with the reason when `image` is not a PE
// image, has no room in its headers for another section, or the resources
// cannot be laid out.
std::expected<std::vector<std::uint8_t>, std::string> withResourceSection(
    std::span<const std::uint8_t> image, const ResourceSet& resources);

// The PE header checksum of a file fed in pieces (a 16-bit sum with carries
// folded back in, plus the file's length), skipping the checksum field itself.
class PeChecksum {
 public:
  explicit PeChecksum(std::size_t checksumOffset) : checksumOffset_(checksumOffset) {}
  void add(std::span<const std::uint8_t> bytes);
  std::uint32_t finish() const;
  std::size_t offset() const { return checksumOffset_; }

 private:
  std::size_t checksumOffset_;
  std::size_t length_ = 0;
  std::uint64_t sum_ = 0;
};

}  // namespace wexlo::image
