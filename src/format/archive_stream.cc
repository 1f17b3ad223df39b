#include "format/archive_stream.h"

#include <algorithm>
#include <array>

#include "format/archive_reader.h"

namespace wexlo {
namespace {

std::unexpected<DecodeFailure> failPlain(Failure failure) {
  return std::unexpected(DecodeFailure{failure, 0, {}});
}

}  // namespace

std::expected<void, DecodeFailure> ArchiveStream::fill() {
  while (block_.empty()) {
    auto next = blocks_.next();
    if (!next) return std::unexpected(next.error());
    // The blocks add up to the declared size, which bounds every read.
    if (!*next) return failPlain(Failure::CorruptedData);
    block_ = **next;
  }
  return {};
}

std::expected<void, DecodeFailure> ArchiveStream::read(std::span<std::uint8_t> out) {
  while (!out.empty()) {
    if (auto filled = fill(); !filled) return filled;
    const std::size_t count = std::min(out.size(), block_.size());
    std::copy_n(block_.begin(), count, out.begin());
    block_ = block_.subspan(count);
    out = out.subspan(count);
    position_ += count;
  }
  return {};
}

std::expected<std::uint64_t, DecodeFailure> ArchiveStream::readU64() {
  std::array<std::uint8_t, 8> bytes{};
  if (auto done = read(bytes); !done) return std::unexpected(done.error());
  std::uint64_t value = 0;
  for (int i = 0; i < 8; ++i) value |= static_cast<std::uint64_t>(bytes[i]) << (8 * i);
  return value;
}

std::expected<void, DecodeFailure> ArchiveStream::open() {
  std::array<std::uint8_t, kArchiveMagic.size()> magic{};
  if (size_ < magic.size()) return failPlain(Failure::BadHeader);
  if (auto done = read(magic); !done) return done;
  if (!std::equal(kArchiveMagic.begin(), kArchiveMagic.end(), magic.begin())) {
    return failPlain(Failure::BadHeader);
  }
  return {};
}

std::expected<std::optional<ArchiveStream::Entry>, DecodeFailure> ArchiveStream::nextEntry() {
  const std::uint64_t end = size_ - kArchiveMagic.size();
  if (position_ >= end) return std::nullopt;
  // Every comparison is against the bytes left, so no length can wrap.
  auto fits = [&](std::uint64_t count) { return count <= end - position_; };
  if (!fits(8)) return failPlain(Failure::CorruptedData);
  auto pathLength = readU64();
  if (!pathLength) return std::unexpected(pathLength.error());
  if (!fits(*pathLength)) return failPlain(Failure::CorruptedData);
  if (*pathLength > kLongestEntryPath) return failPlain(Failure::BadPathName);
  path_.resize(*pathLength);
  if (auto done = read({reinterpret_cast<std::uint8_t*>(path_.data()), path_.size()}); !done) {
    return std::unexpected(done.error());
  }
  if (!fits(8)) return failPlain(Failure::CorruptedData);
  auto contentLength = readU64();
  if (!contentLength) return std::unexpected(contentLength.error());
  if (!fits(*contentLength)) return failPlain(Failure::CorruptedData);
  // The mode may overlap the trailer but must lie inside the archive.
  if (size_ - position_ - *contentLength < 8) return failPlain(Failure::CorruptedData);
  contentLeft_ = *contentLength;
  return Entry{path_, *contentLength};
}

std::expected<std::span<const std::uint8_t>, DecodeFailure> ArchiveStream::nextPiece() {
  if (contentLeft_ == 0) return std::span<const std::uint8_t>{};
  if (auto filled = fill(); !filled) return std::unexpected(filled.error());
  const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(contentLeft_, block_.size()));
  const auto piece = block_.first(count);
  block_ = block_.subspan(count);
  position_ += count;
  contentLeft_ -= count;
  return piece;
}

std::expected<std::uint64_t, DecodeFailure> ArchiveStream::mode() { return readU64(); }

std::expected<bool, DecodeFailure> ArchiveStream::endsWithTrailer() {
  if (position_ != size_ - kArchiveMagic.size()) return false;
  std::array<std::uint8_t, kArchiveMagic.size()> trailer{};
  if (auto done = read(trailer); !done) return std::unexpected(done.error());
  return std::equal(kArchiveMagic.begin(), kArchiveMagic.end(), trailer.begin());
}

}  // namespace wexlo
