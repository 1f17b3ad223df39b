#include "pack/packer.h"

#include <lzma.h>

#include <optional>

#include "format/footer.h"
#include "metadata/build_metadata.h"
#include "metadata/payload_digest.h"
#include "metadata/start_mode.h"
#include "pack/build_names.h"
#include "pack/files.h"
#include "pack/launcher_writer.h"
#include "pack/native_code.h"
#include "pack/output_path.h"
#include "pack/payload_encoder.h"
#include "pack/release_additions.h"
#include "pack/release_archive.h"
#include "pack/release_cookie.h"
#include "pack/system_libraries.h"
#include "pack/xz_encoder.h"

namespace wexlo {

namespace {

constexpr std::uint32_t kXzPreset = 9;

std::string_view asText(std::span<const std::uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// The metadata's "options": the settings that shape the launcher, in a fixed
// form free of paths and thread counts so equal inputs give equal bytes. The
// service mode comes before the names and versions the user may override,
// which could hold its word. The payload's digest ends it: a release rebuilt under the same version
// then gets a different record, which tells launchers to unpack it afresh.
std::string renderPackOptions(const PackOptions& options, bool service, std::string_view target,
                              std::string_view payloadDigest) {
  const std::uint64_t blockSize = options.blockSize ? options.blockSize : kDefaultXzBlockSize;
  std::string text =
      "--target " + std::string(target) + " --block-size " + std::to_string(blockSize);
  if (service) text += " " + std::string(kServiceOption);
  // An xz launcher's record stays what it was before zstd existed.
  if (options.compression == Compression::Zstd) {
    text += " --compression zstd --level " + std::to_string(options.zstdLevel);
  }
  if (options.overrides.appName) text += " --app-name " + *options.overrides.appName;
  if (options.overrides.appVersion) text += " --app-version " + *options.overrides.appVersion;
  if (options.overrides.ertsVersion) text += " --erts-version " + *options.overrides.ertsVersion;
  return text + " " + std::string(kPayloadDigestOption) + " " + std::string(payloadDigest);
}

// A release built for another operating system would pack and unpack fine,
// then fail to start on every user's machine. (Its CPU is told by its
// programs' headers, once they are read.)
PackResult<void> checkRuntimeFor(const std::filesystem::path& directory, const Release& release,
                                 std::string_view target) {
  const bool windows = target == kWindowsTarget;
  const std::filesystem::path bin = directory / ("erts-" + release.ertsVersion) / "bin";
  const std::filesystem::path runtime = bin / (windows ? "erl.exe" : "erl");
  if (!std::filesystem::is_regular_file(runtime)) {
    return packError("release has no runtime for " + std::string(target) + ": '" +
                     runtime.string() + "' is missing (build the release on " +
                     (windows ? "Windows" : "Linux") + ")");
  }
  return {};
}

// Compresses the archive of `release` into `launcher` as it is read, and
// tells the payload's CRC64.
PackResult<std::uint64_t> writePayload(const PackOptions& options, const Release& release,
                                       bool deriveCookie, LauncherOutput& launcher) {
  std::optional<PackError> writeError;
  std::uint64_t payloadDigest = 0;
  const CompressedSink sink = [&](std::span<const std::uint8_t> bytes) {
    payloadDigest = lzma_crc64(bytes.data(), bytes.size(), payloadDigest);
    auto appended = launcher.appendPayload(bytes);
    if (!appended) writeError = appended.error();
    return appended.has_value();
  };
  const std::uint64_t archiveSize = releaseArchiveSize(release);
  auto encoder =
      options.compression == Compression::Zstd
          ? zstdEncoder({.threads = options.threads,
                         .blockSize = options.blockSize,
                         .level = options.zstdLevel},
                        sink)
          : xzEncoder(
                {.threads = options.threads, .blockSize = options.blockSize, .preset = kXzPreset},
                archiveSize, sink);
  // A sink that could not write stopped the encoder: its error is the one.
  auto compressionFailed = [&](Failure failure) {
    if (writeError) return std::unexpected(*writeError);
    return packError("compressing the release failed: " + std::string(failureName(failure)));
  };
  if (!encoder) return compressionFailed(encoder.error());
  std::uint64_t fed = 0;
  auto fedArchive = streamReleaseArchive(
      release, deriveCookie, [&](std::span<const std::uint8_t> bytes) -> PackResult<void> {
        if (auto written = (*encoder)->write(bytes); !written) {
          return compressionFailed(written.error());
        }
        fed += bytes.size();
        if (options.progress) options.progress("compressing", fed, archiveSize);
        return {};
      });
  if (!fedArchive) return std::unexpected(fedArchive.error());
  if (auto finished = (*encoder)->finish(); !finished) return compressionFailed(finished.error());
  return payloadDigest;
}

}  // namespace

PackResult<PackSummary> packRelease(const PackOptions& options) {
  auto release = readRelease(options.releaseDirectory, options.overrides);
  if (!release) return std::unexpected(release.error());
  if (options.warning) {
    for (const auto& name : release->leftOut) {
      options.warning("leaving out '" + name +
                      "': not part of a release (lib, erts-*, releases, bin)");
    }
  }
  auto stub = loadStub(options.stub);
  if (!stub) return std::unexpected(stub.error());
  if (auto checked = checkOutputPath(options.output, stub->path, options.releaseDirectory);
      !checked) {
    return std::unexpected(checked.error());
  }
  const bool windows = stub->info.target == kWindowsTarget;
  if (!windows &&
      (options.windowsResources.icon || !options.windowsResources.versionInfo.empty())) {
    return packError("--icon and --version-info apply to " + std::string(kWindowsTarget) +
                     " launchers only, not " + stub->info.target);
  }
  if (auto runtime = checkRuntimeFor(options.releaseDirectory, *release, stub->info.target);
      !runtime)
    return std::unexpected(runtime.error());
  auto additions = addToRelease(options.releaseDirectory, *release, options.service);
  if (!additions) return std::unexpected(additions.error());

  // Written before the long steps, so a bad icon or version fails at once.
  std::vector<std::uint8_t> stubBytes = std::move(stub->bytes);
  if (windows) {
    auto withResources = addWindowsResources(
        stubBytes, options.windowsResources,
        {release->appName, release->appVersion, options.output.filename().string()});
    if (!withResources) return std::unexpected(withResources.error());
    stubBytes = std::move(*withResources);
  }

  auto nativeCode = findNativeCode(*release);
  if (!nativeCode) return std::unexpected(nativeCode.error());
  if (auto checked = checkNativeCode(*nativeCode, {.target = stub->info.target,
                                                   .releaseDirectory = options.releaseDirectory,
                                                   .ertsVersion = release->ertsVersion,
                                                   .allowed = options.allowForeign});
      !checked) {
    return std::unexpected(checked.error());
  }

  // The archive is compressed as it is read, and the compressed bytes are
  // written as they come: the launcher's name appears once it is complete.
  auto launcher = LauncherOutput::create(options.output, stubBytes);
  if (!launcher) return std::unexpected(launcher.error());
  const std::uint64_t archiveSize = releaseArchiveSize(*release);
  auto payloadDigest =
      writePayload(options, *release, additions->cookie == AddedCookie::Derived, **launcher);
  if (!payloadDigest) return std::unexpected(payloadDigest.error());

  const BuildMetadata metadata{
      .appName = release->appName,
      .zigVersion = stub->info.toolchain,
      .zigBuildArguments = splitWords(stub->info.flags),
      .appVersion = release->appVersion,
      .options = renderPackOptions(options, additions->service, stub->info.target,
                                   crc64Text(*payloadDigest)),
      .ertsVersion = release->ertsVersion,
  };
  const std::string metadataText = encodeBuildMetadata(metadata);
  if (metadataText.size() > kMaxMetadataRecordBytes) {
    return packError("the release's names make a metadata record of " +
                     std::to_string(metadataText.size()) + " bytes; at most " +
                     std::to_string(kMaxMetadataRecordBytes) + " fit");
  }
  if (auto written = (*launcher)->finish(metadataText, release->appName, archiveSize); !written)
    return std::unexpected(written.error());
  return PackSummary{
      .appName = release->appName,
      .fileCount = release->files.size(),
      .launcherBytes = stubBytes.size() + (*launcher)->payloadLength() + metadataText.size() +
                       release->appName.size() + kFooterSize,
      .notes = std::move(additions->notes),
      .systemLibraries = systemLibraries(*nativeCode, stub->info.target).size(),
  };
}

PackResult<void> packRaw(const RawPackOptions& options) {
  auto metadata = readWholeFile(options.metadataFile, "metadata file");
  if (!metadata) return std::unexpected(metadata.error());
  // Every launcher run in the same base directory reads each installed
  // record, so a huge one would slow down every application there.
  if (metadata->size() > kMaxMetadataRecordBytes) {
    return packError("metadata file " + quoted(options.metadataFile) + " holds " +
                     std::to_string(metadata->size()) + " bytes; a record may hold at most " +
                     std::to_string(kMaxMetadataRecordBytes));
  }
  auto payload = readWholeFile(options.payloadFile, "payload file");
  if (!payload) return std::unexpected(payload.error());

  // The metadata need not parse (tests embed damaged records on purpose);
  // when it does, its names must be usable by a launcher.
  auto decoded = decodeBuildMetadata(asText(*metadata));
  if (decoded) {
    auto checked = checkBuildNames(decoded->appName, decoded->appVersion, decoded->ertsVersion);
    if (!checked) return checked;
  }
  std::string appName;
  if (options.appName) {
    appName = *options.appName;
  } else if (decoded) {
    appName = decoded->appName;
  } else {
    return packError("metadata file does not parse (" + std::string(failureName(decoded.error())) +
                     "); give --app-name");
  }
  // Raw mode never rewrites the record, so the mode must already be in it.
  if (options.service && (!decoded || startModeIn(decoded->options) != StartMode::Service)) {
    return packError(
        "--service in raw mode needs a metadata file whose \"options\" record it "
        "(the word --service before any --app-name, --app-version or --erts-version)");
  }
  if (appName.empty()) return packError("no application name; give --app-name");
  if (auto checked = checkDirectoryName("application name", appName); !checked) return checked;

  auto stub = loadStub(options.stub);
  if (!stub) return std::unexpected(stub.error());
  if (auto checked = checkOutputPath(
          options.output, stub->path, std::nullopt,
          {{options.metadataFile, "metadata file"}, {options.payloadFile, "payload file"}});
      !checked) {
    return checked;
  }
  return writeLauncher(options.output, {.stub = stub->bytes,
                                        .payload = *payload,
                                        .decompressedLength = options.decompressedLength,
                                        .metadataText = asText(*metadata),
                                        .appName = appName});
}

}  // namespace wexlo
