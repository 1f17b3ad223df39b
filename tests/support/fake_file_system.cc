#include "support/fake_file_system.h"

#include <cstring>
#include <optional>

namespace wexlo::testing {

namespace {

// The names `calls` records, in the order of FakeFileSystem::Op.
std::string_view opName(FakeFileSystem::Op operation) {
  static constexpr std::string_view kNames[] = {
      "makePath",    "makeDirectory", "checkExists", "writeFile",       "openForReading", "readAll",
      "mapReadOnly", "listDirectory", "deleteTree",  "flushFileSystem", "rename",         "lock",
  };
  return kNames[static_cast<std::size_t>(operation)];
}

class FakeReadableFile : public ReadableFile {
 public:
  FakeReadableFile(std::string content, std::optional<Failure> readFailure)
      : content_(std::move(content)), readFailure_(readFailure) {}
  Result<std::string> readAll(std::size_t limit) override {
    if (readFailure_) return fail(*readFailure_);
    if (content_.size() >= limit) return fail(Failure::StreamTooLong);
    return content_;
  }

 private:
  std::string content_;
  std::optional<Failure> readFailure_;
};

class FakeMappedFile : public MappedFile {
 public:
  explicit FakeMappedFile(std::string content) : content_(std::move(content)) {}
  std::span<const std::uint8_t> bytes() const override {
    return {reinterpret_cast<const std::uint8_t*>(content_.data()), content_.size()};
  }

 private:
  std::string content_;
};

// Registers itself as held while it lives.
class FakeLock : public FileLock {
 public:
  using Registry = std::map<int, std::pair<std::string, std::string>>;
  FakeLock(std::shared_ptr<Registry> held, std::string path, LockMode mode)
      : held_(std::move(held)), id_(held_->empty() ? 0 : held_->rbegin()->first + 1) {
    (*held_)[id_] = {std::move(path), mode == LockMode::Shared ? "shared" : "exclusive"};
  }
  ~FakeLock() override { held_->erase(id_); }
  Status keepAcrossHandOver() override {
    (*held_)[id_].second += " kept";
    return {};
  }

 private:
  std::shared_ptr<Registry> held_;
  int id_;
};

}  // namespace

std::string FakeFileSystem::normalize(std::string_view path) {
  std::string out;
  std::size_t i = 0;
  while (i < path.size()) {
    while (i < path.size() && path[i] == '/') ++i;
    std::size_t start = i;
    while (i < path.size() && path[i] != '/') ++i;
    if (i > start) {
      if (!out.empty()) out += '/';
      out.append(path.substr(start, i - start));
    }
  }
  return out;
}

std::string FakeFileSystem::parentOf(const std::string& normalized) {
  auto slash = normalized.rfind('/');
  return slash == std::string::npos ? std::string() : normalized.substr(0, slash);
}

void FakeFileSystem::addDirectory(std::string_view path) {
  std::string p = normalize(path);
  while (!p.empty() && !nodes_.contains(p)) {
    nodes_[p] = Node{EntryKind::Directory, "", 0755};
    p = parentOf(p);
  }
}

void FakeFileSystem::addFile(std::string_view path, std::string_view content, std::uint32_t mode) {
  std::string p = normalize(path);
  addDirectory(parentOf(p));
  nodes_[p] = Node{EntryKind::File, std::string(content), mode};
}

void FakeFileSystem::addLink(std::string_view path, std::string_view target) {
  std::string p = normalize(path);
  addDirectory(parentOf(p));
  nodes_[p] = Node{EntryKind::Link, std::string(target), 0777};
}

void FakeFileSystem::failOn(Op operation, std::string_view path, Failure failure) {
  failures_[{operation, normalize(path)}] = failure;
}

Status FakeFileSystem::injected(Op operation, std::string_view path) {
  calls.push_back(std::string(opName(operation)) + " " + std::string(path));
  auto it = failures_.find({operation, normalize(path)});
  if (it != failures_.end()) return fail(it->second);
  return {};
}

bool FakeFileSystem::exists(std::string_view path) const {
  std::string p = normalize(path);
  return p.empty() || nodes_.contains(p);
}

bool FakeFileSystem::isDirectory(std::string_view path) const {
  std::string p = normalize(path);
  if (p.empty()) return true;
  auto it = nodes_.find(p);
  return it != nodes_.end() && it->second.kind == EntryKind::Directory;
}

const FakeFileSystem::Node* FakeFileSystem::node(std::string_view path) const {
  auto it = nodes_.find(normalize(path));
  return it == nodes_.end() ? nullptr : &it->second;
}

std::string FakeFileSystem::content(std::string_view path) const {
  const Node* n = node(path);
  return n ? n->content : std::string();
}

std::vector<std::string> FakeFileSystem::tree(std::string_view root) const {
  std::string r = normalize(root);
  std::vector<std::string> out;
  for (const auto& [path, n] : nodes_) {
    if (!r.empty() &&
        (path.size() <= r.size() || path.compare(0, r.size(), r) != 0 || path[r.size()] != '/')) {
      continue;
    }
    std::string rel = r.empty() ? path : path.substr(r.size() + 1);
    out.push_back(n.kind == EntryKind::Directory ? rel + "/" : rel);
  }
  return out;
}

Status FakeFileSystem::makePath(std::string_view path) {
  if (auto s = injected(Op::MakePath, path); !s) return s;
  std::string p = normalize(path);
  // Find the nearest existing ancestor, then create forward.
  std::vector<std::string> missing;
  for (std::string q = p; !q.empty(); q = parentOf(q)) {
    auto it = nodes_.find(q);
    if (it != nodes_.end()) {
      if (it->second.kind != EntryKind::Directory) return fail(Failure::NotDir);
      break;
    }
    missing.push_back(q);
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
    nodes_[*it] = Node{EntryKind::Directory, "", 0755};
  }
  return {};
}

Status FakeFileSystem::makeDirectory(std::string_view path) {
  if (auto s = injected(Op::MakeDirectory, path); !s) return s;
  std::string p = normalize(path);
  // A link in the directory's place is replaced; anything else stays.
  if (exists(p) && nodes_[p].kind != EntryKind::Link) return fail(Failure::PathAlreadyExists);
  if (!isDirectory(parentOf(p))) {
    return exists(parentOf(p)) ? fail(Failure::NotDir) : fail(Failure::FileNotFound);
  }
  nodes_[p] = Node{EntryKind::Directory, "", 0755};
  return {};
}

Status FakeFileSystem::checkExists(std::string_view path) {
  if (auto s = injected(Op::CheckExists, path); !s) return s;
  return exists(path) ? Status{} : fail(Failure::FileNotFound);
}

Status FakeFileSystem::writeFile(std::string_view path, std::span<const std::uint8_t> content,
                                 std::uint32_t mode) {
  std::lock_guard lock(writing_.mutex);
  if (auto s = injected(Op::WriteFile, path); !s) return s;
  std::string p = normalize(path);
  if (!isDirectory(parentOf(p))) return fail(Failure::FileNotFound);
  auto it = nodes_.find(p);
  if (it != nodes_.end() && it->second.kind == EntryKind::Directory) return fail(Failure::IsDir);
  nodes_[p] =
      Node{EntryKind::File,
           std::string(reinterpret_cast<const char*>(content.data()), content.size()), mode & 0777};
  return {};
}

namespace {

class FakeWritableFile : public WritableFile {
 public:
  explicit FakeWritableFile(FakeFileSystem::Node& node) : node_(node) {}
  Status write(std::span<const std::uint8_t> piece) override {
    node_.content.append(reinterpret_cast<const char*>(piece.data()), piece.size());
    return {};
  }
  Status finish(std::uint32_t mode) override {
    node_.mode = mode & 0777;
    return {};
  }

 private:
  FakeFileSystem::Node& node_;
};

}  // namespace

Result<std::unique_ptr<WritableFile>> FakeFileSystem::createFile(std::string_view path) {
  std::lock_guard lock(writing_.mutex);
  if (auto s = injected(Op::WriteFile, path); !s) return fail(s.error());
  std::string p = normalize(path);
  if (!isDirectory(parentOf(p))) return fail(Failure::FileNotFound);
  auto it = nodes_.find(p);
  if (it != nodes_.end() && it->second.kind == EntryKind::Directory) return fail(Failure::IsDir);
  Node& created = nodes_[p] = Node{EntryKind::File, {}, 0600};
  return std::make_unique<FakeWritableFile>(created);
}

Result<std::unique_ptr<ReadableFile>> FakeFileSystem::openForReading(std::string_view path) {
  if (auto s = injected(Op::OpenForReading, path); !s) return fail(s.error());
  const Node* n = node(path);
  if (!n) return fail(Failure::FileNotFound);
  if (n->kind == EntryKind::Directory) return fail(Failure::IsDir);
  std::optional<Failure> readFailure;
  if (auto it = failures_.find({Op::ReadAll, normalize(path)}); it != failures_.end()) {
    readFailure = it->second;
  }
  return std::make_unique<FakeReadableFile>(n->content, readFailure);
}

Result<std::unique_ptr<MappedFile>> FakeFileSystem::mapReadOnly(std::string_view path) {
  if (auto s = injected(Op::MapReadOnly, path); !s) return fail(s.error());
  const Node* n = node(path);
  if (!n) return fail(Failure::FileNotFound);
  return std::make_unique<FakeMappedFile>(n->content);
}

Result<std::vector<DirectoryEntry>> FakeFileSystem::listDirectory(std::string_view path) {
  if (auto s = injected(Op::ListDirectory, path); !s) return fail(s.error());
  std::string p = normalize(path);
  if (!exists(p)) return fail(Failure::FileNotFound);
  if (!isDirectory(p)) return fail(Failure::NotDir);
  std::vector<DirectoryEntry> entries;
  for (const auto& [child, n] : nodes_) {
    if (!child.empty() && parentOf(child) == p) {
      entries.push_back({p.empty() ? child : child.substr(p.size() + 1), n.kind});
    }
  }
  return entries;
}

Status FakeFileSystem::deleteTree(std::string_view path) {
  if (auto s = injected(Op::DeleteTree, path); !s) return s;
  std::string p = normalize(path);
  std::erase_if(nodes_, [&](const auto& item) {
    const std::string& child = item.first;
    return child == p || (child.size() > p.size() && child.compare(0, p.size(), p) == 0 &&
                          child[p.size()] == '/');
  });
  return {};
}

Status FakeFileSystem::flushFileSystem(std::string_view path) {
  return injected(Op::FlushFileSystem, path);
}

Status FakeFileSystem::rename(std::string_view from, std::string_view to) {
  if (auto s = injected(Op::Rename, from); !s) return s;
  std::string source = normalize(from);
  std::string target = normalize(to);
  locksAtRenames.push_back(heldLocks());
  if (!nodes_.contains(source)) return fail(Failure::FileNotFound);
  if (!isDirectory(parentOf(target))) return fail(Failure::FileNotFound);
  if (isDirectory(target)) return fail(Failure::PathAlreadyExists);
  std::map<std::string, Node> moved;
  std::erase_if(nodes_, [&](const auto& item) {
    const std::string& path = item.first;
    if (path != source && !path.starts_with(source + "/")) return false;
    moved[target + path.substr(source.size())] = item.second;
    return true;
  });
  for (auto& [path, node] : moved) nodes_[path] = std::move(node);
  return {};
}

void FakeFileSystem::holdLockElsewhere(std::string_view path, LockMode mode) {
  elsewhere_[normalize(path)] = mode;
}

std::map<std::string, std::string> FakeFileSystem::heldLocks() const {
  std::map<std::string, std::string> locks;
  for (const auto& [id, lock] : *held_) locks[lock.first] = lock.second;
  return locks;
}

Result<std::unique_ptr<FileLock>> FakeFileSystem::lock(std::string_view path, LockMode mode) {
  if (auto s = injected(Op::Lock, path); !s) return fail(s.error());
  std::string p = normalize(path);
  if (!isDirectory(parentOf(p))) return fail(Failure::FileNotFound);
  if (!nodes_.contains(p)) nodes_[p] = Node{EntryKind::File, "", 0644};
  // Waiting for a conflicting lock ends when its holder lets go; shared
  // locks stay side by side.
  auto other = elsewhere_.find(p);
  if (other != elsewhere_.end() &&
      (mode == LockMode::Exclusive || other->second == LockMode::Exclusive)) {
    elsewhere_.erase(other);
  }
  return std::make_unique<FakeLock>(held_, p, mode);
}

Result<std::unique_ptr<FileLock>> FakeFileSystem::tryLock(std::string_view path, LockMode mode) {
  auto other = elsewhere_.find(normalize(path));
  if (other != elsewhere_.end() &&
      (mode == LockMode::Exclusive || other->second == LockMode::Exclusive)) {
    calls.push_back("tryLock " + std::string(path));
    return fail(Failure::FileBusy);
  }
  // This process's own locks conflict as well, as flock() and LockFileEx()
  // locks taken through another open file do.
  for (const auto& [id, held] : *held_) {
    if (held.first == normalize(path) &&
        (mode == LockMode::Exclusive || held.second.starts_with("exclusive"))) {
      calls.push_back("tryLock " + std::string(path));
      return fail(Failure::FileBusy);
    }
  }
  return lock(path, mode);
}

Result<bool> FakeFileSystem::isLockedExclusively(std::string_view path) {
  calls.push_back("isLockedExclusively " + std::string(path));
  auto other = elsewhere_.find(normalize(path));
  return other != elsewhere_.end() && other->second == LockMode::Exclusive;
}

Result<bool> FakeFileSystem::deleteOwnFile(std::string_view path) {
  calls.push_back("deleteOwnFile " + std::string(path));
  if (auto it = failures_.find({Op::DeleteTree, normalize(path)}); it != failures_.end()) {
    return fail(it->second);
  }
  auto found = nodes_.find(normalize(path));
  if (found == nodes_.end() || found->second.kind == EntryKind::Directory ||
      found->second.othersOwn) {
    return false;
  }
  nodes_.erase(found);
  return true;
}

void FakeFileSystem::giveToAnotherUser(std::string_view path) {
  nodes_.at(normalize(path)).othersOwn = true;
}

}  // namespace wexlo::testing
