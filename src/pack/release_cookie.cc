#include "pack/release_cookie.h"

#include <algorithm>

namespace wexlo {

namespace {

constexpr std::string_view kCookiePath = "releases/COOKIE";
constexpr std::size_t kDerivedCookieLength = 20;
// A launcher reads at most this much of the file.
constexpr std::size_t kMaxCookieLength = 255;

}  // namespace

std::string cookieFromDigest(std::uint64_t digest) {
  // splitmix64 spreads the digest's bits over every letter.
  std::string cookie;
  for (std::size_t i = 0; i < kDerivedCookieLength; ++i) {
    digest += 0x9e3779b97f4a7c15ULL;
    std::uint64_t mixed = digest;
    mixed = (mixed ^ (mixed >> 30)) * 0xbf58476d1ce4e5b9ULL;
    mixed = (mixed ^ (mixed >> 27)) * 0x94d049bb133111ebULL;
    mixed ^= mixed >> 31;
    cookie += static_cast<char>('A' + mixed % 26);
  }
  return cookie;
}

PackResult<AddedCookie> addMissingCookie(Release& release,
                                         const std::optional<std::string>& vmArgsCookie) {
  auto& files = release.files;
  if (std::any_of(files.begin(), files.end(),
                  [](const ReleaseFile& f) { return f.path == kCookiePath; })) {
    return AddedCookie::None;
  }
  if (vmArgsCookie && vmArgsCookie->size() > kMaxCookieLength) {
    return packError("the -setcookie in releases/" + release.appVersion + "/vm.args is " +
                     std::to_string(vmArgsCookie->size()) + " bytes long; a launcher takes at " +
                     "most " + std::to_string(kMaxCookieLength) + ": shorten it");
  }
  ReleaseFile cookie{.path = std::string(kCookiePath),
                     .source = {},
                     .mode = 0100644,
                     .size = 0,
                     .content = vmArgsCookie.value_or(std::string(kDerivedCookieLength, '-'))};
  cookie.size = cookie.content.size();
  // Its place in archive order: among releases/, sorted by path, before bin/.
  auto at = std::find_if(files.begin(), files.end(), [](const ReleaseFile& f) {
    return (f.path.starts_with("releases/") && f.path > kCookiePath) || f.path.starts_with("bin/");
  });
  files.insert(at, std::move(cookie));
  return vmArgsCookie ? AddedCookie::FromArgs : AddedCookie::Derived;
}

}  // namespace wexlo
