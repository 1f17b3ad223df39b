// Precedence is a total order: up to three versions, one per input line, must
// compare antisymmetrically and transitively, and equal exactly when all but
// their build parts are equal.
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "metadata/semantic_version.h"

namespace {

using wexlo::SemanticVersion;

bool samePrecedence(const SemanticVersion& a, const SemanticVersion& b) {
  return a.major == b.major && a.minor == b.minor && a.patch == b.patch &&
         a.preRelease == b.preRelease;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<SemanticVersion> versions;
  for (int line = 0; line < 3; ++line) {
    const std::size_t end = line < 2 ? text.find('\n') : std::string_view::npos;
    if (auto version = wexlo::parseSemanticVersion(text.substr(0, end))) {
      versions.push_back(std::move(*version));
    }
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }

  for (const auto& a : versions) {
    for (const auto& b : versions) {
      const auto ab = wexlo::comparePrecedence(a, b);
      FUZZ_CHECK(wexlo::comparePrecedence(b, a) == (0 <=> ab));
      FUZZ_CHECK((ab == 0) == samePrecedence(a, b));
      for (const auto& c : versions) {
        const auto bc = wexlo::comparePrecedence(b, c);
        const auto ac = wexlo::comparePrecedence(a, c);
        if (ab <= 0 && bc <= 0) FUZZ_CHECK(ac <= 0);
        if ((ab < 0 && bc <= 0) || (ab <= 0 && bc < 0)) FUZZ_CHECK(ac < 0);
      }
    }
  }
  return 0;
}
