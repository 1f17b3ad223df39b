// Compresses the payload archive into the zstd frames a launcher decodes.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "pack/xz_encoder.h"

namespace wexlo {

inline constexpr int kDefaultZstdLevel = 19;

struct ZstdOptions {
  std::uint32_t threads = 0;    // 0: one per core
  std::uint64_t blockSize = 0;  // 0: kDefaultXzBlockSize
  int level = kDefaultZstdLevel;
  std::uint64_t memoryBudget = kPackMemoryBudget;  // cuts the thread count
};

// The levels the library takes, lowest and highest.
int minZstdLevel();
int maxZstdLevel();

// One frame per blockSize bytes of input, each compressed on its own with
// its content size and content checksum and a window within what a
// launcher decodes. The same input, block size and level give the same
// bytes whatever the thread count and however the input is cut into pieces.
// Worker threads compress a few frames ahead of the writer; the frames in
// flight and the workers' state stay within the memory budget.
Result<std::unique_ptr<PayloadEncoder>> zstdEncoder(const ZstdOptions& options,
                                                    CompressedSink sink);

// The same for input held whole. `progress` (may be empty) gets the input
// bytes compressed so far now and then.
Result<std::vector<std::uint8_t>> compressZstdPayload(std::span<const std::uint8_t> input,
                                                      const ZstdOptions& options,
                                                      XzProgress progress = {});

}  // namespace wexlo
