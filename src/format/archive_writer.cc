#include "format/archive_writer.h"

namespace wexlo {

ArchiveWriter::ArchiveWriter(std::size_t expectedSize) {
  bytes_.reserve(std::max<std::size_t>(expectedSize, kArchiveOverhead));
  bytes_.insert(bytes_.end(), kArchiveMagic.begin(), kArchiveMagic.end());
}

Status ArchiveWriter::add(std::string_view path, std::span<const std::uint8_t> content,
                          std::uint64_t mode) {
  if (auto checked = checkEntryPath(path); !checked) return checked;
  appendU64(path.size());
  bytes_.insert(bytes_.end(), path.begin(), path.end());
  appendU64(content.size());
  bytes_.insert(bytes_.end(), content.begin(), content.end());
  appendU64(mode);
  return {};
}

std::vector<std::uint8_t> ArchiveWriter::finish() && {
  bytes_.insert(bytes_.end(), kArchiveMagic.begin(), kArchiveMagic.end());
  return std::move(bytes_);
}

void ArchiveWriter::appendU64(std::uint64_t value) {
  for (int i = 0; i < 8; ++i) bytes_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace wexlo
