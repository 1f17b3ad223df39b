// Building blocks for black-box tests: archives, payloads and launchers made
// with the real packer, and runs of those launchers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/process_runner.h"

namespace wexlo::testing {

// What a launcher of "demo_app" prints when it has nowhere to install.
inline constexpr char kDemoAppLocationFailure[] =
    "[!] We could not install this application to the default directory.\n"
    "[!] This may be due to a permission error.\n"
    "[!] Please override the default demo_app install directory using the "
    "`DEMO_APP_INSTALL_DIR` environment variable.\n"
    "[!] On Linux or MacOS you can run the command: `export "
    "DEMO_APP_INSTALL_DIR=/some/other/path`\n"
    "[!] On Windows you can use: `SET DEMO_APP_INSTALL_DIR=D:\\some\\other\\path`\n";

struct ArchiveFile {
  std::string path;
  std::string content;
  std::uint64_t mode = 0100644;
};

// A ZELPA archive holding `files` in order.
std::string makeArchive(const std::vector<ArchiveFile>& files, bool withTrailer = true);

// One xz stream with the CRC32 check and the LZMA2 filter alone: one block,
// or blocks of `blockSize` bytes.
std::string xzCompress(std::string_view data, std::uint64_t blockSize = 0);

// Compact metadata text in the packer's member order.
std::string metadataText(std::string_view appName, std::string_view appVersion,
                         std::string_view ertsVersion);

std::filesystem::path packerPath();
std::filesystem::path stubPath();

// Packs a launcher in raw mode from exactly these bytes; fails the test when
// the packer fails.
std::filesystem::path packRaw(const std::filesystem::path& output, std::string_view metadata,
                              std::string_view payload, std::uint64_t decompressedLength,
                              std::string_view appName = {});

// A launcher holding `files` as its release.
std::filesystem::path packFiles(const std::filesystem::path& output, std::string_view metadata,
                                const std::vector<ArchiveFile>& files);

// The same two for Windows: `--target windows-x86_64`, with the stub the
// packer finds beside itself, as a user packs.
std::filesystem::path packRawForWindows(const std::filesystem::path& output,
                                        std::string_view metadata, std::string_view payload,
                                        std::uint64_t decompressedLength,
                                        std::string_view appName = {});
// Raw mode with `--target TARGET` and the stub the packer finds beside itself.
std::filesystem::path packRawFor(std::string_view target, const std::filesystem::path& output,
                                 std::string_view metadata, std::string_view payload,
                                 std::uint64_t decompressedLength);
std::filesystem::path packFilesForWindows(const std::filesystem::path& output,
                                          std::string_view metadata,
                                          const std::vector<ArchiveFile>& files);

// A launcher put together without the packer, from exactly these pieces:
// for builds the packer refuses to make.
std::filesystem::path assembleLauncher(const std::filesystem::path& output,
                                       std::string_view metadata, std::string_view payload,
                                       std::uint64_t decompressedLength, std::string_view appName);

// Writes `files` below `directory`, as a release on disk.
void writeTree(const std::filesystem::path& directory, const std::vector<ArchiveFile>& files);

// Packs the release directory `release` (`wexlo pack`, plus `extraArgs`);
// fails the test when the packer fails.
std::filesystem::path packRelease(const std::filesystem::path& release,
                                  const std::filesystem::path& output,
                                  const std::vector<std::string>& extraArgs = {});

}  // namespace wexlo::testing
