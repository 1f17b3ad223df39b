// What to pass instead when `wexlo pack` is pointed at a directory that is
// not a release: a Mix or rebar3 project, or the directory that holds its
// releases.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "pack/pack_error.h"

namespace wexlo {

// The error for a directory without releases/, saying what to pass instead.
PackError notAReleaseError(const std::filesystem::path& directory);

// The application name a mix.exs gives with `app: :name`, if it gives one.
std::optional<std::string> appNameFromMixProject(std::string_view mixExs);

// The first release name a rebar.config gives with `{release, {name, "vsn"}, ...}`.
std::optional<std::string> releaseNameFromRebarConfig(std::string_view rebarConfig);

}  // namespace wexlo
