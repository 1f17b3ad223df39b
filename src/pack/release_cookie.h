// The distribution cookie of a release that has no releases/COOKIE (rebar3
// keeps it in vm.args): a launcher reads that file at every start, so the
// packer adds one to the archive. The release directory is never touched.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "pack/pack_error.h"
#include "pack/release.h"

namespace wexlo {

enum class AddedCookie {
  None,      // the release has its own
  FromArgs,  // the value of -setcookie in vm.args
  Derived,   // from a digest of the release's archive; see streamReleaseArchive
};

// Adds releases/COOKIE to `release.files` when the release lacks it: holding
// `vmArgsCookie` when there is one, else a placeholder of the derived
// cookie's length.
PackResult<AddedCookie> addMissingCookie(Release& release,
                                         const std::optional<std::string>& vmArgsCookie);

// The cookie a digest of the archive gives, so the same release always gets
// the same cookie: upper-case letters, as the runtime's own.
std::string cookieFromDigest(std::uint64_t digest);

}  // namespace wexlo
