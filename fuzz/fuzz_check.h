// What the fuzzers share: a check that holds in every build type, a bounds
// test for views into the input, and input bytes read as UTF-16 code units.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// Aborts on a broken property, so libFuzzer keeps the input as a crash.
#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (false)

namespace wexlo::fuzz {

// Whether `length` bytes at `begin` lie within the input.
inline bool withinInput(const void* begin, std::size_t length, const std::uint8_t* data,
                        std::size_t size) {
  const auto at = reinterpret_cast<std::uintptr_t>(begin);
  const auto start = reinterpret_cast<std::uintptr_t>(data);
  return at >= start && at - start <= size && length <= size - (at - start);
}

// Little-endian byte pairs; an odd last byte is dropped.
inline std::u16string utf16Units(const std::uint8_t* data, std::size_t size) {
  std::u16string units(size / 2, u'\0');
  for (std::size_t i = 0; i < units.size(); ++i) {
    units[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
  }
  return units;
}

}  // namespace wexlo::fuzz
