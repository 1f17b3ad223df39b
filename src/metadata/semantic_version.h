// Semantic Versioning 2.0.0 versions: parsing and precedence.
#pragma once

#include <compare>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/failure.h"

namespace wexlo {

// An empty list stands for an absent part: a present part has at least one
// identifier.
struct SemanticVersion {
  std::uint64_t major = 0;
  std::uint64_t minor = 0;
  std::uint64_t patch = 0;
  std::vector<std::string> preRelease;
  std::vector<std::string> build;
};

// Fails with InvalidVersion for text that is not a version, and with Overflow
// for a number that does not fit in 64 bits.
Result<SemanticVersion> parseSemanticVersion(std::string_view text);

// Precedence order: the build part is ignored, so versions differing only in
// it compare equal.
std::strong_ordering comparePrecedence(const SemanticVersion& a, const SemanticVersion& b);

}  // namespace wexlo
