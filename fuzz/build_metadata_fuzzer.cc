// Metadata text that parses, written back and parsed again, gives the same
// record. (parseBuildMetadata only adds logging to decodeBuildMetadata.)
#include "fuzz_check.h"
#include "metadata/build_metadata.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto record = wexlo::decodeBuildMetadata({reinterpret_cast<const char*>(data), size});
  if (!record) return 0;
  auto again = wexlo::decodeBuildMetadata(wexlo::encodeBuildMetadata(*record));
  FUZZ_CHECK(again && *again == *record);
  return 0;
}
