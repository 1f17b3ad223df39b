// zstd payloads for tests: well-made ones, and the damaged ones every
// launcher must refuse before it writes a file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace wexlo::testing {

// Frames of `frameSize` bytes (0: one frame), each with its content size and
// checksum, as the packer makes them.
std::string zstdCompress(std::string_view data, std::uint64_t frameSize = 0);

// One frame of raw blocks holding `data` that declares a window of
// 2^windowLog bytes and a content size of `declaredSize`; its checksum is
// zero, as such a frame is refused before that is read.
std::string zstdFrameDeclaring(std::string_view data, int windowLog, std::uint64_t declaredSize);

struct PayloadFault {
  std::string what;
  std::string payload;
  std::uint64_t decompressedLength = 0;
  std::string err;  // the launcher's standard error; its status is 1
};

// Damaged zstd payloads of `archive`, with what a launcher prints for each.
std::vector<PayloadFault> zstdPayloadFaults(std::string_view archive);

}  // namespace wexlo::testing
