// A launcher image: the pieces the footer locates lie back to back inside it,
// before the footer, and a footer that decodes encodes back to its own bytes.
#include <algorithm>
#include <span>

#include "embed/footer.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using wexlo::fuzz::withinInput;
  const std::span<const std::uint8_t> image(data, size);
  const std::size_t end = wexlo::endOfAppendedData(image);
  FUZZ_CHECK(end <= size);

  if (auto build = wexlo::locateEmbeddedBuild(image)) {
    const auto* payloadEnd = build->payload.data() + build->payload.size();
    const auto* metadataEnd = build->metadataText.data() + build->metadataText.size();
    const auto* appNameEnd =
        reinterpret_cast<const std::uint8_t*>(build->appName.data()) + build->appName.size();
    FUZZ_CHECK(withinInput(build->payload.data(), build->payload.size(), data, size));
    FUZZ_CHECK(reinterpret_cast<const std::uint8_t*>(build->metadataText.data()) == payloadEnd);
    FUZZ_CHECK(build->appName.data() == metadataEnd);
    FUZZ_CHECK(withinInput(appNameEnd, wexlo::kFooterSize, data, end));
  }

  if (size >= wexlo::kFooterSize) {
    const auto last = image.last<wexlo::kFooterSize>();
    if (auto footer = wexlo::decodeFooter(last)) {
      const auto encoded = wexlo::encodeFooter(*footer);
      FUZZ_CHECK(std::ranges::equal(encoded, last));
    }
  }
  return 0;
}
