// Which tool assembled a release, told from what it left behind, so that the
// packer's refusals give that tool's remedy; and whether the release carries
// Elixir, whose command-line handler the default start mode runs.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "pack/pack_error.h"

namespace wexlo {

enum class ReleaseTool { Mix, Rebar3 };

struct ReleaseKind {
  ReleaseTool tool = ReleaseTool::Mix;
  // The release's .rel names the elixir application; also assumed when no
  // .rel tells (the name was given with --app-name and no .rel names itself).
  bool elixir = true;
};

// Reads releases/<version>/<name>.rel (else the one .rel there naming
// itself), and looks for rebar3's marks: releases/RELEASES and a start
// script bin/<name> of relx's. Unreadable files tell nothing.
ReleaseKind readReleaseKind(const std::filesystem::path& directory, std::string_view appName,
                            std::string_view appVersion);

// Whether a .rel file lists `application` among its applications.
bool relFileNamesApplication(std::string_view text, std::string_view application);

// How to get a release with its runtime, in the words of the tool that made it.
std::string missingRuntimeAdvice(ReleaseTool tool, std::string_view ertsVersion);

// What to do about a symbolic link in the release; empty for Mix, which
// makes none.
std::string symbolicLinkAdvice(ReleaseTool tool);

// Refuses a release whose sys.config or vm.args exists only as a template
// (.src) that its start script renders; a launcher never runs that script.
PackResult<void> checkPlainConfigFiles(const std::filesystem::path& directory,
                                       std::string_view appVersion);

}  // namespace wexlo
