#include "format/payload_decoder.h"

#include <lzma.h>

#include <new>

namespace wexlo {
namespace {

std::unexpected<DecodeFailure> failCode(int code) {
  return std::unexpected(DecodeFailure{Failure::ParseError, code});
}

std::unexpected<DecodeFailure> failPlain(Failure failure) {
  return std::unexpected(DecodeFailure{failure, 0});
}

struct StreamGuard {
  lzma_stream* stream;
  ~StreamGuard() { lzma_end(stream); }
};

// Runs the stream decoder once over all input and all output. When it can
// go no further, a full output with input left means the stream is longer
// than declared; otherwise the input ended before the stream did.
std::expected<std::uint64_t, DecodeFailure> decodeInto(std::span<const std::uint8_t> compressed,
                                                       std::uint8_t* output, std::size_t size) {
  lzma_stream stream = LZMA_STREAM_INIT;
  // No concatenated streams, no memory limit: the shape was checked before.
  if (lzma_stream_decoder(&stream, UINT64_MAX, 0) != LZMA_OK) {
    return failPlain(Failure::OutOfMemory);
  }
  StreamGuard guard{&stream};
  stream.next_in = compressed.data();
  stream.avail_in = compressed.size();
  stream.next_out = output;
  stream.avail_out = size;
  lzma_ret ret = LZMA_OK;
  while (ret == LZMA_OK) ret = lzma_code(&stream, LZMA_FINISH);
  switch (ret) {
    case LZMA_STREAM_END:
      // The framing was checked to fill the input exactly.
      if (stream.avail_in != 0) return failCode(kXzCorrupt);
      return stream.total_out;
    case LZMA_BUF_ERROR:
      return failCode(stream.avail_out == 0 && stream.avail_in != 0 ? kXzOutputFull : kXzCorrupt);
    case LZMA_MEM_ERROR:
      return failPlain(Failure::OutOfMemory);
    case LZMA_FORMAT_ERROR:
      return failCode(kXzNotXz);
    case LZMA_OPTIONS_ERROR:
      return failCode(kXzUnsupported);
    default:
      return failCode(kXzCorrupt);
  }
}

}  // namespace

std::expected<PayloadBuffer, DecodeFailure> decodePayload(std::span<const std::uint8_t> compressed,
                                                          std::uint64_t decompressedLength) {
  // liblzma would take more than the launcher accepts, so the shape is
  // judged before any memory for the output is taken.
  auto layout = readXzStreamLayout(compressed);
  if (!layout) return std::unexpected(layout.error());
  if (!isAcceptedXzShape(*layout)) return failCode(kXzUnsupported);

  if (decompressedLength > SIZE_MAX) return failPlain(Failure::OutOfMemory);
  const auto size = static_cast<std::size_t>(decompressedLength);
  // Not zero-filled: every byte is written by the decoder or the length check fails.
  std::unique_ptr<std::uint8_t[]> data(new (std::nothrow) std::uint8_t[size]);
  if (!data) return failPlain(Failure::OutOfMemory);

  auto decoded = decodeInto(compressed, data.get(), size);
  if (!decoded) return std::unexpected(decoded.error());
  if (*decoded != decompressedLength) return failPlain(Failure::LengthMismatch);
  return PayloadBuffer(std::move(data), size);
}

}  // namespace wexlo
