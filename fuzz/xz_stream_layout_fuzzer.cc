// The xz framing reader: a layout describes exactly the input, and a refusal
// carries one of the codes the launcher prints.
#include "fuzz_check.h"
#include "install/xz_stream_layout.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto layout = wexlo::readXzStreamLayout({data, size});
  if (layout) {
    FUZZ_CHECK(layout->streamSize == size);
    return 0;
  }
  const auto [failure, code] = layout.error();
  if (code == 0) {
    FUZZ_CHECK(failure == wexlo::Failure::OutOfMemory);
  } else {
    FUZZ_CHECK(failure == wexlo::Failure::ParseError);
    FUZZ_CHECK(code == wexlo::kXzNotXz || code == wexlo::kXzUnsupported ||
               code == wexlo::kXzCorrupt);
  }
  return 0;
}
