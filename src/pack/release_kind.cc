#include "pack/release_kind.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <vector>

#include "pack/files.h"
#include "pack/release.h"

namespace wexlo {

namespace fs = std::filesystem;

namespace {

constexpr std::uintmax_t kMaxInspectedFile = 1 << 20;

bool isRegularFile(const fs::path& path) {
  std::error_code error;
  return fs::is_regular_file(fs::symlink_status(path, error));
}

std::optional<std::string> readSmallFile(const fs::path& path) {
  std::error_code error;
  if (!isRegularFile(path) || fs::file_size(path, error) > kMaxInspectedFile || error) return {};
  auto bytes = readWholeFile(path, "release file", Links::Refuse);
  if (!bytes) return {};
  return std::string(bytes->begin(), bytes->end());
}

// The text of releases/<version>/<name>.rel, else of the one .rel there that
// names itself.
std::optional<std::string> relFileText(const fs::path& versionDirectory, std::string_view appName) {
  if (auto text = readSmallFile(versionDirectory / (std::string(appName) + ".rel"))) return text;
  std::vector<std::string> found;
  std::error_code error;
  for (fs::directory_iterator it(versionDirectory, error), end; !error && it != end;
       it.increment(error)) {
    if (it->path().extension() != ".rel") continue;
    auto text = readSmallFile(it->path());
    auto name = text ? releaseNameFromRelFile(*text) : std::nullopt;
    if (name && *name + ".rel" == it->path().filename().string()) found.push_back(*text);
  }
  if (error || found.size() != 1) return {};
  return found.front();
}

bool isAtomCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '@';
}

}  // namespace

bool relFileNamesApplication(std::string_view text, std::string_view application) {
  // An application is the first element of a tuple, {Name, "Vsn"...}; the
  // release's own name and every version are strings, never atoms.
  bool afterBrace = false;
  for (std::size_t at = 0; at < text.size(); ++at) {
    const char c = text[at];
    if (c == '%') {
      at = std::min(text.find('\n', at), text.size());
    } else if (std::isspace(static_cast<unsigned char>(c))) {
      continue;
    } else if (c == '"' || c == '\'') {
      std::string token;
      for (++at; at < text.size() && text[at] != c; ++at) {
        if (text[at] == '\\' && at + 1 < text.size()) ++at;
        token += text[at];
      }
      if (c == '\'' && afterBrace && token == application) return true;
      afterBrace = false;
    } else if (std::islower(static_cast<unsigned char>(c))) {
      std::size_t end = at;
      while (end < text.size() && isAtomCharacter(text[end])) ++end;
      if (afterBrace && text.substr(at, end - at) == application) return true;
      at = end - 1;
      afterBrace = false;
    } else {
      afterBrace = c == '{';
    }
  }
  return false;
}

ReleaseKind readReleaseKind(const fs::path& directory, std::string_view appName,
                            std::string_view appVersion) {
  ReleaseKind kind;
  if (auto rel = relFileText(directory / "releases" / appVersion, appName)) {
    kind.elixir = relFileNamesApplication(*rel, "elixir");
  }
  // Mix writes neither RELEASES nor a start script that reads relx's variables.
  const auto script = readSmallFile(directory / "bin" / appName);
  if (!kind.elixir || isRegularFile(directory / "releases" / "RELEASES") ||
      (script && script->find("RELX_") != std::string::npos)) {
    kind.tool = ReleaseTool::Rebar3;
  }
  return kind;
}

std::string missingRuntimeAdvice(ReleaseTool tool, std::string_view ertsVersion) {
  if (tool == ReleaseTool::Rebar3) {
    return "build it with `rebar3 as prod release` (or set `{include_erts, true}` and "
           "`{dev_mode, false}` in rebar.config's `relx` section)";
  }
  return "set `include_erts: true` in the release's config in mix.exs (or give the path of a "
         "runtime, `include_erts: \"/path/to/erts-" +
         std::string(ertsVersion) + "\"`)";
}

std::string symbolicLinkAdvice(ReleaseTool tool) {
  if (tool == ReleaseTool::Mix) return "";
  return "; rebar3's development mode links a release's files to the build: build it with "
         "`rebar3 as prod release` (or set `{dev_mode, false}` and `{include_erts, true}` in "
         "rebar.config's `relx` section)";
}

PackResult<void> checkPlainConfigFiles(const fs::path& directory, std::string_view appVersion) {
  const fs::path versionDirectory = directory / "releases" / appVersion;
  std::vector<std::string> templates;
  for (std::string name : {"sys.config", "vm.args"}) {
    std::error_code error;
    if (fs::exists(fs::symlink_status(versionDirectory / (name + ".src"), error)) &&
        !fs::exists(fs::symlink_status(versionDirectory / name, error))) {
      templates.push_back(name);
    }
  }
  if (templates.empty()) return {};
  const std::string plain = templates.size() == 1 ? templates[0] : "sys.config and vm.args";
  const std::string sources =
      templates.size() == 1 ? templates[0] + ".src" : "sys.config.src and vm.args.src";
  return packError(
      quoted(versionDirectory) + " holds " + sources + " but no " + plain +
      ": the release's start script renders " + (templates.size() == 1 ? "it" : "them") +
      " at each start, and a packed executable does not run that script; ship " +
      "plain files (`{sys_config, \"config/sys.config\"}`, `{vm_args, " +
      "\"config/vm.args\"}` in rebar.config's `relx` section) and read the " +
      "environment at run time (`application:get_env/3` with defaults, or a " + "config provider)");
}

}  // namespace wexlo
