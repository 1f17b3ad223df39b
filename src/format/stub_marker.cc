#include "format/stub_marker.h"

#include <algorithm>
#include <string_view>

namespace wexlo {

namespace {

constexpr char kUnitSeparator = '\x1f';
// Real fields are short; a bound keeps a stray prefix in unrelated data from
// swallowing megabytes of the image.
constexpr std::size_t kMaxFieldLength = 4096;

// Reads one field ended by the unit separator. A NUL or a missing separator
// means this is not a marker.
std::optional<std::string_view> readField(std::string_view& rest) {
  const std::size_t limit = std::min(rest.size(), kMaxFieldLength + 1);
  for (std::size_t i = 0; i < limit; ++i) {
    if (rest[i] == '\0') return std::nullopt;
    if (rest[i] == kUnitSeparator) {
      std::string_view field = rest.substr(0, i);
      rest.remove_prefix(i + 1);
      return field;
    }
  }
  return std::nullopt;
}

std::optional<StubInfo> parseMarkerBody(std::string_view rest) {
  auto target = readField(rest);
  auto toolchain = readField(rest);
  auto flags = readField(rest);
  if (!target || !toolchain || !flags || target->empty()) return std::nullopt;
  if (rest.empty() || rest.front() != '\0') return std::nullopt;
  return StubInfo{std::string(*target), std::string(*toolchain), std::string(*flags)};
}

}  // namespace

std::optional<StubInfo> findStubMarker(std::span<const std::uint8_t> stub) {
  const std::string_view bytes(reinterpret_cast<const char*>(stub.data()), stub.size());
  const std::string_view prefix(kStubMarkerPrefix);
  for (std::size_t at = bytes.find(prefix); at != std::string_view::npos;
       at = bytes.find(prefix, at + 1)) {
    if (auto info = parseMarkerBody(bytes.substr(at + prefix.size()))) return info;
  }
  return std::nullopt;
}

}  // namespace wexlo
