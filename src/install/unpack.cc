#include "install/unpack.h"

#include <string>
#include <unordered_set>
#include <vector>

#include "format/archive_reader.h"
#include "platform/path.h"
#include "platform/workers.h"

namespace wexlo {

namespace {

// Windows and macOS compare names without regard to case, so two entries
// that differ only in ASCII case are one file there.
std::string foldCase(std::string_view path) {
  std::string folded(path);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

// The paths this unpack has made, to create each directory once and to
// notice entries that reuse a path: those must be written in archive order.
class MadePaths {
 public:
  // Whether writing `path` could meet an earlier entry's file or directory,
  // on a file system that ignores case too.
  bool overlaps(std::string_view path) const {
    const std::string folded = foldCase(path);
    if (foldedFiles_.contains(folded) || foldedDirectories_.contains(folded)) return true;
    for (auto slash = folded.find('/'); slash != std::string::npos;
         slash = folded.find('/', slash + 1)) {
      if (foldedFiles_.contains(folded.substr(0, slash))) return true;
    }
    return false;
  }

  // Creates each directory above the entry that is not made yet, from the
  // top; directories that exist already are fine.
  Status makeParents(FileSystem& fs, std::string_view installDirectory, std::string_view path) {
    for (auto slash = path.find('/'); slash != std::string_view::npos;
         slash = path.find('/', slash + 1)) {
      std::string directory(path.substr(0, slash));
      if (directories_.contains(directory)) continue;
      if (auto made = fs.makeDirectory(joinPath({installDirectory, directory}));
          !made && made.error() != Failure::PathAlreadyExists) {
        return made;
      }
      foldedDirectories_.insert(foldCase(directory));
      directories_.insert(std::move(directory));
    }
    return {};
  }

  void addFile(std::string_view path) { foldedFiles_.insert(foldCase(path)); }

 private:
  std::unordered_set<std::string> directories_;
  std::unordered_set<std::string> foldedDirectories_;
  std::unordered_set<std::string> foldedFiles_;
};

Status writeEntry(FileSystem& fs, std::string_view installDirectory, const ArchiveEntry& entry,
                  const EntryWrittenFn& written) {
  auto done = fs.writeFile(joinPath({installDirectory, entry.path}), entry.content,
                           static_cast<std::uint32_t>(entry.mode & 0777));
  if (done && written) written(entry.content);
  return done;
}

// Writes the entries on up to `threads` threads; the failure of the first
// failing one in order, if any.
Status writeAll(FileSystem& fs, std::string_view installDirectory,
                const std::vector<ArchiveEntry>& entries, unsigned threads,
                const EntryWrittenFn& written) {
  OrderedItems<Failure> files(entries.size());
  runOnWorkers(workerCount(threads, entries.size()), [&] {
    while (auto index = files.take()) {
      auto done = writeEntry(fs, installDirectory, entries[*index], written);
      if (!done) files.fail(*index, done.error());
    }
  });
  if (auto failed = files.firstFailure()) return fail(*failed);
  return {};
}

}  // namespace

Status unpackArchive(FileSystem& fs, std::span<const std::uint8_t> archive,
                     std::string_view installDirectory, unsigned threads,
                     const EntryWrittenFn& written) {
  auto reader = ArchiveReader::open(archive);
  if (!reader) return fail(reader.error());
  // Directories are few and each must exist before its files, so they are
  // made on this thread as the walk meets them; the files, the bulk of the
  // work, are gathered and shared out. Should an entry reuse an earlier
  // entry's path, which the packer never writes, the gathered ones are
  // written first and the rest one by one in order, so the last one wins as
  // it always did.
  MadePaths made;
  std::vector<ArchiveEntry> gathered;
  bool inOrder = false;
  Status end;
  while (true) {
    auto next = reader->next();
    if (!next) {
      end = fail(next.error());
      break;
    }
    if (!*next) break;
    const ArchiveEntry& entry = **next;
    if (end = checkEntryPath(entry.path); !end) break;
    if (!inOrder && made.overlaps(entry.path)) {
      if (auto done = writeAll(fs, installDirectory, gathered, threads, written); !done) {
        return done;
      }
      gathered.clear();
      inOrder = true;
    }
    if (end = made.makeParents(fs, installDirectory, entry.path); !end) break;
    made.addFile(entry.path);
    if (!inOrder) {
      gathered.push_back(entry);
    } else if (end = writeEntry(fs, installDirectory, entry, written); !end) {
      break;
    }
  }
  // The gathered entries all come before the one that ended the walk.
  if (auto done = writeAll(fs, installDirectory, gathered, threads, written); !done) return done;
  return end;
}

}  // namespace wexlo
