#include "format/archive_writer.h"

namespace wexlo {

namespace {

void appendU64(std::vector<std::uint8_t>& bytes, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

}  // namespace

Result<std::vector<std::uint8_t>> archiveEntryHead(std::string_view path,
                                                   std::uint64_t contentSize) {
  if (auto checked = checkEntryPath(path); !checked) return fail(checked.error());
  std::vector<std::uint8_t> head;
  head.reserve(16 + path.size());
  appendU64(head, path.size());
  head.insert(head.end(), path.begin(), path.end());
  appendU64(head, contentSize);
  return head;
}

std::array<std::uint8_t, 8> archiveEntryTail(std::uint64_t mode) {
  std::array<std::uint8_t, 8> tail{};
  for (std::size_t i = 0; i < tail.size(); ++i)
    tail[i] = static_cast<std::uint8_t>(mode >> (8 * i));
  return tail;
}

ArchiveWriter::ArchiveWriter(std::size_t expectedSize) {
  bytes_.reserve(std::max<std::size_t>(expectedSize, kArchiveOverhead));
  bytes_.insert(bytes_.end(), kArchiveMagic.begin(), kArchiveMagic.end());
}

Status ArchiveWriter::add(std::string_view path, std::span<const std::uint8_t> content,
                          std::uint64_t mode) {
  auto head = archiveEntryHead(path, content.size());
  if (!head) return fail(head.error());
  const auto tail = archiveEntryTail(mode);
  bytes_.insert(bytes_.end(), head->begin(), head->end());
  bytes_.insert(bytes_.end(), content.begin(), content.end());
  bytes_.insert(bytes_.end(), tail.begin(), tail.end());
  return {};
}

std::vector<std::uint8_t> ArchiveWriter::finish() && {
  bytes_.insert(bytes_.end(), kArchiveMagic.begin(), kArchiveMagic.end());
  return std::move(bytes_);
}

}  // namespace wexlo
