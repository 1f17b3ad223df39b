#include "pack/stub.h"

#include "format/footer.h"
#include "pack/files.h"

namespace wexlo {

namespace fs = std::filesystem;

namespace {

// "wexlo-stub-linux-x86_64", "wexlo-stub-linux-aarch64", "wexlo-stub-windows-x86_64.exe".
std::string stubFileName(std::string_view target) {
  std::string name = "wexlo-stub-" + std::string(target);
  if (target == kWindowsTarget) name += ".exe";
  return name;
}

}  // namespace

fs::path packerDirectory() {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  return error ? fs::path(".") : self.parent_path();
}

PackResult<Stub> loadStub(const StubChoice& choice) {
  if (choice.target && !findTarget(*choice.target)) {
    return packError("unknown target '" + *choice.target + "' (" + targetNames() + ")");
  }
  const fs::path path = choice.path.value_or(
      choice.directory / stubFileName(choice.target.value_or(std::string(kLinuxTarget))));
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
