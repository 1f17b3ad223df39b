#include <gtest/gtest.h>
#include <lzma.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>

#include "format/archive_reader.h"
#include "format/footer.h"
#include "format/payload_decoder.h"
#include "metadata/build_metadata.h"
#include "metadata/payload_digest.h"
#include "metadata/start_mode.h"
#include "pack/files.h"
#include "pack/inspect.h"
#include "pack/launcher_writer.h"
#include "pack/packer.h"
#include "pack/release_archive.h"
#include "pack/release_cookie.h"
#include "pack/xz_encoder.h"
#include "support/native_images.h"
#include "support/pe_images.h"

namespace wexlo {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

std::string stubMarker(std::string_view target) {
  return std::string("WEXLO-STUB-MARKER\x1f") + std::string(target) +
         "\x1fGNU 12.2.0\x1f-O2 -static  -s\x1f" + std::string(1, '\0');
}

// A Windows stub is a PE image, which the packer writes resources into.
std::string stubBytes(std::string_view target) {
  if (target != "windows-x86_64") {
    return "\x7f"
           "ELF fake stub\0" +
           stubMarker(target) + std::string(64, '\x90');
  }
  const auto image = testing::peImage({".text"});
  std::string stub(image.begin(), image.end());
  return stub.replace(0x200, stubMarker(target).size(), stubMarker(target));
}

// The 64-byte header of a little-endian 64-bit ELF program for `machine`.
std::string elfHeader(std::uint16_t machine) {
  std::string header(64, '\0');
  header[0] = '\x7f';
  header.replace(1, 6, "ELF\x02\x01\x01");  // 64-bit, little-endian, version 1
  header[16] = '\x02';                      // e_type: a program
  header[20] = '\x01';                      // e_version
  header[18] = static_cast<char>(machine & 0xFF);
  header[19] = static_cast<char>(machine >> 8);
  return header;
}

class PackerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/wexlo-packer-test-XXXXXX";
    root_ = mkdtemp(pattern);
    release_ = root_ / "rel";
    stubs_ = root_ / "stubs";
    out_ = root_ / "out";
    fs::create_directories(stubs_);
    fs::create_directories(out_);
    write(stubs_ / "wexlo-stub-linux-x86_64", stubBytes("linux-x86_64"));
    write(stubs_ / "wexlo-stub-windows-x86_64.exe", stubBytes("windows-x86_64"));
    write(stubs_ / "wexlo-stub-linux-aarch64", stubBytes("linux-aarch64"));
    write(release_ / "releases/start_erl.data", "13.1.5 0.1.0\n");
    write(release_ / "releases/0.1.0/demo_app.rel",
          "{release,{\"demo_app\",\"0.1.0\"},{erts,\"13.1.5\"},[{elixir,\"1.14.0\"}]}.");
    write(release_ / "releases/COOKIE", "secret");
    write(release_ / "erts-13.1.5/bin/erl", "#!/bin/sh\n");
    write(release_ / "bin/demo_app", "#!/bin/sh\n");
    // Enough varied bytes for several 64 KiB blocks.
    std::string beam;
    std::uint32_t state = 12345;
    for (int i = 0; i < 300000; ++i) {
      state = state * 1103515245 + 12345;
      beam.push_back(static_cast<char>('a' + (state >> 16) % 16));
    }
    write(release_ / "lib/demo_app-0.1.0/ebin/Elixir.Demo.beam", beam);
  }
  void TearDown() override { fs::remove_all(root_); }

  static void write(const fs::path& path, std::string_view content) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
  }
  static std::string read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static Bytes bytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

  PackOptions options(const fs::path& output) const {
    PackOptions options;
    options.releaseDirectory = release_;
    options.output = output;
    options.stub.directories = {stubs_};
    options.blockSize = 65536;
    return options;
  }

  std::string inspect(const fs::path& launcher, bool list, bool verify,
                      std::string* error = nullptr) {
    std::ostringstream out;
    auto inspected = inspectLauncher({launcher, list, verify}, out);
    if (error) *error = inspected ? "" : inspected.error().message;
    return out.str();
  }

  fs::path root_, release_, stubs_, out_;
};

TEST_F(PackerTest, WritesAStubWithTheReleaseAppended) {
  const fs::path launcher = out_ / "demo";
  auto packed = packRelease(options(launcher));
  ASSERT_TRUE(packed) << packed.error().message;
  EXPECT_EQ(packed->appName, "demo_app");
  EXPECT_EQ(packed->fileCount, 7u);  // six of the release's and lib/.wexlo
  EXPECT_EQ(packed->launcherBytes, fs::file_size(launcher));

  const std::string image = read(launcher);
  const std::string stub = stubBytes("linux-x86_64");
  EXPECT_EQ(image.substr(0, stub.size()), stub);
  EXPECT_EQ(fs::status(launcher).permissions() & fs::perms::all, fs::perms(0755));
  EXPECT_EQ(std::distance(fs::directory_iterator(out_), {}), 1);  // no temporary left

  const Bytes imageBytes = bytes(image);
  auto build = locateEmbeddedBuild(imageBytes);
  ASSERT_TRUE(build);
  EXPECT_EQ(build->appName, "demo_app");
  EXPECT_EQ(
      build->metadataText,
      "{\"options\":\"--target linux-x86_64 --block-size 65536 --payload-crc64 " +
          crc64Hex(build->payload) +
          "\",\"erts_version\":\"13.1.5\","
          "\"app_name\":\"demo_app\",\"app_version\":\"0.1.0\",\"zig_build_arguments\":[\"-O2\","
          "\"-static\",\"-s\"],\"zig_version\":\"GNU 12.2.0\"}");

  auto release = readRelease(release_, {});
  ASSERT_TRUE(release);
  auto archive = buildReleaseArchive(*release);
  ASSERT_TRUE(archive);
  EXPECT_EQ(build->decompressedLength, archive->size());
  auto decoded = decodePayload(build->payload, build->decompressedLength);
  ASSERT_TRUE(decoded);
  EXPECT_TRUE(std::ranges::equal(decoded->bytes(), *archive));
}

TEST_F(PackerTest, SameInputsGiveTheSameBytesWhateverTheThreadCount) {
  auto one = options(out_ / "one");
  one.threads = 1;
  auto two = options(out_ / "two");
  two.threads = 2;
  auto again = options(out_ / "again");
  again.threads = 1;
  ASSERT_TRUE(packRelease(one));
  ASSERT_TRUE(packRelease(two));
  ASSERT_TRUE(packRelease(again));
  const std::string image = read(out_ / "one");
  EXPECT_EQ(image, read(out_ / "two"));
  EXPECT_EQ(image, read(out_ / "again"));

  const Bytes imageBytes = bytes(image);
  auto build = locateEmbeddedBuild(imageBytes);
  ASSERT_TRUE(build);
  auto stream = describeXzStream(build->payload);
  ASSERT_TRUE(stream);
  EXPECT_GT(stream->blockCount, 1u);
  EXPECT_EQ(stream->check, 1u);  // CRC32
}

TEST_F(PackerTest, AReleaseRebuiltUnderTheSameVersionGetsAnotherRecord) {
  // The check value of CRC-64/XZ.
  const std::string nine = "123456789";
  EXPECT_EQ(crc64Hex(bytes(nine)), "995dc9bbdf1939fa");
  ASSERT_TRUE(packRelease(options(out_ / "one")));
  write(release_ / "lib/demo_app-0.1.0/ebin/Elixir.Extra.beam", "rebuilt");
  ASSERT_TRUE(packRelease(options(out_ / "two")));
  const Bytes one = bytes(read(out_ / "one")), two = bytes(read(out_ / "two"));
  auto first = locateEmbeddedBuild(one), second = locateEmbeddedBuild(two);
  ASSERT_TRUE(first && second);
  EXPECT_NE(first->metadataText, second->metadataText);
  auto a = decodeBuildMetadata(first->metadataText), b = decodeBuildMetadata(second->metadataText);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(payloadDigestIn(a->options), crc64Hex(first->payload));
  EXPECT_EQ(payloadDigestIn(b->options), crc64Hex(second->payload));
  EXPECT_EQ(a->appVersion, b->appVersion);
}

TEST_F(PackerTest, TheServiceModeIsRecordedBeforeTheUsersOverridesAndShown) {
  auto service = options(out_ / "service");
  service.service = true;
  service.overrides.appName = "odd --service name";
  ASSERT_TRUE(packRelease(service));
  const Bytes image = bytes(read(out_ / "service"));
  auto build = locateEmbeddedBuild(image);
  ASSERT_TRUE(build);
  auto record = decodeBuildMetadata(build->metadataText);
  ASSERT_TRUE(record);
  EXPECT_TRUE(record->options.starts_with(
      "--target linux-x86_64 --block-size 65536 --service --app-name odd --service name "))
      << record->options;
  EXPECT_EQ(startModeIn(record->options), StartMode::Service);
  EXPECT_EQ(payloadDigestIn(record->options), crc64Hex(build->payload));
  EXPECT_NE(inspect(out_ / "service", false, false).find("\nstart mode: service\n"),
            std::string::npos);

  // The user's words alone never make a service.
  service.service = false;
  ASSERT_TRUE(packRelease(service));
  EXPECT_NE(inspect(out_ / "service", false, false).find("\nstart mode: command line\n"),
            std::string::npos);
}

// rebar3's releases: no elixir application, the cookie in vm.args or nowhere.
TEST_F(PackerTest, AReleaseWithoutElixirOrCookieBootsAsAServiceAndGetsACookie) {
  fs::remove(release_ / "releases/COOKIE");
  write(release_ / "releases/0.1.0/demo_app.rel",
        R"({release,{"demo_app","0.1.0"},{erts,"13.1.5"},[{kernel,"8.5"},{demo_app,"0.1.0"}]}.)");
  std::vector<std::string> notes;
  auto cookieOf = [&](const std::string& name) {
    auto packed = packRelease(options(out_ / name));
    notes = packed ? packed->notes : std::vector<std::string>{};
    const Bytes image = bytes(read(out_ / name));
    auto build = locateEmbeddedBuild(image);
    EXPECT_EQ(startModeIn(decodeBuildMetadata(build->metadataText)->options), StartMode::Service);
    auto archive = decodePayload(build->payload, build->decompressedLength);
    auto reader = ArchiveReader::open(archive->bytes());
    for (auto entry = reader->next(); entry && *entry; entry = reader->next()) {
      const auto& e = **entry;
      if (e.path == "releases/COOKIE") return std::string(e.content.begin(), e.content.end());
    }
    return std::string("none");
  };
  const std::string derived = cookieOf("derived");
  // The digest of the whole archive as it holds the placeholder, as ever:
  // a release packed again keeps the cookie its nodes know.
  auto placeholder = readRelease(release_, {});
  ASSERT_TRUE(placeholder && addMissingCookie(*placeholder, std::nullopt));
  auto archive = buildReleaseArchive(*placeholder);
  ASSERT_TRUE(archive);
  EXPECT_EQ(derived, cookieFromDigest(lzma_crc64(archive->data(), archive->size(), 0)));
  EXPECT_TRUE(notes.front().starts_with("start mode: service, as the release has no elixir"));
  EXPECT_EQ(notes.back(),
            "added releases/COOKIE, derived from the release "
            "(releases/0.1.0/vm.args sets no -setcookie)");
  EXPECT_TRUE(std::ranges::all_of(derived, [](char c) { return c >= 'A' && c <= 'Z'; })) << derived;
  EXPECT_EQ(derived.size(), 20u);
  EXPECT_EQ(cookieOf("again"), derived);
  EXPECT_EQ(read(out_ / "derived"), read(out_ / "again"));
  write(release_ / "lib/demo_app-0.1.0/ebin/demo_app.app", "{application,demo_app,[]}.");
  EXPECT_NE(cookieOf("other"), derived);
  EXPECT_FALSE(fs::exists(release_ / "releases/COOKIE"));

  write(release_ / "releases/0.1.0/vm.args", "-sname demo\n-setcookie from_args\n");
  EXPECT_EQ(cookieOf("args"), "from_args");
  EXPECT_TRUE(
      notes.at(1).starts_with("added releases/COOKIE: the -setcookie of releases/0.1.0/vm.args"));
  EXPECT_TRUE(notes.at(2).starts_with("releases/0.1.0/vm.args names the node (-sname demo)"));
  write(release_ / "releases/COOKIE", "own");
  EXPECT_EQ(cookieOf("own"), "own");
  EXPECT_EQ(notes.at(1),
            "left -setcookie out of the packed releases/0.1.0/vm.args: the launcher "
            "passes the cookie of releases/COOKIE");
}

TEST_F(PackerTest, ChoosesAndChecksTheStub) {
  write(release_ / "erts-13.1.5/bin/erl.exe", testing::peFile({}));
  auto windows = options(out_ / "demo.exe");
  windows.stub.target = "windows-x86_64";
  ASSERT_TRUE(packRelease(windows));
  EXPECT_TRUE(read(out_ / "demo.exe").contains(stubMarker("windows-x86_64")));

  struct Case {
    const char* name;
    std::optional<std::string> target;
    std::optional<fs::path> stub;
    std::string expected;
  };
  write(root_ / "plain", "no marker in here");
  fs::remove(release_ / "erts-13.1.5/bin/erl.exe");
  ASSERT_TRUE(packRelease(options(out_ / "packed")));
  const std::vector<Case> cases = {
      {"wrong target", "linux-x86_64", stubs_ / "wexlo-stub-windows-x86_64.exe",
       "is for windows-x86_64, not linux-x86_64"},
      {"unknown target", "riscv", std::nullopt, "unknown target 'riscv'"},
      {"no marker", std::nullopt, root_ / "plain", "no stub marker"},
      {"missing", std::nullopt, root_ / "absent", "stub not found"},
      {"already packed", std::nullopt, out_ / "packed", "already carries a release"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto bad = options(out_ / "bad");
    bad.stub.target = c.target;
    bad.stub.path = c.stub;
    auto packed = packRelease(bad);
    ASSERT_FALSE(packed);
    EXPECT_NE(packed.error().message.find(c.expected), std::string::npos) << packed.error().message;
    EXPECT_FALSE(fs::exists(out_ / "bad"));
  }
}

TEST_F(PackerTest, FindsStubsBesideThePackerFirstThenInItsInstallDirectory) {
  const fs::path bin = root_ / "prefix/bin";
  const fs::path lib = root_ / "prefix/lib/wexlo";
  write(bin / "wexlo-stub-linux-x86_64", stubBytes("linux-x86_64"));
  write(bin / "unrelated", "");
  write(lib / "wexlo-stub-linux-x86_64", "older copy, never read");
  write(lib / "wexlo-stub-windows-x86_64.exe", stubBytes("windows-x86_64"));
  const auto directories = stubDirectories(bin);
  ASSERT_EQ(directories, (std::vector<fs::path>{bin, lib}));

  const auto stubs = installedStubs(directories);
  ASSERT_EQ(stubs.size(), 2u);
  EXPECT_EQ(stubs[0].target, "linux-x86_64");
  EXPECT_EQ(stubs[0].path, bin / "wexlo-stub-linux-x86_64");
  EXPECT_EQ(stubs[1].target, "windows-x86_64");
  EXPECT_EQ(stubs[1].path, lib / "wexlo-stub-windows-x86_64.exe");
  EXPECT_TRUE(installedStubs({root_ / "absent"}).empty());

  write(release_ / "erts-13.1.5/bin/erl.exe", testing::peFile({}));
  for (const char* target : {"linux-x86_64", "windows-x86_64"}) {
    SCOPED_TRACE(target);
    auto installed = options(out_ / target);
    installed.stub = {target, std::nullopt, directories};
    installed.allowForeign = {"erts-13.1.5/bin/erl.exe"};  // on Linux
    ASSERT_TRUE(packRelease(installed));
    EXPECT_TRUE(read(out_ / target).contains(stubMarker(target)));
  }
  auto notInstalled = options(out_ / "none");
  notInstalled.stub = {"windows-x86_64", std::nullopt, {bin}};
  auto packed = packRelease(notInstalled);
  ASSERT_FALSE(packed);
  EXPECT_EQ(packed.error().message,
            "no stub for windows-x86_64: wexlo-stub-windows-x86_64.exe "
            "is not in '" +
                bin.string() + "' (install it there, or give --stub FILE)");
}

TEST_F(PackerTest, RefusesAReleaseWithoutTheTargetsRuntime) {
  auto windows = options(out_ / "demo.exe");
  windows.stub.target = "windows-x86_64";
  auto packed = packRelease(windows);
  ASSERT_FALSE(packed);
  EXPECT_NE(packed.error().message.find("erl.exe' is missing (build the release on Windows)"),
            std::string::npos)
      << packed.error().message;
  EXPECT_FALSE(fs::exists(out_ / "demo.exe"));
  EXPECT_TRUE(packRelease(options(out_ / "demo")));
}

TEST_F(PackerTest, RefusesAReleaseBuiltForAnotherCpu) {
  struct Case {
    std::string target;
    std::string program;  // in erts-13.1.5/bin; empty: none there
    std::string content;
    std::string expected;  // empty: packs
  };
  const std::string bin = (release_ / "erts-13.1.5/bin/").string();
  const std::vector<Case> cases = {
      {"linux-aarch64", "", "", ""},
      {"linux-aarch64", "beam.smp", elfHeader(183), ""},
      {"linux-aarch64", "erlexec", "#!/bin/sh\n", ""},
      {"linux-x86_64", "erlexec", elfHeader(62), ""},
      {"linux-aarch64", "beam.smp", elfHeader(62),
       "release's runtime is built for x86-64, not for linux-aarch64: '" + bin +
           "beam.smp' (pack it with --target linux-x86_64)"},
      {"linux-x86_64", "erlexec", elfHeader(183),
       "built for aarch64, not for linux-x86_64: '" + bin +
           "erlexec' (pack it with --target linux-aarch64)"},
      {"linux-aarch64", "erlexec", elfHeader(40),
       "built for arm (32-bit), not for linux-aarch64: '" + bin +
           "erlexec' (build the release for linux-aarch64)"},
      {"linux-x86_64", "beam.smp", elfHeader(0),
       "built for ELF machine 0, not for linux-x86_64: '" + bin +
           "beam.smp' (build the release for linux-x86_64)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.target + " " + c.program + " " + c.expected);
    if (!c.program.empty()) write(bin + c.program, c.content);
    auto packing = options(out_ / "demo");
    packing.stub.target = c.target;
    auto packed = packRelease(packing);
    if (c.expected.empty()) {
      EXPECT_TRUE(packed) << packed.error().message;
      EXPECT_TRUE(read(out_ / "demo").starts_with(stubBytes(c.target)));
    } else {
      ASSERT_FALSE(packed);
      EXPECT_NE(packed.error().message.find(c.expected), std::string::npos)
          << packed.error().message;
    }
    fs::remove(out_ / "demo");
    if (!c.program.empty()) fs::remove(bin + c.program);
  }
}

TEST_F(PackerTest, FailuresLeaveNoOutputBehind) {
  // A directory in the launcher's place is refused before anything is packed.
  fs::create_directory(out_ / "taken");
  auto packed = packRelease(options(out_ / "taken"));
  ASSERT_FALSE(packed);
  EXPECT_EQ(packed.error().message, "output " + quoted(out_ / "taken") +
                                        " is a directory; give the launcher's own "
                                        "name, e.g. -o " +
                                        quoted(out_ / "taken/my_app"));
  EXPECT_EQ(std::distance(fs::directory_iterator(out_), {}), 1);
  EXPECT_TRUE(fs::is_directory(out_ / "taken"));

  EXPECT_FALSE(packRelease(options(root_ / "missing-dir" / "demo")));
  EXPECT_FALSE(fs::exists(root_ / "missing-dir"));

  // A file that grows while it is packed, and a payload that fills the
  // disk, are told as such, for either compression.
  for (auto compression : {Compression::Xz, Compression::Zstd}) {
    auto growing = options(out_ / "grown");
    growing.compression = compression;
    bool grown = false;
    growing.progress = [&](std::string_view, std::uint64_t, std::uint64_t) {
      if (!std::exchange(grown, true)) write(release_ / "bin/demo_app", "#!/bin/sh\nexec a\n");
    };
    packed = packRelease(growing);
    write(release_ / "bin/demo_app", "#!/bin/sh\n");
    ASSERT_FALSE(packed);
    EXPECT_EQ(packed.error().message, "release file '" + (release_ / "bin/demo_app").string() +
                                          "' changed while it was packed; pack again once it "
                                          "stays put");
    auto full = options(out_ / "full");
    full.compression = compression;
    rlimit before{};
    ::getrlimit(RLIMIT_FSIZE, &before);
    rlimit small = before;
    small.rlim_cur = 8192;
    ::setrlimit(RLIMIT_FSIZE, &small);
    packed = packRelease(full);
    ::setrlimit(RLIMIT_FSIZE, &before);
    ASSERT_FALSE(packed);
    EXPECT_EQ(packed.error().message,
              "cannot write '" + (out_ / "full").string() + "': File too large");
    EXPECT_EQ(std::distance(fs::directory_iterator(out_), {}), 1);
  }

  // A bad release leaves an earlier launcher as it was.
  write(out_ / "demo", "previous launcher");
  fs::remove(release_ / "releases/start_erl.data");
  EXPECT_FALSE(packRelease(options(out_ / "demo")));
  EXPECT_EQ(read(out_ / "demo"), "previous launcher");
}

TEST_F(PackerTest, RawModeEmbedsTheGivenBytes) {
  write(root_ / "meta.json", "not json at all");
  write(root_ / "payload.xz", std::string("\0\x01garbage", 9));
  RawPackOptions raw{root_ / "meta.json", root_ / "payload.xz", 77, "raw_app", out_ / "raw", {}};
  raw.stub.directories = {stubs_};
  ASSERT_TRUE(packRaw(raw));
  const Bytes rawBytes = bytes(read(out_ / "raw"));
  auto build = locateEmbeddedBuild(rawBytes);
  ASSERT_TRUE(build);
  EXPECT_EQ(build->metadataText, "not json at all");
  EXPECT_EQ(std::string(build->payload.begin(), build->payload.end()),
            std::string("\0\x01garbage", 9));
  EXPECT_EQ(build->appName, "raw_app");
  EXPECT_EQ(build->decompressedLength, 77u);

  raw.appName.reset();
  auto refused = packRaw(raw);
  ASSERT_FALSE(refused);
  EXPECT_NE(refused.error().message.find("--app-name"), std::string::npos);

  write(root_ / "meta.json",
        R"({"app_name":"from_meta","app_version":"1.0.0","erts_version":"1"})");
  ASSERT_TRUE(packRaw(raw));
  EXPECT_EQ(locateEmbeddedBuild(bytes(read(out_ / "raw")))->appName, "from_meta");

  // The record is embedded as given, so --service needs it to say so already.
  raw.service = true;
  auto unrecorded = packRaw(raw);
  ASSERT_FALSE(unrecorded);
  EXPECT_NE(unrecorded.error().message.find("--service in raw mode"), std::string::npos);
  write(root_ / "meta.json", "not json");
  raw.appName = "raw_app";
  EXPECT_FALSE(packRaw(raw));
  const std::string recorded =
      R"({"options":"--service","app_name":"a","app_version":"1.0.0","erts_version":"1"})";
  write(root_ / "meta.json", recorded);
  ASSERT_TRUE(packRaw(raw));
  EXPECT_EQ(locateEmbeddedBuild(bytes(read(out_ / "raw")))->metadataText, recorded);
}

TEST_F(PackerTest, InspectDescribesAndVerifies) {
  const fs::path launcher = out_ / "demo";
  ASSERT_TRUE(packRelease(options(launcher)));
  std::string error;
  const std::string listing = inspect(launcher, true, true, &error);
  EXPECT_EQ(error, "");
  EXPECT_NE(listing.find("target: linux-x86_64\n"), std::string::npos);
  EXPECT_NE(listing.find("metadata: {\"options\":"), std::string::npos);
  EXPECT_NE(listing.find("\n100644 0 lib/.wexlo\n100644 300000 lib/demo_app-0.1.0/ebin/"),
            std::string::npos);
  EXPECT_NE(listing.find("verified: 7 entries"), std::string::npos);

  // Damage inside the payload: only decoding notices.
  std::string image = read(launcher);
  const Bytes imageBytes = bytes(image);
  auto build = locateEmbeddedBuild(imageBytes);
  const std::size_t payloadAt = stubBytes("linux-x86_64").size();
  image[payloadAt + build->payload.size() / 2] ^= 0x55;
  write(out_ / "damaged", image);
  inspect(out_ / "damaged", false, false, &error);
  EXPECT_EQ(error, "");
  inspect(out_ / "damaged", false, true, &error);
  EXPECT_NE(error, "");

  image = read(launcher);
  image[image.size() - 30] ^= 1;
  write(out_ / "footer", image);
  inspect(out_ / "footer", false, false, &error);
  EXPECT_NE(error.find("damaged footer"), std::string::npos);

  inspect(stubs_ / "wexlo-stub-linux-x86_64", false, false, &error);
  EXPECT_NE(error.find("carries no packed release"), std::string::npos);

  // Bytes that are not xz, under a record the packer would refuse, can be
  // looked at but not verified.
  const std::string stub = stubBytes("linux-x86_64");
  ASSERT_TRUE(writeLauncher(out_ / "raw", {.stub = bytes(stub),
                                           .payload = bytes(std::string("garbage")),
                                           .decompressedLength = 10,
                                           .metadataText = R"({"app_name":"x"})",
                                           .appName = "x"}));
  EXPECT_NE(inspect(out_ / "raw", false, false, &error).find("blocks: unknown"), std::string::npos);
  EXPECT_EQ(error, "");
  inspect(out_ / "raw", false, true, &error);
  EXPECT_NE(error.find("metadata lacks"), std::string::npos);
}

TEST_F(PackerTest, InspectNamesTheSystemLibrariesTheReleaseNeeds) {
  using testing::elfImage;
  using testing::peFile;
  const std::string nif = "lib/crypto-5.1.2/priv/lib/crypto.so";
  write(release_ / nif, elfImage({.needed = {"libcrypto.so.3", "libc.so.6", "libbundled.so.1"}}));
  write(release_ / "lib/crypto-5.1.2/priv/lib/libbundled.so.1",
        elfImage({.needed = {"libc.so.6"}}));
  write(release_ / "erts-13.1.5/bin/beam.smp",
        elfImage({.needed = {"libtinfo.so.6", "libc.so.6"}, .interpreter = true}));
  write(release_ / "lib/a/priv/helper.exe", peFile({.imports = {"never_loaded.dll"}}));
  auto packing = options(out_ / "demo");
  packing.allowForeign = {"lib/a/priv/helper.exe"};
  auto packed = packRelease(packing);
  ASSERT_TRUE(packed) << packed.error().message;
  EXPECT_EQ(packed->systemLibraries, 3u);
  const std::string text = inspect(out_ / "demo", false, false);
  EXPECT_NE(text.find("\nsystem libraries: 3\n"
                      "  libc.so.6 (" +
                      nif +
                      " and 2 more)\n"
                      "  libcrypto.so.3 (" +
                      nif +
                      ")\n"
                      "  libtinfo.so.6 (erts-13.1.5/bin/beam.smp)\n"),
            std::string::npos)
      << text;

  // Windows' own DLLs and the release's are not asked of the machine; the
  // C++ runtime is.
  write(release_ / "erts-13.1.5/bin/erl.exe",
        peFile({.imports = {"KERNEL32.dll", "api-ms-win-crt-runtime-l1-1-0.dll", "VCRUNTIME140.dll",
                            "Beam.SMP.dll"}}));
  write(release_ / "erts-13.1.5/bin/beam.smp.dll", peFile({.dll = true}));
  auto windows = options(out_ / "demo.exe");
  windows.stub.target = "windows-x86_64";
  windows.allowForeign = {nif, "lib/crypto-5.1.2/priv/lib/libbundled.so.1",
                          "erts-13.1.5/bin/beam.smp"};
  ASSERT_TRUE(packRelease(windows));
  EXPECT_NE(inspect(out_ / "demo.exe", false, false)
                .find("\nsystem libraries: 2\n  never_loaded.dll (lib/a/priv/helper.exe)\n"
                      "  VCRUNTIME140.dll (erts-13.1.5/bin/erl.exe)\n"),
            std::string::npos);
}

}  // namespace
}  // namespace wexlo
