#include "embed/own_build.h"

#include <string>

namespace wexlo {

Result<OwnBuild> mapOwnBuild(FileSystem& fs, std::string_view selfExecutablePath) {
  auto image = fs.mapReadOnly(selfExecutablePath);
  if (!image) return fail(image.error());
  auto build = locateEmbeddedBuild((*image)->bytes());
  if (!build) return fail(build.error());
  return OwnBuild{std::move(*image), *build};
}

std::string missingBuildMessage(Failure failure) {
  if (failure == Failure::InvalidExe) {
    return "this launcher carries no application: it is a bare stub, or it was "
           "stripped after packing";
  }
  return "this launcher's embedded application is damaged (" + std::string(failureName(failure)) +
         ")";
}

}  // namespace wexlo
