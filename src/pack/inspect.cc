#include "pack/inspect.h"

#include <algorithm>
#include <set>
#include <string>

#include "format/archive_reader.h"
#include "format/footer.h"
#include "format/payload_decoder.h"
#include "format/stub_marker.h"
#include "format/zstd_frames.h"
#include "image/pe_resources.h"
#include "metadata/build_metadata.h"
#include "metadata/start_mode.h"
#include "pack/files.h"
#include "pack/stub.h"
#include "pack/xz_encoder.h"

namespace wexlo {

namespace {

std::string describeDecodeFailure(const DecodeFailure& failure) {
  if (failure.code != 0) return "XZ/LZMA decode result " + std::to_string(failure.code);
  if (!failure.zstdError.empty()) return "zstd: " + std::string(failure.zstdError);
  return std::string(failureName(failure.failure));
}

PackResult<void> verifyMetadata(const EmbeddedBuild& build) {
  auto metadata = decodeBuildMetadata(build.metadataText);
  if (!metadata) {
    return packError("metadata does not parse: " + std::string(failureName(metadata.error())));
  }
  if (metadata->appName.empty() || metadata->appVersion.empty() || metadata->ertsVersion.empty()) {
    return packError("metadata lacks app_name, app_version or erts_version");
  }
  if (metadata->appName != build.appName) {
    return packError("application name '" + std::string(build.appName) +
                     "' differs from the metadata's '" + metadata->appName + "'");
  }
  return {};
}

PackResult<void> verifyZstdFrames(const EmbeddedBuild& build) {
  auto frames = readZstdFrames(build.payload);
  if (!frames) {
    return packError("payload is not a sound run of zstd frames: " +
                     std::string(frames.error().zstdError));
  }
  if (frames->uncompressedSize != build.decompressedLength) {
    return packError("payload decompresses to " + std::to_string(frames->uncompressedSize) +
                     " bytes, the footer says " + std::to_string(build.decompressedLength));
  }
  return {};
}

PackResult<void> verifyStream(const EmbeddedBuild& build) {
  if (isZstdPayload(build.payload)) return verifyZstdFrames(build);
  auto stream = describeXzStream(build.payload);
  if (!stream)
    return packError("payload is not a sound xz stream: " +
                     std::string(failureName(stream.error())));
  if (stream->check != 0 && stream->check != 1) {
    return packError("payload uses integrity check " + std::to_string(stream->check) +
                     "; a launcher takes none or CRC32");
  }
  if (stream->decompressedLength != build.decompressedLength) {
    return packError("payload decompresses to " + std::to_string(stream->decompressedLength) +
                     " bytes, the footer says " + std::to_string(build.decompressedLength));
  }
  return {};
}

// Walks the archive, listing entries when asked and checking every one when
// verifying.
PackResult<std::size_t> walkArchive(std::span<const std::uint8_t> archive,
                                    const InspectOptions& options, std::ostream& out) {
  auto reader = ArchiveReader::open(archive);
  if (!reader) return packError("archive does not start with ZELPA");
  std::set<std::string_view> seen;
  std::uint64_t walked = kArchiveOverhead;
  while (true) {
    auto entry = reader->next();
    if (!entry)
      return packError("archive entry " + std::to_string(seen.size() + 1) +
                       " overruns the archive");
    if (!*entry) break;
    const ArchiveEntry& e = **entry;
    if (options.list) {
      out << std::oct << e.mode << std::dec << ' ' << e.content.size() << ' ' << e.path << '\n';
    }
    walked += archiveEntrySize(e.path.size(), e.content.size());
    if (!options.verify) continue;
    if (!checkEntryPath(e.path))
      return packError("archive holds an unsafe path '" + std::string(e.path) + "'");
    if (!seen.insert(e.path).second)
      return packError("archive holds '" + std::string(e.path) + "' twice");
    if (e.mode != 0100644 && e.mode != 0100755) {
      return packError("archive entry '" + std::string(e.path) + "' has an unexpected mode");
    }
  }
  if (options.verify) {
    const std::string_view tail(
        reinterpret_cast<const char*>(archive.data()) + archive.size() - kArchiveMagic.size(),
        kArchiveMagic.size());
    if (walked != archive.size() || tail != kArchiveMagic) {
      return packError("archive does not end with its ZELPA trailer");
    }
  }
  return seen.size();
}

PackResult<void> verifyReleaseLayout(std::span<const std::uint8_t> archive,
                                     std::string_view metadataText) {
  auto metadata = decodeBuildMetadata(metadataText);
  if (!metadata) return packError("metadata does not parse");
  const std::string erts = "erts-" + metadata->ertsVersion + "/";
  const std::string releases = "releases/" + metadata->appVersion + "/";
  bool hasErts = false;
  bool hasRelease = false;
  auto reader = ArchiveReader::open(archive);
  for (auto entry = reader->next(); entry && *entry; entry = reader->next()) {
    hasErts = hasErts || (*entry)->path.starts_with(erts);
    hasRelease = hasRelease || (*entry)->path.starts_with(releases);
  }
  if (!hasErts) return packError("archive holds nothing under " + erts);
  if (!hasRelease) return packError("archive holds nothing under " + releases);
  return {};
}

// A Windows launcher's version record and which other resources it has.
void describeResources(std::span<const std::uint8_t> stub, std::ostream& out) {
  const auto types = image::resourceTypes(stub);
  if (types.empty()) return;
  const auto has = [&](std::uint32_t type) {
    return std::find(types.begin(), types.end(), type) != types.end();
  };
  out << "resources:" << (has(image::kResourceVersion) ? " version" : "")
      << (has(image::kResourceManifest) ? " manifest" : "")
      << (has(image::kResourceGroupIcon) ? " icon" : "") << '\n';
  const auto record = image::readVersionRecord(stub);
  if (!record) return;
  const auto& v = record->fileVersion;
  out << "file version: " << v[0] << '.' << v[1] << '.' << v[2] << '.' << v[3] << '\n';
  for (const auto& [key, value] : record->strings) {
    out << "version string: " << key << " = " << value << '\n';
  }
}

}  // namespace

PackResult<void> inspectLauncher(const InspectOptions& options, std::ostream& out) {
  auto image = readWholeFile(options.launcher, "launcher");
  if (!image) return std::unexpected(image.error());
  auto build = locateEmbeddedBuild(*image);
  if (!build) {
    return packError("'" + options.launcher.string() + "' " +
                     (build.error() == Failure::InvalidExe ? "carries no packed release"
                                                           : "has a damaged footer"));
  }
  const auto stubBytes = std::span<const std::uint8_t>(*image).first(
      static_cast<std::size_t>(build->payload.data() - image->data()));
  const auto marker = findStubMarker(stubBytes);
  const bool zstd = isZstdPayload(build->payload);

  out << "target: " << (marker ? marker->target : "unknown") << '\n';
  if (marker) out << "toolchain: " << marker->toolchain << '\n';
  out << "app name: " << build->appName << '\n';
  out << "metadata: " << build->metadataText << '\n';
  if (auto metadata = decodeBuildMetadata(build->metadataText)) {
    out << "start mode: " << startModeName(startModeIn(metadata->options)) << '\n';
  }
  out << "compressed length: " << build->payload.size() << '\n';
  out << "decompressed length: " << build->decompressedLength << '\n';
  out << "compression: " << (zstd ? "zstd" : "xz") << '\n';
  if (zstd) {
    auto frames = readZstdFrames(build->payload);
    if (frames) {
      out << "blocks: " << frames->frames.size() << '\n';
    } else {
      out << "blocks: unknown (" << frames.error().zstdError << ")\n";
    }
  } else if (auto stream = describeXzStream(build->payload)) {
    out << "blocks: " << stream->blockCount << '\n';
  } else {
    out << "blocks: unknown (" << failureName(stream.error()) << ")\n";
  }

  describeResources(stubBytes, out);

  if (options.verify) {
    if (!marker) return packError("the stub part carries no stub marker");
    if (auto checked = verifyMetadata(*build); !checked) return checked;
  }
  if (!options.list && !options.verify) return {};
  // Judged from the stream's index before any memory is taken for decoding.
  if (auto checked = verifyStream(*build); !checked) return checked;

  auto archive = decodePayload(build->payload, build->decompressedLength);
  if (!archive)
    return packError("payload does not decode: " + describeDecodeFailure(archive.error()));
  auto entries = walkArchive(archive->bytes(), options, out);
  if (!entries) return std::unexpected(entries.error());
  if (options.verify) {
    if (auto checked = verifyReleaseLayout(archive->bytes(), build->metadataText); !checked)
      return checked;
    out << "verified: " << *entries << " entries\n";
  }
  return {};
}

}  // namespace wexlo
