#include "format/footer.h"

#include <lzma.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "image/pe_image.h"

namespace wexlo {

namespace {

constexpr std::array<std::uint8_t, 8> kFooterMagic = {'W', 'E', 'X', 'L', 'O', 'B', 'L', 'D'};
constexpr std::size_t kChecksumOffset = kFooterSize - 4;
// Signing tools align the certificate table to 8 bytes with zero padding.
constexpr std::size_t kMaxCertificatePadding = 7;

template <typename T>
void put(std::uint8_t* at, T value) {
  for (std::size_t i = 0; i < sizeof(T); ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

template <typename T>
T get(const std::uint8_t* at) {
  T value = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i) value |= static_cast<T>(at[i]) << (8 * i);
  return value;
}

// The pieces must sit back to back and end exactly where the footer starts.
Result<EmbeddedBuild> placeBuild(std::span<const std::uint8_t> image, const Footer& footer,
                                 std::uint64_t footerStart) {
  if (footer.payloadOffset > footerStart ||
      footer.payloadLength > footerStart - footer.payloadOffset ||
      footer.metadataOffset != footer.payloadOffset + footer.payloadLength ||
      footer.metadataLength > footerStart - footer.metadataOffset ||
      footer.appNameLength != footerStart - footer.metadataOffset - footer.metadataLength) {
    return fail(Failure::CorruptedData);
  }
  const auto* base = image.data();
  const auto* metadata = reinterpret_cast<const char*>(base + footer.metadataOffset);
  return EmbeddedBuild{
      .payload = image.subspan(footer.payloadOffset, footer.payloadLength),
      .metadataText = std::string_view(metadata, footer.metadataLength),
      .appName = std::string_view(metadata + footer.metadataLength, footer.appNameLength),
      .decompressedLength = footer.decompressedLength,
  };
}

}  // namespace

std::array<std::uint8_t, kFooterSize> encodeFooter(const Footer& footer) {
  std::array<std::uint8_t, kFooterSize> bytes{};
  std::copy(kFooterMagic.begin(), kFooterMagic.end(), bytes.begin());
  put<std::uint32_t>(&bytes[8], kFooterFormatVersion);
  put<std::uint32_t>(&bytes[12], footer.metadataLength);
  put<std::uint64_t>(&bytes[16], footer.payloadOffset);
  put<std::uint64_t>(&bytes[24], footer.payloadLength);
  put<std::uint64_t>(&bytes[32], footer.decompressedLength);
  put<std::uint64_t>(&bytes[40], footer.metadataOffset);
  put<std::uint32_t>(&bytes[48], footer.appNameLength);
  put<std::uint32_t>(&bytes[kChecksumOffset], lzma_crc32(bytes.data(), kChecksumOffset, 0));
  return bytes;
}

Result<Footer> decodeFooter(std::span<const std::uint8_t, kFooterSize> bytes) {
  if (!std::equal(kFooterMagic.begin(), kFooterMagic.end(), bytes.begin())) {
    return fail(Failure::InvalidExe);
  }
  if (get<std::uint32_t>(&bytes[kChecksumOffset]) != lzma_crc32(bytes.data(), kChecksumOffset, 0) ||
      get<std::uint32_t>(&bytes[8]) != kFooterFormatVersion ||
      get<std::uint64_t>(&bytes[52]) != 0) {
    return fail(Failure::CorruptedData);
  }
  return Footer{
      .payloadOffset = get<std::uint64_t>(&bytes[16]),
      .payloadLength = get<std::uint64_t>(&bytes[24]),
      .decompressedLength = get<std::uint64_t>(&bytes[32]),
      .metadataOffset = get<std::uint64_t>(&bytes[40]),
      .metadataLength = get<std::uint32_t>(&bytes[12]),
      .appNameLength = get<std::uint32_t>(&bytes[48]),
  };
}

Result<EmbeddedBuild> locateEmbeddedBuild(std::span<const std::uint8_t> image) {
  const std::size_t end = endOfAppendedData(image);
  const std::size_t maxPadding = end == image.size() ? 0 : kMaxCertificatePadding;
  Failure failure = Failure::InvalidExe;
  for (std::size_t padding = 0; padding <= maxPadding && padding <= end; ++padding) {
    if (padding > 0 && image[end - padding] != 0) break;
    const std::size_t footerEnd = end - padding;
    if (footerEnd < kFooterSize) break;
    const std::size_t footerStart = footerEnd - kFooterSize;
    auto footer = decodeFooter(image.subspan(footerStart).first<kFooterSize>());
    if (footer) return placeBuild(image, *footer, footerStart);
    if (footer.error() == Failure::CorruptedData) failure = Failure::CorruptedData;
  }
  return fail(failure);
}

std::size_t endOfAppendedData(std::span<const std::uint8_t> image) {
  return image::certificateTableOffset(image).value_or(image.size());
}

}  // namespace wexlo
