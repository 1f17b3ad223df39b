#include "format/footer.h"

#include <lzma.h>

#include <algorithm>
#include <cstring>
#include <optional>

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

template <typename T>
std::optional<T> getAt(std::span<const std::uint8_t> image, std::size_t offset) {
  if (offset > image.size() || image.size() - offset < sizeof(T)) return std::nullopt;
  return get<T>(image.data() + offset);
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
  constexpr std::uint16_t kPe32 = 0x10b;
  constexpr std::uint16_t kPe32Plus = 0x20b;
  constexpr std::uint32_t kSecurityDirectory = 4;

  if (image.size() < 0x40 || image[0] != 'M' || image[1] != 'Z') return image.size();
  const std::size_t peOffset = get<std::uint32_t>(image.data() + 0x3c);
  auto signature = getAt<std::uint32_t>(image, peOffset);
  if (!signature || *signature != 0x00004550) return image.size();  // "PE\0\0"
  const std::size_t coffHeader = peOffset + 4;
  auto optionalSize = getAt<std::uint16_t>(image, coffHeader + 16);
  const std::size_t optionalHeader = coffHeader + 20;
  auto magic = getAt<std::uint16_t>(image, optionalHeader);
  if (!optionalSize || !magic || (*magic != kPe32 && *magic != kPe32Plus)) return image.size();

  const std::size_t countOffset = *magic == kPe32 ? 92 : 108;
  const std::size_t entryOffset = countOffset + 4 + 8 * kSecurityDirectory;
  auto directoryCount = getAt<std::uint32_t>(image, optionalHeader + countOffset);
  if (!directoryCount || *directoryCount <= kSecurityDirectory || entryOffset + 8 > *optionalSize) {
    return image.size();
  }
  // For this one directory the "address" is a file offset, not an RVA.
  auto tableOffset = getAt<std::uint32_t>(image, optionalHeader + entryOffset);
  auto tableSize = getAt<std::uint32_t>(image, optionalHeader + entryOffset + 4);
  if (!tableOffset || !tableSize || *tableOffset == 0 || *tableSize == 0 ||
      *tableOffset > image.size() || *tableSize > image.size() - *tableOffset) {
    return image.size();
  }
  return *tableOffset;
}

}  // namespace wexlo
