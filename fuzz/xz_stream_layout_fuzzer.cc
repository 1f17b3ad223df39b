// The xz framing reader: a layout describes exactly the input, and a refusal
// carries one of the codes the launcher prints. Each input is read as it is
// and with its checksums repaired.
#include <span>
#include <vector>

#include "format/xz_stream_layout.h"
#include "fuzz_check.h"
#include "xz_checksums.h"

namespace {

void checkLayout(std::span<const std::uint8_t> stream) {
  auto layout = wexlo::readXzStreamLayout(stream);
  if (layout) {
    FUZZ_CHECK(layout->streamSize == stream.size());
    return;
  }
  const auto [failure, code, zstdError] = layout.error();
  FUZZ_CHECK(zstdError.empty());
  if (code == 0) {
    FUZZ_CHECK(failure == wexlo::Failure::OutOfMemory);
  } else {
    FUZZ_CHECK(failure == wexlo::Failure::ParseError);
    FUZZ_CHECK(code == wexlo::kXzNotXz || code == wexlo::kXzUnsupported ||
               code == wexlo::kXzCorrupt);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  checkLayout({data, size});
  std::vector<std::uint8_t> repaired(data, data + size);
  wexlo::fuzz::repairXzChecksums(repaired);
  checkLayout(repaired);
  return 0;
}
