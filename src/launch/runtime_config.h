// A fresh copy of the release's configuration for each run of a release that
// configures itself at boot. Such a runtime evaluates its runtime
// configuration, writes the result to RELEASE_SYS_CONFIG and boots again from
// it; pointed at the install's own sys.config, it would keep secrets from
// the environment on disk and ignore a changed environment ever after.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "metadata/build_metadata.h"
#include "platform/environment.h"
#include "platform/failure.h"
#include "platform/file_system.h"

namespace wexlo {

// What makes one run's copy name its own, and tells later runs its age.
struct RunStamp {
  std::int64_t unixSeconds = 0;
  std::uint64_t nonce = 0;  // random: runs started in the same second differ
};

RunStamp currentRunStamp();

// Asked for a stamp only when a copy is made: a random source is not free.
using RunStampSource = std::function<RunStamp()>;

// Copies older than this are removed by the next run that makes one. The
// runtime is done with its copy once it has booted, seconds after the start,
// and the copy holds what the runtime configuration read: it should not
// stay long.
inline constexpr std::int64_t kConfigurationCopyLifetimeSeconds = 60 * 60;

// True when the comment lines that open `sysConfig` include
// "%% RUNTIME_CONFIG=true", as the release tools write for a release that
// reboots after its runtime configuration.
bool configuresAtBoot(std::string_view sysConfig);

struct ConfigurationCopy {
  std::string file;  // for -config
  std::string base;  // for RELEASE_SYS_CONFIG: the same path without ".config"
};

// For a release whose `configurationFile` configures at boot: removes this
// application's expired copies and copies the file to
// "<app>-<version>-<seconds>-<nonce>.runtime.config", readable by the user
// alone, in RELEASE_TMP (when set and not empty) or else <install>/tmp.
// Nothing for any other release, or one without the file.
Result<std::optional<ConfigurationCopy>> copyConfigurationForRun(
    FileSystem& fs, const Environment& environment, std::string_view installDirectory,
    std::string_view configurationFile, const BuildMetadata& metadata, const RunStampSource& stamp);

}  // namespace wexlo
