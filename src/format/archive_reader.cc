#include "format/archive_reader.h"

#include <algorithm>

namespace wexlo {

namespace {

std::uint64_t readU64(const std::uint8_t* at) {
  std::uint64_t value = 0;
  for (int i = 0; i < 8; ++i) value |= static_cast<std::uint64_t>(at[i]) << (8 * i);
  return value;
}

bool isAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

Result<ArchiveReader> ArchiveReader::open(std::span<const std::uint8_t> archive) {
  if (archive.size() < kArchiveMagic.size() ||
      !std::equal(kArchiveMagic.begin(), kArchiveMagic.end(), archive.begin())) {
    return fail(Failure::BadHeader);
  }
  return ArchiveReader(archive);
}

Result<std::optional<ArchiveEntry>> ArchiveReader::next() {
  if (failed_) return fail(Failure::CorruptedData);
  if (position_ >= end_) return std::nullopt;

  // Every comparison is against the bytes left, so no length can wrap.
  std::size_t at = position_;
  auto take = [&](std::uint64_t count) {
    if (count > end_ - at) return false;
    at += static_cast<std::size_t>(count);
    return true;
  };
  const std::uint8_t* base = archive_.data();
  auto corrupted = [this] {
    failed_ = true;
    return fail(Failure::CorruptedData);
  };

  const std::size_t pathLengthAt = at;
  if (!take(8)) return corrupted();
  const std::uint64_t pathLength = readU64(base + pathLengthAt);
  const std::size_t pathAt = at;
  if (!take(pathLength)) return corrupted();
  const std::size_t contentLengthAt = at;
  if (!take(8)) return corrupted();
  const std::uint64_t contentLength = readU64(base + contentLengthAt);
  const std::size_t contentAt = at;
  if (!take(contentLength)) return corrupted();
  // The mode may overlap the trailer but must lie inside the buffer.
  const std::size_t modeAt = at;
  if (archive_.size() - modeAt < 8) return corrupted();

  position_ = modeAt + 8;
  return ArchiveEntry{
      .path = std::string_view(reinterpret_cast<const char*>(base + pathAt), pathLength),
      .content = archive_.subspan(contentAt, contentLength),
      .mode = readU64(base + modeAt),
  };
}

Status checkEntryPath(std::string_view path) {
  if (path.empty() || path.front() == '/' || path.back() == '/') return fail(Failure::BadPathName);
  if (path.find('\\') != std::string_view::npos || path.find('\0') != std::string_view::npos) {
    return fail(Failure::BadPathName);
  }
  if (path.size() >= 2 && isAsciiLetter(path[0]) && path[1] == ':') {
    return fail(Failure::BadPathName);
  }
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t slash = path.find('/', start);
    if (slash == std::string_view::npos) slash = path.size();
    const std::string_view component = path.substr(start, slash - start);
    if (component.empty() || component == "." || component == "..") {
      return fail(Failure::BadPathName);
    }
    start = slash + 1;
  }
  return {};
}

}  // namespace wexlo
