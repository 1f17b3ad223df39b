// A marker found in a stub is really there, field for field, and names a
// target.
#include <string>
#include <string_view>

#include "format/stub_marker.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto info = wexlo::findStubMarker({data, size});
  if (!info) return 0;
  std::string marker = wexlo::kStubMarkerPrefix;
  for (const std::string* field : {&info->target, &info->toolchain, &info->flags}) {
    FUZZ_CHECK(!field->contains('\x1f') && !field->contains('\0'));
    marker += *field + '\x1f';
  }
  marker += '\0';
  FUZZ_CHECK(!info->target.empty());
  FUZZ_CHECK(std::string_view(reinterpret_cast<const char*>(data), size).contains(marker));
  return 0;
}
