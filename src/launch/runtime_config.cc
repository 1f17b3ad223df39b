#include "launch/runtime_config.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <random>

#include "metadata/semantic_version.h"
#include "platform/path.h"

namespace wexlo {

namespace {

constexpr std::string_view kRuntimeConfigLine = "%% RUNTIME_CONFIG=true";
constexpr std::string_view kCopySuffix = ".runtime.config";
constexpr std::size_t kNonceDigits = 16;
// Far beyond any real sys.config; only guards the launcher's memory.
constexpr std::size_t kConfigurationReadLimit = std::size_t{64} << 20;

std::span<const std::uint8_t> asBytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string copyName(const BuildMetadata& metadata, RunStamp stamp) {
  char nonce[kNonceDigits + 1];
  std::snprintf(nonce, sizeof nonce, "%016llx", static_cast<unsigned long long>(stamp.nonce));
  return metadata.appName + "-" + metadata.appVersion + "-" + std::to_string(stamp.unixSeconds) +
         "-" + nonce + std::string(kCopySuffix);
}

// The seconds in the name of one of `appName`'s copies; nothing for any other
// name, so files of others in a shared RELEASE_TMP are never touched.
std::optional<std::int64_t> copyTime(std::string_view name, std::string_view appName) {
  if (!name.ends_with(kCopySuffix)) return std::nullopt;
  name.remove_suffix(kCopySuffix.size());
  auto dash = name.rfind('-');
  if (dash == std::string_view::npos) return std::nullopt;
  const std::string_view nonce = name.substr(dash + 1);
  if (nonce.size() != kNonceDigits ||
      nonce.find_first_not_of("0123456789abcdef") != std::string_view::npos) {
    return std::nullopt;
  }
  name = name.substr(0, dash);
  dash = name.rfind('-');
  if (dash == std::string_view::npos) return std::nullopt;
  const std::string_view digits = name.substr(dash + 1);
  std::int64_t seconds = 0;
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), seconds);
  if (digits.empty() || digits.front() == '-' || error != std::errc() ||
      end != digits.data() + digits.size()) {
    return std::nullopt;
  }
  name = name.substr(0, dash);  // "<app>-<version>"
  if (name.size() <= appName.size() + 1 || !name.starts_with(appName) ||
      name[appName.size()] != '-') {
    return std::nullopt;
  }
  // Application "rc" is not "rc-app": what follows the name must be a
  // version as a whole.
  if (!parseSemanticVersion(name.substr(appName.size() + 1))) return std::nullopt;
  return seconds;
}

// Best effort: a copy that cannot be listed or removed now goes next time.
// Copies of other users in a shared RELEASE_TMP stay, even for root.
void removeExpiredCopies(FileSystem& fs, std::string_view directory, std::string_view appName,
                         std::int64_t now) {
  auto entries = fs.listDirectory(directory);
  if (!entries) return;
  for (const auto& entry : *entries) {
    if (entry.kind != EntryKind::File) continue;
    auto made = copyTime(entry.name, appName);
    // A copy dated ahead of the clock is old too: the clock was set back.
    if (made && (now - *made > kConfigurationCopyLifetimeSeconds ||
                 *made - now > kConfigurationCopyLifetimeSeconds)) {
      (void)fs.deleteOwnFile(joinPath({directory, entry.name}));
    }
  }
}

}  // namespace

RunStamp currentRunStamp() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  RunStamp stamp{std::chrono::duration_cast<std::chrono::seconds>(now).count(), 0};
  try {
    std::random_device random;
    stamp.nonce = (std::uint64_t{random()} << 32) ^ random();
  } catch (...) {
    // No random source: the clock's finest count still tells runs apart.
    stamp.nonce = static_cast<std::uint64_t>(
        std::chrono::high_resolution_clock::now().time_since_epoch().count());
  }
  return stamp;
}

bool configuresAtBoot(std::string_view sysConfig) {
  while (sysConfig.starts_with('%')) {
    const auto end = sysConfig.find('\n');
    std::string_view line = sysConfig.substr(0, end);
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line == kRuntimeConfigLine) return true;
    if (end == std::string_view::npos) break;
    sysConfig.remove_prefix(end + 1);
  }
  return false;
}

Result<std::optional<ConfigurationCopy>> copyConfigurationForRun(
    FileSystem& fs, const Environment& environment, std::string_view installDirectory,
    std::string_view configurationFile, const BuildMetadata& metadata,
    const RunStampSource& stampSource) {
  auto file = fs.openForReading(configurationFile);
  // The runtime reports a missing sys.config in its own words.
  if (!file && file.error() == Failure::FileNotFound) return std::nullopt;
  if (!file) return fail(file.error());
  auto content = (*file)->readAll(kConfigurationReadLimit);
  if (!content) return fail(content.error());
  if (!configuresAtBoot(*content)) return std::nullopt;
  const RunStamp stamp = stampSource();

  const auto variable = environment.get("RELEASE_TMP");
  const std::string directory =
      variable && !variable->empty() ? std::string(*variable) : joinPath({installDirectory, "tmp"});
  if (auto made = fs.makePath(directory); !made) return fail(made.error());
  removeExpiredCopies(fs, directory, metadata.appName, stamp.unixSeconds);

  ConfigurationCopy copy;
  copy.file = joinPath({directory, copyName(metadata, stamp)});
  copy.base = copy.file.substr(0, copy.file.size() - std::string_view(".config").size());
  if (auto written = fs.writeFile(copy.file, asBytes(*content), 0600); !written) {
    return fail(written.error());
  }
  return copy;
}

}  // namespace wexlo
