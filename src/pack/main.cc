// wexlo: packs an Erlang/Elixir release into one self-installing launcher.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <iostream>

#include "pack/files.h"
#include "pack/inspect.h"
#include "pack/packer.h"
#include "pack/progress_line.h"
#include "pack/summary_line.h"
#include "pack/xz_encoder.h"
#include "pack/zstd_encoder.h"
#include "platform/process_start.h"

namespace {

// CLI11 would wrap "-5" around into a huge unsigned value.
const CLI::Validator kUnsigned(
    [](std::string& value) {
      return value.starts_with('-') ? std::string("must not be negative") : std::string();
    },
    "");

// "wexlo 0.1.0" and the targets it can pack for without --stub.
std::string versionText(const std::vector<std::filesystem::path>& stubDirectories) {
  std::string text = "wexlo " WEXLO_VERSION "\n";
  const auto stubs = wexlo::installedStubs(stubDirectories);
  if (stubs.empty()) {
    text += "targets: none found in";
    for (const auto& directory : stubDirectories) text += " " + wexlo::quoted(directory);
    return text + " (give --stub FILE)";
  }
  std::size_t width = 0;
  for (const auto& stub : stubs) width = std::max(width, stub.target.size());
  text += "targets:";
  for (const auto& stub : stubs) {
    text += "\n  " + stub.target + std::string(width - stub.target.size() + 2, ' ') +
            stub.path.string();
  }
  return text;
}

int reportError(const wexlo::PackError& error) {
  std::fprintf(stderr, "wexlo: error: %s\n", error.message.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  // Else the launcher being written could take a closed stream's number.
  if (!wexlo::openClosedStandardStreams()) return 1;
  CLI::App app{"Packs an Erlang/Elixir release into one self-installing executable."};
  app.name("wexlo");
  app.require_subcommand(1);
  const auto stubDirectories = wexlo::stubDirectories(wexlo::packerDirectory());
  app.set_version_flag("--version", [&] { return versionText(stubDirectories); });

  CLI::App* pack = app.add_subcommand("pack", "Pack a release (or raw metadata and payload).");
  std::string releaseDirectory, output, metadataFile, payloadFile;
  std::optional<std::string> target, stub, appName, appVersion, ertsVersion;
  std::optional<std::uint64_t> blockSize, decompressedLength;
  std::optional<std::uint32_t> threads;
  std::string compression = "xz";
  std::optional<int> level;
  bool quiet = false, service = false;
  std::optional<std::string> icon;
  std::vector<std::string> versionInfo;
  pack->add_option("RELEASE_DIR", releaseDirectory, "The assembled release directory");
  // Checked below rather than by CLI11, so a missing -o gets the packer's own line and status.
  pack->add_option("-o,--output", output, "The launcher to write (required)");
  pack->add_option("--target", target, wexlo::targetNames());
  pack->add_option("--stub", stub, "The launcher stub (default: installed beside wexlo)");
  pack->add_option("--app-name", appName, "Overrides the release's name");
  pack->add_option("--app-version", appVersion, "Overrides the release's version");
  pack->add_option("--erts-version", ertsVersion, "Overrides the release's ERTS version");
  pack->add_option("--block-size", blockSize, "Bytes per xz block or zstd frame")
      ->check(kUnsigned)
      ->check(CLI::Range(wexlo::kMinXzBlockSize, wexlo::kMaxXzBlockSize));
  pack->add_option("--threads", threads, "Compression threads (0: one per core)")
      ->check(kUnsigned)
      ->check(CLI::Range(std::uint32_t{0}, wexlo::kMaxXzThreads));
  pack->add_option("--compression", compression,
                   "xz (smallest) or zstd (fastest first run); default xz")
      ->check(CLI::IsMember({"xz", "zstd"}));
  pack->add_option("--level", level, "zstd level (default 19)")
      ->check(CLI::Range(wexlo::minZstdLevel(), wexlo::maxZstdLevel()));
  pack->add_flag("--quiet", quiet, "No progress output");
  pack->add_flag("--service", service,
                 "Boot without Elixir's command-line handler, for a release that keeps running "
                 "(implied for a release without Elixir)");
  pack->add_option("--icon", icon, "windows-x86_64: the launcher's icon, an .ico file");
  pack->add_option("--version-info", versionInfo,
                   "windows-x86_64: a version string KEY=VALUE (repeatable), e.g. CompanyName=...")
      ->allow_extra_args(false);
  pack->add_option("--metadata", metadataFile, "Raw mode: the metadata text to embed");
  pack->add_option("--payload", payloadFile, "Raw mode: the xz payload to embed");
  pack->add_option("--decompressed-length", decompressedLength, "Raw mode: the archive's length")
      ->check(kUnsigned);

  CLI::App* inspect = app.add_subcommand("inspect", "Describe a packed launcher.");
  wexlo::InspectOptions inspectOptions;
  std::string launcher;
  inspect->add_option("LAUNCHER", launcher, "The launcher to inspect")->required();
  inspect->add_flag("--list", inspectOptions.list, "List the archive entries");
  inspect->add_flag("--verify", inspectOptions.verify, "Decode and check everything");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    // Help and version are CLI11's to print; a usage error is one of ours.
    if (error.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) return app.exit(error);
    return reportError({std::string(error.what()) + " (see wexlo --help)"});
  }

  if (inspect->parsed()) {
    inspectOptions.launcher = launcher;
    auto inspected = wexlo::inspectLauncher(inspectOptions, std::cout);
    std::cout.flush();
    return inspected ? 0 : reportError(inspected.error());
  }

  if (output.empty()) return reportError({"give the executable to write: -o FILE"});
  const wexlo::StubChoice stubChoice{target, stub, stubDirectories};
  const bool raw = !metadataFile.empty() || !payloadFile.empty() || decompressedLength;
  if (raw) {
    if (!releaseDirectory.empty() || appVersion || ertsVersion || blockSize || threads ||
        pack->count("--compression") || level || icon || !versionInfo.empty()) {
      return reportError(
          {"raw mode (--metadata, --payload, --decompressed-length) takes no "
           "RELEASE_DIR, --app-version, --erts-version, --block-size, --threads, --compression, "
           "--level, --icon or --version-info"});
    }
    if (metadataFile.empty() || payloadFile.empty() || !decompressedLength) {
      return reportError({"raw mode needs all of --metadata, --payload and --decompressed-length"});
    }
    auto packed = wexlo::packRaw(
        {metadataFile, payloadFile, *decompressedLength, appName, output, stubChoice, service});
    return packed ? 0 : reportError(packed.error());
  }
  if (releaseDirectory.empty()) {
    return reportError({"give a RELEASE_DIR (or --metadata, --payload and --decompressed-length)"});
  }
  const bool zstd = compression == "zstd";
  if (level && !zstd) return reportError({"--level applies to --compression zstd only"});

  wexlo::WindowsResourceOptions windowsResources{.icon = {}, .versionInfo = {}};
  if (icon) windowsResources.icon = *icon;
  for (const auto& text : versionInfo) {
    auto entry = wexlo::parseVersionInfo(text);
    if (!entry) return reportError(entry.error());
    windowsResources.versionInfo.push_back(std::move(*entry));
  }

  wexlo::ProgressLine progressLine(stderr);
  const bool showProgress = !quiet && ::isatty(STDERR_FILENO);
  wexlo::PackOptions options{
      .releaseDirectory = releaseDirectory,
      .output = output,
      .stub = stubChoice,
      .overrides = {appName, appVersion, ertsVersion},
      .blockSize = blockSize.value_or(0),
      .threads = threads.value_or(0),
      .service = service,
      .compression = zstd ? wexlo::Compression::Zstd : wexlo::Compression::Xz,
      .zstdLevel = level.value_or(wexlo::kDefaultZstdLevel),
      .windowsResources = std::move(windowsResources),
      .progress = {},
      .warning =
          [&](std::string_view message) {
            progressLine.finish();
            std::fprintf(stderr, "wexlo: warning: %.*s\n", static_cast<int>(message.size()),
                         message.data());
          },
  };
  if (showProgress) {
    options.progress = [&](std::string_view step, std::uint64_t done, std::uint64_t total) {
      progressLine.update(step, done, total);
    };
  }
  auto packed = wexlo::packRelease(options);
  progressLine.finish();
  if (!packed) return reportError(packed.error());
  if (showProgress) std::fprintf(stderr, "%s\n", wexlo::summaryLine(*packed, output).c_str());
  return 0;
}
