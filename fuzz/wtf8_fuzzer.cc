// WTF-8 and UTF-16 convert into each other without loss: any UTF-16 units
// come back unchanged, and so do bytes that convert at all.
#include <string_view>

#include "fuzz_check.h"
#include "platform/wtf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto units = wexlo::fuzz::utf16Units(data, size);
  auto back = wexlo::wtf8ToWtf16(wexlo::wtf16ToWtf8(units));
  FUZZ_CHECK(back && *back == units);

  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (auto converted = wexlo::wtf8ToWtf16(bytes)) {
    FUZZ_CHECK(wexlo::wtf16ToWtf8(*converted) == bytes);
  }
  return 0;
}
