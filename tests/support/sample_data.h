// Deterministic text-like bytes: they compress, but not to nothing.
#pragma once

#include <cstdint>
#include <vector>

namespace wexlo::testing {

inline std::vector<std::uint8_t> sampleText(std::size_t size, std::uint32_t seed,
                                            std::uint32_t letters) {
  std::vector<std::uint8_t> bytes(size);
  for (auto& byte : bytes) {
    seed = seed * 1103515245 + 12345;
    byte = static_cast<std::uint8_t>('a' + (seed >> 16) % letters);
  }
  return bytes;
}

}  // namespace wexlo::testing
