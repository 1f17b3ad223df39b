#include "pack/inspect.h"

#include <algorithm>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "format/archive_reader.h"
#include "format/archive_stream.h"
#include "format/footer.h"
#include "format/payload_decoder.h"
#include "format/stub_marker.h"
#include "format/zstd_frames.h"
#include "image/executable_kind.h"
#include "image/pe_resources.h"
#include "metadata/build_metadata.h"
#include "metadata/start_mode.h"
#include "pack/files.h"
#include "pack/native_code.h"
#include "pack/stub.h"
#include "pack/system_libraries.h"
#include "pack/xz_encoder.h"
#include "platform/file_system.h"

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

// Gives back the pages of a mapped payload that a walk has passed.
using WalkedFn = std::function<void(std::span<const std::uint8_t>)>;

PackResult<void> verifyZstdFrames(const EmbeddedBuild& build, const WalkedFn& walked) {
  auto frames = readZstdFrames(build.payload, walked);
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

PackResult<void> verifyStream(const EmbeddedBuild& build, const WalkedFn& walked) {
  if (isZstdPayload(build.payload)) return verifyZstdFrames(build, walked);
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

// Whether the stream failed in its decoding rather than in the archive it carries.
bool isDecodeFailure(const DecodeFailure& failure) {
  return failure.code != 0 || !failure.zstdError.empty() ||
         (failure.failure != Failure::CorruptedData && failure.failure != Failure::BadHeader &&
          failure.failure != Failure::BadPathName);
}

PackError decodeError(const DecodeFailure& failure) {
  return PackError{"payload does not decode: " + describeDecodeFailure(failure)};
}

// Walks the archive as it is decoded, block by block, listing entries when
// asked and checking every one, and the release's layout, when verifying.
PackResult<std::size_t> walkArchive(ArchiveStream& archive, const InspectOptions& options,
                                    std::string_view metadataText, NativeCode& code,
                                    std::ostream& out) {
  if (auto opened = archive.open(); !opened) {
    if (isDecodeFailure(opened.error())) return std::unexpected(decodeError(opened.error()));
    return packError("archive does not start with ZELPA");
  }
  auto metadata = decodeBuildMetadata(metadataText);
  if (options.verify && !metadata) return packError("metadata does not parse");
  const std::string erts = metadata ? "erts-" + metadata->ertsVersion + "/" : "";
  const std::string releases = metadata ? "releases/" + metadata->appVersion + "/" : "";
  bool hasErts = false;
  bool hasRelease = false;
  std::set<std::string> seen;
  std::size_t count = 0;
  auto failed = [&](const DecodeFailure& failure) -> PackResult<std::size_t> {
    if (isDecodeFailure(failure)) return std::unexpected(decodeError(failure));
    return packError("archive entry " + std::to_string(count + 1) + " overruns the archive");
  };
  while (true) {
    auto entry = archive.nextEntry();
    if (!entry) return failed(entry.error());
    if (!*entry) break;
    const std::string path((*entry)->path);
    const std::uint64_t size = (*entry)->size;
    // A file is kept whole only while its first bytes may start a program.
    std::vector<std::uint8_t> content;
    bool mayBeNative = true;
    for (auto piece = archive.nextPiece(); !piece || !piece->empty(); piece = archive.nextPiece()) {
      if (!piece) return failed(piece.error());
      if (!mayBeNative) continue;
      content.insert(content.end(), piece->begin(), piece->end());
      if (content.size() >= image::kExecutableMagicSize) {
        mayBeNative = image::mayBeExecutable(content);
        if (!mayBeNative) content = {};
      }
    }
    code.paths.push_back(path);
    if (mayBeNative && image::mayBeExecutable(content)) {
      if (auto executable = image::identifyExecutable(content)) {
        code.files.push_back({path, std::move(*executable)});
      }
    }
    auto mode = archive.mode();
    if (!mode) return failed(mode.error());
    ++count;
    if (options.list) out << std::oct << *mode << std::dec << ' ' << size << ' ' << path << '\n';
    if (!options.verify) continue;
    if (!checkEntryPath(path)) return packError("archive holds an unsafe path '" + path + "'");
    if (!seen.insert(path).second) return packError("archive holds '" + path + "' twice");
    if (*mode != 0100644 && *mode != 0100755) {
      return packError("archive entry '" + path + "' has an unexpected mode");
    }
    hasErts = hasErts || path.starts_with(erts);
    hasRelease = hasRelease || path.starts_with(releases);
  }
  std::ranges::sort(code.paths);
  if (!options.verify) return count;
  auto trailer = archive.endsWithTrailer();
  if (!trailer) return failed(trailer.error());
  if (!*trailer) return packError("archive does not end with its ZELPA trailer");
  if (!hasErts) return packError("archive holds nothing under " + erts);
  if (!hasRelease) return packError("archive holds nothing under " + releases);
  return count;
}

// "system libraries: 2", then one line each: the name, the first file that
// needs it and how many more do.
void printSystemLibraries(const std::vector<SystemLibrary>& libraries, std::ostream& out) {
  out << "system libraries: " << libraries.size() << '\n';
  for (const SystemLibrary& library : libraries) {
    out << "  " << library.name << " (" << library.neededBy;
    if (library.users > 1) out << " and " << library.users - 1 << " more";
    out << ")\n";
  }
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
  // Mapped rather than read: a payload's pages are given back as its blocks
  // are decoded, so a large launcher is inspected in little memory.
  std::error_code error;
  if (std::filesystem::exists(options.launcher, error) &&
      !std::filesystem::is_regular_file(options.launcher, error)) {
    return packError("launcher is not a regular file: " + quoted(options.launcher));
  }
  auto mapped = realFileSystem().mapReadOnly(options.launcher.string());
  if (!mapped) {
    if (mapped.error() == Failure::FileNotFound) {
      return packError("launcher not found: " + quoted(options.launcher));
    }
    return packError("cannot read launcher " + quoted(options.launcher) + ": " +
                     std::string(failureName(mapped.error())));
  }
  const std::span<const std::uint8_t> image = (*mapped)->bytes();
  auto build = locateEmbeddedBuild(image);
  if (!build) {
    return packError("'" + options.launcher.string() + "' " +
                     (build.error() == Failure::InvalidExe ? "carries no packed release"
                                                           : "has a damaged footer"));
  }
  const auto stubBytes =
      image.first(static_cast<std::size_t>(build->payload.data() - image.data()));
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
  const WalkedFn giveBack = [&](std::span<const std::uint8_t> part) { (*mapped)->release(part); };
  if (zstd) {
    auto frames = readZstdFrames(build->payload, giveBack);
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
  // Plain inspection walks the archive too, for the system libraries; a
  // payload that does not decode is then reported rather than refused.
  const bool checking = options.list || options.verify;
  auto framing = verifyStream(*build, giveBack);
  if (!framing) {
    if (checking) return framing;
    out << "system libraries: unknown (" << framing.error().message << ")\n";
    return {};
  }
  // Decoded and walked block by block, in the memory a first run takes.
  NativeCode code;
  auto walked = [&]() -> PackResult<std::size_t> {
    const StreamOptions streamOptions{.done = giveBack};
    auto stream = PayloadStream::open(build->payload, build->decompressedLength, streamOptions);
    if (!stream) return std::unexpected(decodeError(stream.error()));
    ArchiveStream archive(**stream, build->decompressedLength);
    return walkArchive(archive, options, build->metadataText, code, out);
  }();
  if (!walked) {
    if (checking) return std::unexpected(walked.error());
    out << "system libraries: unknown (" << walked.error().message << ")\n";
    return {};
  }
  printSystemLibraries(systemLibraries(code, marker ? marker->target : std::string_view{}), out);
  if (options.verify) out << "verified: " << *walked << " entries\n";
  return {};
}

}  // namespace wexlo
