// The payload decoder: input is the declared length (u16, little-endian, so
// the output stays small) then the xz stream. What decodes has exactly the
// declared length, which the stream's index records too.
#include "fuzz_check.h"
#include "install/payload_decoder.h"
#include "install/xz_stream_layout.h"

namespace {

// The launcher takes dictionaries up to 3 GiB, which liblzma allocates in
// full; bigger ones than this only make runs slow.
constexpr std::uint64_t kLargestFuzzedDictionary = std::uint64_t{1} << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint64_t declared = data[0] | data[1] << 8;
  const std::span<const std::uint8_t> stream(data + 2, size - 2);
  auto layout = wexlo::readXzStreamLayout(stream);
  if (layout && layout->largestDictionary > kLargestFuzzedDictionary) return 0;

  auto payload = wexlo::decodePayload(stream, declared);
  if (!payload) return 0;
  FUZZ_CHECK(payload->bytes().size() == declared);
  FUZZ_CHECK(layout && wexlo::isAcceptedXzShape(*layout));
  FUZZ_CHECK(layout->uncompressedSize == declared);
  return 0;
}
