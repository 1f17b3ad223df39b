#include "support/launcher_kit.h"

#include <gtest/gtest.h>
#include <lzma.h>

#include <array>

#include "format/footer.h"

namespace wexlo::testing {

namespace {

void appendU64(std::string& out, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace

std::string makeArchive(const std::vector<ArchiveFile>& files, bool withTrailer) {
  std::string out = "ZELPA";
  for (const auto& file : files) {
    appendU64(out, file.path.size());
    out += file.path;
    appendU64(out, file.content.size());
    out += file.content;
    appendU64(out, file.mode);
  }
  if (withTrailer) out += "ZELPA";
  return out;
}

std::string xzCompress(std::string_view data, std::uint64_t blockSize) {
  std::string out(lzma_stream_buffer_bound(data.size()) + 4096, '\0');
  lzma_options_lzma lzma2{};
  lzma_lzma_preset(&lzma2, 1);
  const std::array<lzma_filter, 2> filters{
      {{LZMA_FILTER_LZMA2, &lzma2}, {LZMA_VLI_UNKNOWN, nullptr}}};
  lzma_mt mt{};
  mt.threads = 1;
  mt.block_size = blockSize;
  mt.filters = filters.data();
  mt.check = LZMA_CHECK_CRC32;
  lzma_stream stream = LZMA_STREAM_INIT;
  // Without a block size the single-threaded encoder writes one block.
  EXPECT_EQ(blockSize == 0 ? lzma_stream_encoder(&stream, filters.data(), LZMA_CHECK_CRC32)
                           : lzma_stream_encoder_mt(&stream, &mt),
            LZMA_OK);
  stream.next_in = reinterpret_cast<const std::uint8_t*>(data.data());
  stream.avail_in = data.size();
  stream.next_out = reinterpret_cast<std::uint8_t*>(out.data());
  stream.avail_out = out.size();
  lzma_ret ret = LZMA_OK;
  while (ret == LZMA_OK) ret = lzma_code(&stream, LZMA_FINISH);
  EXPECT_EQ(ret, LZMA_STREAM_END);
  out.resize(stream.total_out);
  lzma_end(&stream);
  return out;
}

std::string metadataText(std::string_view appName, std::string_view appVersion,
                         std::string_view ertsVersion) {
  std::string text = R"({"options":"--test","erts_version":")";
  text.append(ertsVersion).append(R"(","app_name":")").append(appName);
  text.append(R"(","app_version":")").append(appVersion);
  text.append(R"(","zig_build_arguments":["-O2"],"zig_version":"test"})");
  return text;
}

std::filesystem::path packerPath() { return WEXLO_PACKER_PATH; }
std::filesystem::path stubPath() { return WEXLO_STUB_PATH; }

namespace {

std::filesystem::path packRawWith(const std::vector<std::string>& stubChoice,
                                  const std::filesystem::path& output, std::string_view metadata,
                                  std::string_view payload, std::uint64_t decompressedLength,
                                  std::string_view appName) {
  auto metadataFile = output.string() + ".metadata.json";
  auto payloadFile = output.string() + ".payload.xz";
  writeFile(metadataFile, metadata);
  writeFile(payloadFile, payload);
  std::vector<std::string> args = {packerPath().string(),
                                   "pack",
                                   "--quiet",
                                   "--metadata",
                                   metadataFile,
                                   "--payload",
                                   payloadFile,
                                   "--decompressed-length",
                                   std::to_string(decompressedLength),
                                   "-o",
                                   output.string()};
  args.insert(args.end(), stubChoice.begin(), stubChoice.end());
  if (!appName.empty()) {
    args.push_back("--app-name");
    args.push_back(std::string(appName));
  }
  auto result = runProcess(args);
  EXPECT_EQ(result.status, 0) << result.err;
  return output;
}

const std::vector<std::string> kWindowsTarget = {"--target", "windows-x86_64"};

}  // namespace

std::filesystem::path assembleLauncher(const std::filesystem::path& output,
                                       std::string_view metadata, std::string_view payload,
                                       std::uint64_t decompressedLength, std::string_view appName) {
  std::string image = readFile(stubPath());
  const Footer footer{.payloadOffset = image.size(),
                      .payloadLength = payload.size(),
                      .decompressedLength = decompressedLength,
                      .metadataOffset = image.size() + payload.size(),
                      .metadataLength = static_cast<std::uint32_t>(metadata.size()),
                      .appNameLength = static_cast<std::uint32_t>(appName.size())};
  const auto bytes = encodeFooter(footer);
  image.append(payload).append(metadata).append(appName).append(bytes.begin(), bytes.end());
  writeFile(output, image);
  std::filesystem::permissions(output, std::filesystem::perms::owner_all);
  return output;
}

std::filesystem::path packRaw(const std::filesystem::path& output, std::string_view metadata,
                              std::string_view payload, std::uint64_t decompressedLength,
                              std::string_view appName) {
  return packRawWith({"--stub", stubPath().string()}, output, metadata, payload, decompressedLength,
                     appName);
}

std::filesystem::path packRawForWindows(const std::filesystem::path& output,
                                        std::string_view metadata, std::string_view payload,
                                        std::uint64_t decompressedLength,
                                        std::string_view appName) {
  return packRawWith(kWindowsTarget, output, metadata, payload, decompressedLength, appName);
}

std::filesystem::path packRawFor(std::string_view target, const std::filesystem::path& output,
                                 std::string_view metadata, std::string_view payload,
                                 std::uint64_t decompressedLength) {
  return packRawWith({"--target", std::string(target)}, output, metadata, payload,
                     decompressedLength, {});
}

std::filesystem::path packFilesForWindows(const std::filesystem::path& output,
                                          std::string_view metadata,
                                          const std::vector<ArchiveFile>& files) {
  std::string archive = makeArchive(files);
  return packRawForWindows(output, metadata, xzCompress(archive), archive.size());
}

void writeTree(const std::filesystem::path& directory, const std::vector<ArchiveFile>& files) {
  for (const auto& file : files) {
    writeFile(directory / file.path, file.content);
    if (file.mode & 0100) {
      std::filesystem::permissions(directory / file.path, std::filesystem::perms::owner_exec,
                                   std::filesystem::perm_options::add);
    }
  }
}

std::filesystem::path packRelease(const std::filesystem::path& release,
                                  const std::filesystem::path& output,
                                  const std::vector<std::string>& extraArgs) {
  std::vector<std::string> args = {packerPath().string(), "pack", "--quiet",
                                   release.string(),      "-o",   output.string()};
  args.insert(args.end(), extraArgs.begin(), extraArgs.end());
  auto result = runProcess(args);
  EXPECT_EQ(result.status, 0) << result.err;
  return output;
}

std::filesystem::path packFiles(const std::filesystem::path& output, std::string_view metadata,
                                const std::vector<ArchiveFile>& files) {
  std::string archive = makeArchive(files);
  return packRaw(output, metadata, xzCompress(archive), archive.size());
}

}  // namespace wexlo::testing
