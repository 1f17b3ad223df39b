// The payload decoder: input is the declared length (u16, little-endian, so
// the output stays small) then the xz stream, decoded as it is and with its
// checksums repaired. What decodes has exactly the declared length, which the
// stream's index records too.
#include <span>
#include <vector>

#include "format/payload_decoder.h"
#include "format/xz_stream_layout.h"
#include "fuzz_check.h"
#include "xz_checksums.h"

namespace {

// The launcher takes dictionaries up to 3 GiB, which liblzma allocates in
// full; bigger ones than this only make runs slow.
constexpr std::uint64_t kLargestFuzzedDictionary = std::uint64_t{1} << 20;

void checkDecode(std::span<const std::uint8_t> stream, std::uint64_t declared) {
  auto layout = wexlo::readXzStreamLayout(stream);
  if (layout && layout->largestDictionary > kLargestFuzzedDictionary) return;

  auto payload = wexlo::decodePayload(stream, declared);
  if (!payload) return;
  FUZZ_CHECK(payload->bytes().size() == declared);
  FUZZ_CHECK(layout && wexlo::isAcceptedXzShape(*layout));
  FUZZ_CHECK(layout->uncompressedSize == declared);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::uint64_t declared = data[0] | data[1] << 8;
  std::vector<std::uint8_t> stream(data + 2, data + size);
  checkDecode(stream, declared);
  wexlo::fuzz::repairXzChecksums(stream);
  checkDecode(stream, declared);
  return 0;
}
