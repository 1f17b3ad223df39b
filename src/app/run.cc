#include "app/run.h"

#include "app/runtime_ending.h"
#include "console/message.h"
#include "embed/own_build.h"
#include "install/cleanup.h"
#include "install/install.h"
#include "install/location.h"
#include "launch/runtime_launch.h"
#include "maintenance/maintenance.h"
#include "metadata/build_metadata.h"
#include "platform/process_start.h"

namespace wexlo {

namespace {

constexpr int kFailedRun = 1;

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

    auto own = mapOwnBuild(p_.fs, *self);
    if (!own) return reportMissingBuild(own.error());
    const EmbeddedBuild& build = own->build;

    auto metadata = parseBuildMetadata(build.metadataText, log_);
    if (!metadata) return kFailedRun;

    std::string_view appName = build.appName;
    // These names become directory names: each must be one plain component,
    // or the install could land, and an uninstall delete, outside its place.
    for (auto [what, name] : {std::pair{"app_name", std::string_view(metadata->appName)},
                              std::pair{"app_version", std::string_view(metadata->appVersion)},
                              std::pair{"erts_version", std::string_view(metadata->ertsVersion)},
                              std::pair{"application name", appName}}) {
      if (!isPlainPathComponent(name)) {
        log_.logError(
            {"this launcher's ", what, " \"", name, "\" is not usable as a directory name"});
        return kFailedRun;
      }
    }
    auto base = resolveBaseDirectory(p_.console, environment_, p_.process, appName);
    if (!base) return locationFailed(base.error(), appName);
    auto install = resolveInstallDirectory(
        p_.fs, *base, installDirectoryName(appName, metadata->ertsVersion, metadata->appVersion));
    if (!install) {
      reportInstallLocationFailure(p_.console, appName);
      return kFailedRun;
    }
    std::string metadataPath = joinPath({*install, kInstallMarkerName});

    if (isMaintenanceRun(*arguments)) {
      auto status = runMaintenance(p_.fs, p_.console, *arguments, *install, build.metadataText);
      return status ? *status : failed(status.error());
    }

    // Refused before anything is unpacked that could never be started.
    if (auto tooLong = runtimePathTooLong(releasePaths(*install, *metadata).runtimeExecutable,
                                          appName, kLongestProgramPath)) {
      log_.logError({*tooLong});
      return kFailedRun;
    }
    auto installed =
        installIfNeeded(p_.fs, log_, {build, *metadata, *install, metadataPath, own->image.get()});
    if (!installed) return failed(installed.error());
    if (installed->outcome == InstallOutcome::EndRunQuietly) return 0;
    if (installed->outcome == InstallOutcome::Refused) return kFailedRun;

    // Resolved a second time on purpose: the cleanup reads the override
    // variable afresh, and its two notice lines print again.
    base = resolveBaseDirectory(p_.console, environment_, p_.process, appName);
    if (!base) return locationFailed(base.error(), appName);
    if (auto cleaned = removeOlderVersions(p_.fs, p_.console, log_, *base, *install); !cleaned) {
      return failed(cleaned.error());
    }

    // The mapping of the launcher's own file is no longer needed.
    own->image.reset();
    // Without it the runtime still runs; only the cleanup of a later
    // version could then miss that the install is in use.
    if (installed->inUse) (void)installed->inUse->keepAcrossHandOver();
    auto status = launchRuntime(p_.fs, p_.console, p_.process, *arguments, *self, *metadata,
                                *install, currentRunStamp);
    if (!status) return failed(status.error());
    if (auto ending = runtimeEndingMessage(static_cast<std::uint32_t>(*status))) {
      log_.logError({*ending});
    }
    return *status;
  }

 private:
  int locationFailed(Failure failure, std::string_view appName) {
    if (failure != Failure::AppDataDirUnavailable) return failed(failure);
    reportInstallLocationFailure(p_.console, appName);
    return kFailedRun;
  }

  int reportMissingBuild(Failure failure) {
    if (failure != Failure::InvalidExe && failure != Failure::CorruptedData) {
      return failed(failure);  // the file itself could not be mapped
    }
    log_.logError({missingBuildMessage(failure)});
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
