// Writes the seed inputs of every fuzzer, DIR/<fuzzer>/<seed>, with the
// packer's own encoders. The same program always writes the same bytes:
//   build/fuzz/bin/wexlo_seed_corpus fuzz/corpus
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "format/archive_writer.h"
#include "format/footer.h"
#include "format/stub_marker.h"
#include "metadata/build_metadata.h"
#include "pack/xz_encoder.h"
#include "pack/zstd_encoder.h"
#include "support/native_images.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::filesystem::path corpusRoot;

void writeSeed(std::string_view fuzzer, std::string_view seed, std::string_view bytes) {
  const auto directory = corpusRoot / fuzzer;
  std::filesystem::create_directories(directory);
  std::ofstream(directory / seed, std::ios::binary).write(bytes.data(), bytes.size());
}

void writeSeed(std::string_view fuzzer, std::string_view seed,
               std::span<const std::uint8_t> bytes) {
  writeSeed(fuzzer, seed, {reinterpret_cast<const char*>(bytes.data()), bytes.size()});
}

std::string utf16le(std::u16string_view text) {
  std::string bytes;
  for (char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

std::span<const std::uint8_t> bytesOf(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

void putU32(Bytes& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

Bytes sampleArchive() {
  wexlo::ArchiveWriter writer;
  (void)writer.add("releases/start_erl.data", bytesOf("13.1.5 0.1.3\n"), 0100644);
  (void)writer.add("erts-13.1.5/bin/erl", bytesOf("#!/bin/sh\nexec \"$0.real\" \"$@\"\n"), 0100755);
  (void)writer.add("lib/demo_app-0.1.3/.wexlo", {}, 0100644);
  return std::move(writer).finish();
}

Bytes compress(std::span<const std::uint8_t> input, std::uint64_t blockSize = 0) {
  return wexlo::compressPayload(input, {.threads = 1, .blockSize = blockSize, .preset = 6}).value();
}

const wexlo::BuildMetadata kSampleRecord = {
    .appName = "demo_app",
    .zigVersion = "GNU 12.2.0",
    .zigBuildArguments = {"-O3", "-DNDEBUG", "-static", "-s"},
    .appVersion = "0.1.3",
    .options = "--target linux-x86_64 --block-size 8388608",
    .ertsVersion = "13.1.5",
};

// stub | payload | metadata | app name | footer
Bytes launcherImage(Bytes image) {
  const Bytes archive = sampleArchive();
  const Bytes payload = compress(archive);
  const std::string metadata = wexlo::encodeBuildMetadata(kSampleRecord);
  const std::string_view appName = kSampleRecord.appName;
  const wexlo::Footer footer{
      .payloadOffset = image.size(),
      .payloadLength = payload.size(),
      .decompressedLength = archive.size(),
      .metadataOffset = image.size() + payload.size(),
      .metadataLength = static_cast<std::uint32_t>(metadata.size()),
      .appNameLength = static_cast<std::uint32_t>(appName.size()),
  };
  image.insert(image.end(), payload.begin(), payload.end());
  image.insert(image.end(), metadata.begin(), metadata.end());
  image.insert(image.end(), appName.begin(), appName.end());
  const auto footerBytes = wexlo::encodeFooter(footer);
  image.insert(image.end(), footerBytes.begin(), footerBytes.end());
  return image;
}

// A PE32+ launcher signed after packing: zero padding to 8 bytes, then the
// certificate table its security directory points at.
Bytes signedWindowsImage() {
  constexpr std::size_t kPeHeader = 0x80;
  constexpr std::size_t kOptionalHeader = kPeHeader + 24;
  constexpr std::size_t kSecurityEntry = kOptionalHeader + 144;
  Bytes stub(0x200, 0);
  stub[0] = 'M';
  stub[1] = 'Z';
  putU32(stub, 0x3c, kPeHeader);
  putU32(stub, kPeHeader, 0x00004550);      // "PE\0\0"
  putU32(stub, kPeHeader + 20, 240);        // optional header size
  putU32(stub, kOptionalHeader, 0x20b);     // PE32+
  putU32(stub, kOptionalHeader + 108, 16);  // data directory count
  Bytes image = launcherImage(std::move(stub));
  image.resize((image.size() + 7) / 8 * 8, 0);
  const std::size_t table = image.size();
  const Bytes certificate = {16, 0, 0, 0, 0, 2, 2, 0, 'c', 'e', 'r', 't', 'd', 'a', 't', 'a'};
  image.insert(image.end(), certificate.begin(), certificate.end());
  putU32(image, kSecurityEntry, table);
  putU32(image, kSecurityEntry + 4, certificate.size());
  return image;
}

Bytes sampleText(std::size_t size) {
  Bytes text;
  for (std::size_t line = 0; text.size() < size; ++line) {
    const std::string row =
        "{application, demo_app, [{vsn, \"0.1." + std::to_string(line) + "\"}]}.\n";
    text.insert(text.end(), row.begin(), row.end());
  }
  text.resize(size);
  return text;
}

std::string withDeclaredLength(std::uint16_t length, std::span<const std::uint8_t> stream) {
  std::string input = {static_cast<char>(length & 0xFF), static_cast<char>(length >> 8)};
  return input.append(reinterpret_cast<const char*>(stream.data()), stream.size());
}

void writeAll() {
  writeSeed("build_metadata", "packed", wexlo::encodeBuildMetadata(kSampleRecord));
  writeSeed("build_metadata", "reordered",
            R"({ "app_version" : "1.0.0-rc.1", "app_name": "caf\u00e9 \"\ud83d\ude00\"",)"
            "\n"
            R"(  "zig_build_arguments": [], "erts_version":"13.1.5\t\/" })");
  writeSeed("build_metadata", "empty", "{}");

  writeSeed("semantic_version", "chain", "1.0.0-alpha\n1.0.0-alpha.1\n1.0.0-alpha.beta");
  writeSeed("semantic_version", "build", "1.0.0-beta.11+build.5\n1.0.0+exp.sha.5114f85\n1.0.0");
  writeSeed("semantic_version", "numbers", "18446744073709551615.0.0\n2.10.0-rc.1\n2.9.0-0.3.7");

  const Bytes archive = sampleArchive();
  writeSeed("archive_reader", "release", archive);
  writeSeed("archive_reader", "no_trailer", std::span(archive).first(archive.size() - 5));

  writeSeed("footer", "linux", launcherImage(Bytes{0x7f, 'E', 'L', 'F', 2, 1, 1, 0}));
  writeSeed("footer", "windows_signed", signedWindowsImage());

  using namespace std::string_view_literals;
  writeSeed("stub_marker", "marker",
            "\x7f"
            "ELF code " WEXLO_STUB_MARKER_PREFIX
            "linux-x86_64\x1fGNU 12.2.0\x1f-O3 -DNDEBUG -static -s\x1f\0 more code"sv);
  writeSeed("stub_marker", "stray_prefix_first",
            WEXLO_STUB_MARKER_PREFIX "cut short\0" WEXLO_STUB_MARKER_PREFIX
                                     "windows-x86_64\x1fGNU 12\x1f\x1f\0"sv);

  const Bytes text = sampleText(3000);
  const Bytes oneBlock = compress(text);
  const Bytes threeBlocks = compress(text, 1024);
  const Bytes empty = compress({});
  writeSeed("xz_stream_layout", "one_block", oneBlock);
  writeSeed("xz_stream_layout", "three_blocks", threeBlocks);
  writeSeed("xz_stream_layout", "empty", empty);
  writeSeed("payload_decoder", "one_block", withDeclaredLength(text.size(), oneBlock));
  writeSeed("payload_decoder", "three_blocks", withDeclaredLength(text.size(), threeBlocks));
  writeSeed("payload_decoder", "empty", withDeclaredLength(0, empty));

  // The zstd decoder's two kinds of input: a payload as it is (mode byte 0),
  // and content to compress into frames and damage (mode byte 1).
  auto zstdFrames = [](std::span<const std::uint8_t> input, std::uint64_t frameSize) {
    return wexlo::compressZstdPayload(input, {.threads = 1, .blockSize = frameSize, .level = 3})
        .value();
  };
  auto asIs = [](std::uint16_t length, std::span<const std::uint8_t> payload) {
    return std::string(1, '\0') + withDeclaredLength(length, payload);
  };
  const Bytes shortText = sampleText(300);
  writeSeed("zstd_payload_decoder", "one_frame", asIs(3000, zstdFrames(text, 0)));
  writeSeed("zstd_payload_decoder", "three_frames", asIs(300, zstdFrames(shortText, 100)));
  writeSeed("zstd_payload_decoder", "damaged_checksum",
            std::string("\x01\x63\xFF\xFF\x01") + std::string(shortText.begin(), shortText.end()));
  writeSeed("zstd_payload_decoder", "intact",
            std::string("\x01\x1F\x00\x00\x00") + std::string(shortText.begin(), shortText.end()));

  writeSeed("command_line", "utf16_line",
            utf16le(uR"("C:\Program Files\app.exe" -s elixir "a b" c\"d "e\\" "" f\\\"g "h""i")"
                    u" \u20ac"));
  writeSeed("command_line", "nul_separated",
            "app\0a b\0c\"d\0e\\\0\0tab\there\\\\\0\xe2\x82\xac"sv);

  writeSeed(
      "environment_block", "drives_and_empty",
      utf16le(u"=C:=C:\\dir\0Path=C:\\Windows\0HOME=\0NOEQUALS\0path=again\0\0AFTER=end\0"sv));
  writeSeed("environment_block", "surrogates", utf16le(u"A=\xd83d\xde00\0\xdc00=\xd800\0\0"sv));

  using namespace wexlo::testing;
  writeSeed("image", "elf_program",
            elfImage({.needed = {"libc.so.6", "libtinfo.so.6"}, .interpreter = true}));
  writeSeed("image", "elf_library", elfImage({.machine = kElfAarch64, .needed = {"libc.so.6"}}));
  writeSeed("image", "pe_program", peFile({.imports = {"KERNEL32.dll", "VCRUNTIME140.dll"}}));
  writeSeed("image", "pe32_dll", peFile({.machine = kPeI386, .pe32Plus = false, .dll = true}));
  writeSeed("image", "pe_signed", signedWindowsImage());
  writeSeed("image", "macho_fat", fatMachOImage({0x01000007, 0x0100000c}));
  writeSeed("image", "java_class", "\xca\xfe\xba\xbe\0\0\0\x34\0\x10\x0a\0\x03"sv);

  writeSeed("wtf8", "utf8", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 lone \xed\xa0\x80 end"sv);
  writeSeed("wtf8", "utf16", utf16le(u"caf\xe9 \xd83d\xde00 lone \xdc00\xd800 end"sv));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  corpusRoot = argv[1];
  writeAll();
  return 0;
}
