// Bounded reads of fixed-size integers out of a file's bytes: a read that
// would pass the end is an empty answer, never a read outside the span.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace wexlo::image {

template <typename T>
std::optional<T> readLittle(std::span<const std::uint8_t> bytes, std::size_t offset) {
  if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) return std::nullopt;
  T value = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) value |= static_cast<T>(bytes[offset + i]) << (8 * i);
  return value;
}

template <typename T>
std::optional<T> readBig(std::span<const std::uint8_t> bytes, std::size_t offset) {
  if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) return std::nullopt;
  T value = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i)
    value = static_cast<T>(value << 8) | bytes[offset + i];
  return value;
}

// In the byte order an ELF file's identification names.
template <typename T>
std::optional<T> readOrdered(std::span<const std::uint8_t> bytes, std::size_t offset,
                             bool bigEndian) {
  return bigEndian ? readBig<T>(bytes, offset) : readLittle<T>(bytes, offset);
}

}  // namespace wexlo::image
