#include "pack/release.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <iterator>

#include "format/archive_reader.h"
#include "pack/build_names.h"
#include "pack/files.h"
#include "pack/release_hints.h"

namespace wexlo {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kMarkerPath = "lib/.wexlo";
constexpr std::size_t kMaxReleaseTextFile = 1 << 20;

// Archive order of the top-level directories; anything else is left out.
enum class Group { Lib, Erts, Releases, Bin, None };

Group groupOf(std::string_view name) {
  if (name == "lib") return Group::Lib;
  if (name.starts_with("erts-")) return Group::Erts;
  if (name == "releases") return Group::Releases;
  if (name == "bin") return Group::Bin;
  return Group::None;
}

PackResult<std::string> readTextFile(const fs::path& path) {
  auto bytes = readWholeFile(path, "release file", Links::Refuse);
  if (!bytes) return std::unexpected(bytes.error());
  if (bytes->size() > kMaxReleaseTextFile) return packError(quoted(path) + " is too large");
  return std::string(bytes->begin(), bytes->end());
}

PackResult<std::string> appNameFromRelFiles(const fs::path& versionDirectory) {
  std::error_code error;
  std::vector<std::string> names;
  for (fs::directory_iterator it(versionDirectory, error), end; !error && it != end;
       it.increment(error)) {
    const fs::path& path = it->path();
    if (path.extension() != ".rel" || !it->is_regular_file(error)) continue;
    auto text = readTextFile(path);
    if (!text) return std::unexpected(text.error());
    auto name = releaseNameFromRelFile(*text);
    if (name && *name + ".rel" == path.filename().string()) names.push_back(*name);
  }
  if (error) return packError("cannot read " + quoted(versionDirectory) + ": " + error.message());
  if (names.size() != 1) {
    return packError("cannot tell the application name: " + quoted(versionDirectory) +
                     (names.empty() ? " holds no <name>.rel naming release <name>"
                                    : " holds several .rel files naming themselves") +
                     "; give --app-name");
  }
  return names.front();
}

std::uint64_t normalisedMode(fs::perms permissions) {
  // Only the owner's execute bit survives, so launchers do not depend on the
  // umask or checkout the release was built with.
  return (permissions & fs::perms::owner_exec) != fs::perms::none ? 0100755 : 0100644;
}

std::unexpected<PackError> linkError(const fs::path& path, ReleaseTool tool) {
  return packError("release holds a symbolic link: " + quoted(path) + symbolicLinkAdvice(tool));
}

PackResult<void> collectFiles(const fs::path& root, const std::string& relative, ReleaseTool tool,
                              std::vector<ReleaseFile>& files) {
  const fs::path directory = root / relative;
  std::error_code error;
  for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
    const fs::path& path = it->path();
    const std::string entryPath = relative + "/" + path.filename().string();
    auto status = it->symlink_status(error);
    if (error) break;
    if (fs::is_symlink(status)) return linkError(path, tool);
    if (fs::is_directory(status)) {
      if (auto walked = collectFiles(root, entryPath, tool, files); !walked) return walked;
      continue;
    }
    if (!fs::is_regular_file(status))
      return packError("release holds a special file: " + quoted(path));
    if (!checkEntryPath(entryPath))
      return packError("release holds a file name a launcher cannot carry: " + quoted(path));
    const std::uint64_t size = it->file_size(error);
    if (error) break;
    files.push_back({entryPath, path, normalisedMode(status.permissions()), size, {}});
  }
  if (error) return packError("cannot read " + quoted(directory) + ": " + error.message());
  return {};
}

bool isDirectory(const fs::path& path) {
  std::error_code error;
  return fs::is_directory(fs::symlink_status(path, error));
}

}  // namespace

std::optional<std::string> releaseNameFromRelFile(std::string_view text) {
  std::size_t at = 0;
  auto skipBlanks = [&] {
    while (at < text.size()) {
      if (std::isspace(static_cast<unsigned char>(text[at]))) {
        ++at;
      } else if (text[at] == '%') {  // comment to the end of the line
        while (at < text.size() && text[at] != '\n') ++at;
      } else {
        break;
      }
    }
  };
  auto expect = [&](std::string_view token) {
    skipBlanks();
    if (text.substr(at, token.size()) != token) return false;
    at += token.size();
    return true;
  };
  if (!expect("{") || !expect("release") || !expect(",") || !expect("{") || !expect("\"")) {
    return std::nullopt;
  }
  const std::size_t close = text.find('"', at);
  if (close == std::string_view::npos) return std::nullopt;
  std::string name(text.substr(at, close - at));
  if (name.empty() || name.find('\\') != std::string::npos) return std::nullopt;
  return name;
}

PackResult<Release> readRelease(const fs::path& directory, const ReleaseOverrides& overrides) {
  std::error_code error;
  auto rootStatus = fs::status(directory, error);
  if (!fs::exists(rootStatus))
    return packError("release directory not found: " + quoted(directory));
  if (!fs::is_directory(rootStatus)) return packError("not a directory: " + quoted(directory));
  if (!isDirectory(directory / "releases")) return std::unexpected(notAReleaseError(directory));

  auto startErlData = readTextFile(directory / "releases" / "start_erl.data");
  if (!startErlData) return std::unexpected(startErlData.error());
  const auto versions = splitWords(*startErlData);
  if (versions.size() != 2) {
    return packError(quoted(directory / "releases" / "start_erl.data") +
                     " does not read \"ERTS_VSN APP_VSN\"");
  }

  Release release;
  release.ertsVersion = overrides.ertsVersion.value_or(versions[0]);
  release.appVersion = overrides.appVersion.value_or(versions[1]);
  if (overrides.appName) {
    release.appName = *overrides.appName;
  } else {
    if (auto checked = checkDirectoryName("release version", versions[1]); !checked) {
      return std::unexpected(checked.error());
    }
    auto name = appNameFromRelFiles(directory / "releases" / versions[1]);
    if (!name) return std::unexpected(name.error());
    release.appName = *name;
  }
  if (auto checked = checkBuildNames(release.appName, release.appVersion, release.ertsVersion);
      !checked) {
    return std::unexpected(checked.error());
  }
  release.kind = readReleaseKind(directory, release.appName, release.appVersion);
  if (auto plain = checkPlainConfigFiles(directory, release.appVersion); !plain) {
    return std::unexpected(plain.error());
  }
  // The launcher runs erts-<V>/bin/erl and boots releases/<V>/start.
  if (!isDirectory(directory / ("erts-" + release.ertsVersion))) {
    return packError("release has no runtime: no directory erts-" + release.ertsVersion + " in " +
                     quoted(directory) + "; " +
                     missingRuntimeAdvice(release.kind.tool, release.ertsVersion));
  }
  if (!isDirectory(directory / "releases" / release.appVersion)) {
    return packError("release has no directory releases/" + release.appVersion + " in " +
                     quoted(directory));
  }

  std::array<std::vector<ReleaseFile>, 4> groups;
  for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    auto status = it->symlink_status(error);
    if (error) break;
    if (fs::is_symlink(status)) return linkError(it->path(), release.kind.tool);
    const Group group = groupOf(name);
    if (group == Group::None) {
      if (!fs::is_directory(status) && !fs::is_regular_file(status)) {
        return packError("release holds a special file: " + quoted(it->path()));
      }
      release.leftOut.push_back(name);
      continue;
    }
    if (!fs::is_directory(status)) return packError(quoted(it->path()) + " is not a directory");
    auto& files = groups[static_cast<std::size_t>(group)];
    if (auto walked = collectFiles(directory, name, release.kind.tool, files); !walked)
      return std::unexpected(walked.error());
  }
  if (error) return packError("cannot read " + quoted(directory) + ": " + error.message());

  // Every launcher carries the marker, whether or not the release has it.
  auto& lib = groups[static_cast<std::size_t>(Group::Lib)];
  if (std::none_of(lib.begin(), lib.end(),
                   [](const ReleaseFile& f) { return f.path == kMarkerPath; })) {
    lib.push_back({std::string(kMarkerPath), {}, 0100644, 0, {}});
  }
  for (auto& files : groups) {
    std::sort(files.begin(), files.end(),
              [](const ReleaseFile& a, const ReleaseFile& b) { return a.path < b.path; });
    std::move(files.begin(), files.end(), std::back_inserter(release.files));
  }
  std::sort(release.leftOut.begin(), release.leftOut.end());
  return release;
}

}  // namespace wexlo
