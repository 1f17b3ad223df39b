// What the packer adds to a release or decides for it, beyond what the
// release says itself: the start mode of a release without Elixir, a cookie
// file for one without, and the notes that tell the user so.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "pack/pack_error.h"
#include "pack/release.h"
#include "pack/release_cookie.h"

namespace wexlo {

struct ReleaseAdditions {
  bool service = false;  // boot without Elixir's command-line handler
  AddedCookie cookie = AddedCookie::None;
  std::vector<std::string> notes;  // for the summary, one line each
};

// `serviceAsked` is --service. May add releases/COOKIE to `release.files`;
// a derived cookie is then filled in as the archive is made
// (streamReleaseArchive).
PackResult<ReleaseAdditions> addToRelease(const std::filesystem::path& directory, Release& release,
                                          bool serviceAsked);

}  // namespace wexlo
