// Small PE images for tests of code that reads or changes them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace wexlo::testing {

// A PE32+ image: headers in 0x200 bytes, then a section of 0x200 bytes (0xcc
// filled) for each name, loaded 0x1000 apart, then `trailing` bytes of data
// after the image; a ".rsrc" section becomes the resource directory.
std::vector<std::uint8_t> peImage(const std::vector<std::string>& sections,
                                  std::size_t trailing = 0);

}  // namespace wexlo::testing
