// Every stub carries a marker naming its target and the toolchain that built
// it, so the packer can refuse a stub of the wrong target and record how the
// launcher was built.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace wexlo {

// The marker is this prefix, then target, toolchain and build flags, each
// ended by the unit separator, then a NUL.
#define WEXLO_STUB_MARKER_PREFIX "WEXLO-STUB-MARKER\x1f"
inline constexpr char kStubMarkerPrefix[] = WEXLO_STUB_MARKER_PREFIX;

struct StubInfo {
  std::string target;     // "linux-x86_64", "linux-aarch64" or "windows-x86_64"
  std::string toolchain;  // e.g. "GNU 12.2.0"
  std::string flags;      // compiler and linker flags, space separated
};

std::optional<StubInfo> findStubMarker(std::span<const std::uint8_t> stub);

}  // namespace wexlo
