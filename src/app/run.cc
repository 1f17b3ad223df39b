#include "app/run.h"

#include "console/message.h"
#include "embed/footer.h"
#include "install/cleanup.h"
#include "install/install.h"
#include "install/location.h"
#include "launch/runtime_launch.h"
#include "maintenance/maintenance.h"
#include "metadata/build_metadata.h"

namespace wexlo {

namespace {

constexpr int kFailedRun = 1;

// Everything a run works out before it decides what to do.
struct Located {
  std::string baseDirectory;
  std::string installDirectory;
  std::string metadataPath;
};

class Run {
 public:
  Run(const Platform& platform, Environment environment)
      : p_(platform), environment_(std::move(environment)), log_(p_.console, environment_) {}

  int failed(Failure failure) {
    log_.logFailure(failure);
    return kFailedRun;
  }

  int go() {
    auto arguments = p_.process.arguments();
    if (!arguments) return failed(arguments.error());
    auto self = p_.process.selfExecutablePath();
    if (!self) return failed(self.error());

    auto image = p_.fs.mapReadOnly(*self);
    if (!image) return failed(image.error());
    auto build = locateEmbeddedBuild((*image)->bytes());
    if (!build) return reportMissingBuild(build.error());

    auto metadata = parseBuildMetadata(build->metadataText, log_);
    if (!metadata) return kFailedRun;

    std::string_view appName = build->appName;
    auto base = resolveBaseDirectory(p_.console, environment_, p_.process, appName);
    if (!base) return locationFailed(base.error(), appName);
    auto install = resolveInstallDirectory(
        p_.fs, *base, installDirectoryName(appName, metadata->ertsVersion, metadata->appVersion));
    if (!install) {
      reportInstallLocationFailure(p_.console, appName);
      return kFailedRun;
    }
    std::string metadataPath = joinPath({*install, "_metadata.json"});

    if (isMaintenanceRun(*arguments)) {
      auto status = runMaintenance(p_.fs, p_.console, *arguments, *install, build->metadataText);
      return status ? *status : failed(status.error());
    }

    auto installed = installIfNeeded(p_.fs, log_, *build, *install, metadataPath);
    if (!installed) return failed(installed.error());
    if (*installed == InstallOutcome::EndRunQuietly) return 0;

    base = resolveBaseDirectory(p_.console, environment_, p_.process, appName);
    if (!base) return locationFailed(base.error(), appName);
    if (auto cleaned = removeOlderVersions(p_.fs, p_.console, log_, *base, *install); !cleaned) {
      return failed(cleaned.error());
    }

    // The mapping of the launcher's own file is no longer needed.
    image->reset();
    auto status =
        launchRuntime(p_.fs, p_.console, p_.process, *arguments, *self, *metadata, *install);
    return status ? *status : failed(status.error());
  }

 private:
  int locationFailed(Failure failure, std::string_view appName) {
    if (failure != Failure::AppDataDirUnavailable) return failed(failure);
    reportInstallLocationFailure(p_.console, appName);
    return kFailedRun;
  }

  int reportMissingBuild(Failure failure) {
    if (failure == Failure::InvalidExe) {
      log_.logError(
          {"this launcher carries no application: it is a bare stub, or it was "
           "stripped after packing"});
    } else {
      log_.logError(
          {"this launcher's embedded application is damaged (", failureName(failure), ")"});
    }
    return kFailedRun;
  }

  const Platform& p_;
  Environment environment_;
  ErrorLog log_;
};

}  // namespace

int runLauncher(const Platform& platform) {
  auto environment = platform.process.environment();
  if (!environment) {
    Environment none;
    ErrorLog log(platform.console, none);
    log.logError({"failed to parse environment variables: ", failureName(environment.error())});
    return kFailedRun;
  }
  return Run(platform, std::move(*environment)).go();
}

}  // namespace wexlo
