#include "format/payload_decoder.h"

#include <new>

namespace wexlo {

std::expected<PayloadBuffer, DecodeFailure> decodePayload(std::span<const std::uint8_t> compressed,
                                                          std::uint64_t decompressedLength,
                                                          unsigned threads,
                                                          const BlockDoneFn& done) {
  auto stream =
      PayloadStream::open(compressed, decompressedLength,
                          {.threads = threads, .memoryBudget = kDecodeMemoryBudget, .done = done});
  if (!stream) return std::unexpected(stream.error());
  std::vector<std::uint8_t> data;
  try {
    while (true) {
      auto block = (*stream)->next();
      if (!block) return std::unexpected(block.error());
      if (!*block) break;
      data.insert(data.end(), (*block)->begin(), (*block)->end());
    }
  } catch (const std::bad_alloc&) {
    return std::unexpected(DecodeFailure{Failure::OutOfMemory, 0, {}});
  }
  return PayloadBuffer(std::move(data));
}

std::string decodeFailureLine(const DecodeFailure& failure) {
  if (!failure.zstdError.empty()) return "ZSTD Decode Failed: " + std::string(failure.zstdError);
  if (failure.code != 0) return "XZ/LZMA Decode Failed: " + std::to_string(failure.code);
  return {};
}

}  // namespace wexlo
