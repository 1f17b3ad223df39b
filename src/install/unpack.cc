#include "install/unpack.h"

#include <string>
#include <unordered_set>

#include "format/archive_reader.h"
#include "format/archive_stream.h"
#include "platform/path.h"

namespace wexlo {

namespace {

std::unexpected<DecodeFailure> failWith(Failure failure) {
  return std::unexpected(DecodeFailure{failure, 0, {}});
}

// The directories this unpack has made, to create each one once.
class MadeDirectories {
 public:
  // Creates each directory above the entry that is not made yet, from the
  // top; directories that exist already are fine.
  Status makeParents(FileSystem& fs, std::string_view installDirectory, std::string_view path) {
    for (auto slash = path.find('/'); slash != std::string_view::npos;
         slash = path.find('/', slash + 1)) {
      std::string directory(path.substr(0, slash));
      if (made_.contains(directory)) continue;
      if (auto made = fs.makeDirectory(joinPath({installDirectory, directory}));
          !made && made.error() != Failure::PathAlreadyExists) {
        return made;
      }
      made_.insert(std::move(directory));
    }
    return {};
  }

 private:
  std::unordered_set<std::string> made_;
};

// Writes the entry's content as it passes, then gives the file its mode.
std::expected<void, DecodeFailure> writeEntry(FileSystem& fs, ArchiveStream& archive,
                                              const std::string& target) {
  auto file = fs.createFile(target);
  if (!file) return failWith(file.error());
  while (true) {
    auto piece = archive.nextPiece();
    if (!piece) return std::unexpected(piece.error());
    if (piece->empty()) break;
    if (auto written = (*file)->write(*piece); !written) return failWith(written.error());
  }
  auto mode = archive.mode();
  if (!mode) return std::unexpected(mode.error());
  if (auto done = (*file)->finish(static_cast<std::uint32_t>(*mode & 0777)); !done) {
    return failWith(done.error());
  }
  return {};
}

}  // namespace

std::expected<void, DecodeFailure> unpackStream(FileSystem& fs, ByteBlocks& blocks,
                                                std::uint64_t size,
                                                std::string_view installDirectory) {
  ArchiveStream archive(blocks, size);
  if (auto opened = archive.open(); !opened) return opened;
  MadeDirectories made;
  while (true) {
    auto entry = archive.nextEntry();
    if (!entry) return std::unexpected(entry.error());
    if (!*entry) return {};
    if (auto checked = checkEntryPath((*entry)->path); !checked) return failWith(checked.error());
    if (auto parents = made.makeParents(fs, installDirectory, (*entry)->path); !parents) {
      return failWith(parents.error());
    }
    // An entry that reuses an earlier entry's path, which the packer never
    // writes, replaces it: the last one wins.
    if (auto written = writeEntry(fs, archive, joinPath({installDirectory, (*entry)->path}));
        !written) {
      return written;
    }
  }
}

Status unpackArchive(FileSystem& fs, std::span<const std::uint8_t> archive,
                     std::string_view installDirectory) {
  WholeBytes whole(archive);
  if (auto done = unpackStream(fs, whole, archive.size(), installDirectory); !done) {
    return fail(done.error().failure);
  }
  return {};
}

}  // namespace wexlo
