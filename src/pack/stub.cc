#include "pack/stub.h"

#include <algorithm>

#include "format/footer.h"
#include "pack/files.h"

namespace wexlo {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kStubPrefix = "wexlo-stub-";

// "wexlo-stub-linux-x86_64", "wexlo-stub-linux-aarch64", "wexlo-stub-windows-x86_64.exe".
std::string stubFileName(std::string_view target) {
  std::string name = std::string(kStubPrefix) + std::string(target);
  if (target == kWindowsTarget) name += ".exe";
  return name;
}

bool isRegularFile(const fs::path& path) {
  std::error_code error;
  return fs::is_regular_file(path, error);
}

std::string quotedList(const std::vector<fs::path>& paths) {
  std::string text;
  for (const auto& path : paths) text += (text.empty() ? "" : " or ") + quoted(path);
  return text;
}

PackResult<fs::path> chooseStubFile(const StubChoice& choice) {
  if (choice.path) return *choice.path;
  const std::string target = choice.target.value_or(std::string(kLinuxTarget));
  const std::string name = stubFileName(target);
  for (const auto& directory : choice.directories) {
    if (isRegularFile(directory / name)) return directory / name;
  }
  return packError("no stub for " + target + ": " + name + " is not in " +
                   quotedList(choice.directories) + " (install it there, or give --stub FILE)");
}

}  // namespace

fs::path packerDirectory() {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  return error ? fs::path(".") : self.parent_path();
}

std::vector<fs::path> stubDirectories(const fs::path& packerDirectory) {
  return {packerDirectory, (packerDirectory / ".." / WEXLO_STUB_INSTALL_DIR).lexically_normal()};
}

std::vector<InstalledStub> installedStubs(const std::vector<fs::path>& directories) {
  std::vector<InstalledStub> found;
  for (const auto& directory : directories) {
    std::error_code error;
    for (fs::directory_iterator it(directory, error), end; !error && it != end;
         it.increment(error)) {
      std::string target = it->path().filename().string();
      if (!target.starts_with(kStubPrefix) || !isRegularFile(it->path())) continue;
      target.erase(0, kStubPrefix.size());
      if (target.ends_with(".exe")) target.resize(target.size() - 4);
      const bool known = std::any_of(found.begin(), found.end(),
                                     [&](const InstalledStub& s) { return s.target == target; });
      if (!known) found.push_back({target, it->path()});
    }
  }
  std::sort(found.begin(), found.end(),
            [](const InstalledStub& a, const InstalledStub& b) { return a.target < b.target; });
  return found;
}

PackResult<Stub> loadStub(const StubChoice& choice) {
  if (choice.target && !findTarget(*choice.target)) {
    return packError("unknown target '" + *choice.target + "' (" + targetNames() + ")");
  }
  auto chosen = chooseStubFile(choice);
  if (!chosen) return std::unexpected(chosen.error());
  const fs::path& path = *chosen;
  auto bytes = readWholeFile(path, "stub");
  if (!bytes) return std::unexpected(bytes.error());

  auto info = findStubMarker(*bytes);
  if (!info)
    return packError("'" + path.string() + "' is not a launcher stub (it has no stub marker)");
  if (choice.target && info->target != *choice.target) {
    return packError("stub '" + path.string() + "' is for " + info->target + ", not " +
                     *choice.target);
  }
  if (!findTarget(info->target)) {
    return packError("stub '" + path.string() + "' is for an unknown target '" + info->target +
                     "'");
  }
  if (locateEmbeddedBuild(*bytes)) {
    return packError("stub '" + path.string() + "' already carries a release");
  }
  if (endOfAppendedData(*bytes) != bytes->size()) {
    return packError("stub '" + path.string() +
                     "' is signed; sign the launcher after packing instead");
  }
  return Stub{path, std::move(*bytes), std::move(*info)};
}

}  // namespace wexlo
