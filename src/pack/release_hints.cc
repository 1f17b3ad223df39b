#include "pack/release_hints.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "pack/files.h"

namespace wexlo {

namespace fs = std::filesystem;

namespace {

bool isNameCharacter(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

// The subdirectories that are releases (they have releases/start_erl.data),
// sorted by name.
std::vector<std::string> releasesIn(const fs::path& directory) {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
    std::error_code ignored;
    if (fs::is_regular_file(it->path() / "releases" / "start_erl.data", ignored)) {
      names.push_back(it->path().filename().string());
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

// "a", "a and b", "a, b and c".
std::string listed(const std::vector<std::string>& names) {
  std::string text;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text += i + 1 == names.size() ? " and " : ", ";
    text += names[i];
  }
  return text;
}

}  // namespace

std::optional<std::string> appNameFromMixProject(std::string_view mixExs) {
  for (std::size_t at = mixExs.find("app:"); at != std::string_view::npos;
       at = mixExs.find("app:", at + 1)) {
    if (at > 0 && isNameCharacter(mixExs[at - 1])) continue;  // otp_app:, myapp:
    std::size_t name = at + 4;
    while (name < mixExs.size() && std::isspace(static_cast<unsigned char>(mixExs[name]))) ++name;
    if (name >= mixExs.size() || mixExs[name] != ':') continue;
    std::size_t end = ++name;
    while (end < mixExs.size() && isNameCharacter(mixExs[end])) ++end;
    if (end > name && !std::isdigit(static_cast<unsigned char>(mixExs[name]))) {
      return std::string(mixExs.substr(name, end - name));
    }
  }
  return std::nullopt;
}

std::optional<std::string> releaseNameFromRebarConfig(std::string_view rebarConfig) {
  // {release, {Name, "Vsn"}, [...]} in the relx section.
  for (std::size_t at = rebarConfig.find("{release,"); at != std::string_view::npos;
       at = rebarConfig.find("{release,", at + 1)) {
    std::size_t name = rebarConfig.find_first_not_of(" \t\r\n", at + 9);
    if (name == std::string_view::npos || rebarConfig[name] != '{') continue;
    name = rebarConfig.find_first_not_of(" \t\r\n", name + 1);
    std::size_t end = name;
    while (end < rebarConfig.size() && isNameCharacter(rebarConfig[end])) ++end;
    if (end > name && std::islower(static_cast<unsigned char>(rebarConfig[name]))) {
      return std::string(rebarConfig.substr(name, end - name));
    }
  }
  return std::nullopt;
}

PackError notAReleaseError(const fs::path& directory) {
  std::error_code error;
  if (fs::is_regular_file(directory / "mix.exs", error)) {
    auto text = readWholeFile(directory / "mix.exs", "mix.exs");
    std::optional<std::string> app;
    if (text)
      app = appNameFromMixProject({reinterpret_cast<const char*>(text->data()), text->size()});
    return {quoted(directory) +
            " is a Mix project, not a release: run `MIX_ENV=prod mix release` " +
            "there and pass " + quoted(directory / "_build/prod/rel" / app.value_or("<app>"))};
  }
  if (fs::is_regular_file(directory / "rebar.config", error)) {
    auto text = readWholeFile(directory / "rebar.config", "rebar.config");
    std::optional<std::string> name;
    if (text)
      name =
          releaseNameFromRebarConfig({reinterpret_cast<const char*>(text->data()), text->size()});
    return {quoted(directory) + " is a rebar3 project, not a release: run `rebar3 as prod " +
            "release` there and pass " +
            quoted(directory / "_build/prod/rel" / name.value_or("<release>"))};
  }
  const auto releases = releasesIn(directory);
  if (releases.size() == 1) {
    return {quoted(directory) + " holds the release " + releases.front() +
            ", not a release itself: pass " + quoted(directory / releases.front())};
  }
  if (!releases.empty()) {
    return {quoted(directory) + " holds the releases " + listed(releases) +
            ": pass one of them, e.g. " + quoted(directory / releases.front())};
  }
  return {quoted(directory) + " is not a release (it has no releases/ directory): pass the " +
          "directory `mix release` or `rebar3 as prod release` made, e.g. _build/prod/rel/<app>"};
}

}  // namespace wexlo
