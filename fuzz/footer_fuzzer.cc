// A launcher image: the pieces the footer locates lie back to back inside it,
// before the footer, and a footer that decodes encodes back to its own bytes.
// Each input is read as it is and with the checksum of the footer at the end
// of the appended data repaired, so that mutated footers get decoded too.
#include <lzma.h>

#include <algorithm>
#include <span>
#include <vector>

#include "format/footer.h"
#include "fuzz_check.h"

namespace {

using wexlo::kFooterSize;

void checkImage(std::span<const std::uint8_t> image) {
  const auto* data = image.data();
  const std::size_t end = wexlo::endOfAppendedData(image);
  FUZZ_CHECK(end <= image.size());

  if (auto build = wexlo::locateEmbeddedBuild(image)) {
    const auto* payloadEnd = build->payload.data() + build->payload.size();
    const auto* metadataEnd = build->metadataText.data() + build->metadataText.size();
    const auto* appNameEnd =
        reinterpret_cast<const std::uint8_t*>(build->appName.data()) + build->appName.size();
    FUZZ_CHECK(
        wexlo::fuzz::withinInput(build->payload.data(), build->payload.size(), data, image.size()));
    FUZZ_CHECK(reinterpret_cast<const std::uint8_t*>(build->metadataText.data()) == payloadEnd);
    FUZZ_CHECK(build->appName.data() == metadataEnd);
    FUZZ_CHECK(wexlo::fuzz::withinInput(appNameEnd, kFooterSize, data, end));
  }

  if (end >= kFooterSize) {
    const auto footerBytes = image.first(end).last<kFooterSize>();
    if (auto footer = wexlo::decodeFooter(footerBytes)) {
      FUZZ_CHECK(std::ranges::equal(wexlo::encodeFooter(*footer), footerBytes));
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> image(data, data + size);
  checkImage(image);
  const std::size_t end = wexlo::endOfAppendedData(image);
  if (end < kFooterSize) return 0;
  const std::uint32_t crc = lzma_crc32(&image[end - kFooterSize], kFooterSize - 4, 0);
  for (int i = 0; i < 4; ++i) image[end - 4 + i] = static_cast<std::uint8_t>(crc >> (8 * i));
  checkImage(image);
  return 0;
}
