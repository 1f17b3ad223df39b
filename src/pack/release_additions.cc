#include "pack/release_additions.h"

#include "pack/release_vm_args.h"

namespace wexlo {

PackResult<ReleaseAdditions> addToRelease(const std::filesystem::path& directory, Release& release,
                                          bool serviceAsked) {
  ReleaseAdditions additions;
  const std::string vmArgsPath = "releases/" + release.appVersion + "/vm.args";
  auto vmArgs = readVmArgs(directory, release.appVersion);
  if (!vmArgs) return std::unexpected(vmArgs.error());
  const VmArgs args = vmArgs->value_or(VmArgs{});

  // Without Elixir there is no command-line handler to start: the
  // application does its work in start/2 and halts, or keeps running.
  additions.service = serviceAsked || !release.kind.elixir;
  if (!serviceAsked && additions.service) {
    additions.notes.push_back(
        "start mode: service, as the release has no elixir application (start/2 reads the "
        "arguments, then halts or keeps running)");
  }

  auto cookie = addMissingCookie(release, args.cookie);
  if (!cookie) return std::unexpected(cookie.error());
  additions.cookie = *cookie;
  // The launcher always passes -setcookie; a runtime given the flag twice
  // takes neither, so the packed vm.args leaves its own out.
  if (args.cookie) {
    for (auto& file : release.files) {
      if (file.path != vmArgsPath) continue;
      file.source.clear();
      file.content = args.withoutCookie;
      file.size = file.content.size();
    }
  }
  if (*cookie == AddedCookie::FromArgs) {
    additions.notes.push_back("added releases/COOKIE: the -setcookie of " + vmArgsPath +
                              ", which the packed vm.args leaves to the launcher");
  } else if (*cookie == AddedCookie::Derived) {
    additions.notes.push_back("added releases/COOKIE, derived from the release (" + vmArgsPath +
                              " sets no -setcookie)");
  } else if (args.cookie) {
    additions.notes.push_back("left -setcookie out of the packed " + vmArgsPath +
                              ": the launcher passes the cookie of releases/COOKIE");
  }

  if (args.nodeName) {
    additions.notes.push_back(
        vmArgsPath + " names the node (" + *args.nodeName +
        "): every run starts epmd, and two runs at once clash on the name; drop it from a "
        "command-line tool's vm.args");
  }
  return additions;
}

}  // namespace wexlo
