#include "pack/output_path.h"

#include <string>

#include "pack/files.h"

namespace wexlo {

namespace fs = std::filesystem;

namespace {

bool sameFile(const fs::path& a, const fs::path& b) {
  std::error_code error;
  return fs::equivalent(a, b, error) && !error;
}

bool isWithin(const fs::path& path, const fs::path& directory) {
  std::error_code error;
  const fs::path inner = fs::weakly_canonical(fs::absolute(path, error), error);
  const fs::path outer = fs::weakly_canonical(fs::absolute(directory, error), error);
  if (error) return false;
  const fs::path relative = inner.lexically_relative(outer);
  return !relative.empty() && *relative.begin() != "..";
}

}  // namespace

PackResult<void> checkOutputPath(const fs::path& output, const fs::path& stub,
                                 const std::optional<fs::path>& releaseDirectory,
                                 const std::vector<PackInput>& inputs) {
  for (const auto& input : inputs) {
    if (sameFile(output, input.path)) {
      return packError("output " + quoted(output) + " is the " + input.what +
                       "; write the launcher elsewhere");
    }
  }
  // The launcher is renamed into place: a device or FIFO there (or a link to
  // one) would be replaced, not written to. A directory would refuse the
  // rename only once the whole release is packed.
  std::error_code error;
  const auto existing = fs::status(output, error);
  if (!error && fs::is_directory(existing)) {
    return packError("output " + quoted(output) +
                     " is a directory; give the launcher's own name, e.g. -o " +
                     quoted(output / "my_app"));
  }
  if (!error && fs::exists(existing) && !fs::is_regular_file(existing)) {
    return packError("output " + quoted(output) +
                     " exists and is not a regular file; write the launcher elsewhere");
  }
  if (sameFile(output, stub)) {
    return packError("output " + quoted(output) + " is the stub; write the launcher elsewhere");
  }
  if (sameFile(output, "/proc/self/exe")) {
    return packError("output " + quoted(output) + " is the packer itself");
  }
  if (releaseDirectory && isWithin(output, *releaseDirectory)) {
    return packError("output " + quoted(output) + " lies inside the release directory " +
                     quoted(*releaseDirectory) + "; write the launcher elsewhere");
  }
  return {};
}

}  // namespace wexlo
