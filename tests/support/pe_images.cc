#include "support/pe_images.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace wexlo::testing {

namespace {

using Bytes = std::vector<std::uint8_t>;

void put(Bytes& out, std::size_t at, std::uint32_t value, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

std::vector<std::uint8_t> peImage(const std::vector<std::string>& sections, std::size_t trailing) {
  Bytes out(0x200 * (sections.size() + 1) + trailing, 0xcc);
  std::fill(out.begin(), out.begin() + 0x200, 0);
  out[0] = 'M', out[1] = 'Z';
  put(out, 0x3c, 0x40, 4);
  put(out, 0x40, 0x00004550, 4);
  put(out, 0x44, 0x8664, 2);
  put(out, 0x46, static_cast<std::uint32_t>(sections.size()), 2);
  put(out, 0x54, 240, 2);
  put(out, 0x56, 0x22, 2);
  const std::size_t optional = 0x58;
  put(out, optional, 0x20b, 2);
  put(out, optional + 32, 0x1000, 4);
  put(out, optional + 36, 0x200, 4);
  put(out, optional + 56, 0x1000 * static_cast<std::uint32_t>(sections.size() + 1), 4);
  put(out, optional + 60, 0x200, 4);
  put(out, optional + 68, 3, 2);
  put(out, optional + 108, 16, 4);
  for (std::size_t i = 0; i < sections.size(); ++i) {
    const std::size_t at = optional + 240 + 40 * i;
    const auto rva = static_cast<std::uint32_t>(0x1000 * (i + 1));
    std::memcpy(&out[at], sections[i].data(), sections[i].size());
    put(out, at + 8, 0x200, 4);
    put(out, at + 12, rva, 4);
    put(out, at + 16, 0x200, 4);
    put(out, at + 20, static_cast<std::uint32_t>(0x200 * (i + 1)), 4);
    if (sections[i] == ".rsrc")
      put(out, optional + 112 + 16, rva, 4), put(out, optional + 116 + 16, 0x200, 4);
  }
  return out;
}

}  // namespace wexlo::testing
