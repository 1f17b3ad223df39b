#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "format/footer.h"
#include "format/stub_marker.h"

namespace wexlo {
namespace {

using Bytes = std::vector<std::uint8_t>;

void appendText(Bytes& out, std::string_view text) {
  out.insert(out.end(), text.begin(), text.end());
}

template <typename T>
void putAt(Bytes& image, std::size_t offset, T value) {
  for (std::size_t i = 0; i < sizeof(T); ++i)
    image[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// stub | payload | metadata | name | footer, as the packer writes it.
Bytes packedImage(Bytes stub, std::string_view payload = "PAYLOAD",
                  std::string_view metadata = "{}", std::string_view name = "demo_app") {
  Footer footer{.payloadOffset = stub.size(),
                .payloadLength = payload.size(),
                .decompressedLength = 1234,
                .metadataOffset = stub.size() + payload.size(),
                .metadataLength = static_cast<std::uint32_t>(metadata.size()),
                .appNameLength = static_cast<std::uint32_t>(name.size())};
  Bytes image = std::move(stub);
  appendText(image, payload);
  appendText(image, metadata);
  appendText(image, name);
  auto bytes = encodeFooter(footer);
  image.insert(image.end(), bytes.begin(), bytes.end());
  return image;
}

void expectBuild(const Result<EmbeddedBuild>& build) {
  ASSERT_TRUE(build) << failureName(build.error());
  EXPECT_EQ(std::string(build->payload.begin(), build->payload.end()), "PAYLOAD");
  EXPECT_EQ(build->metadataText, "{}");
  EXPECT_EQ(build->appName, "demo_app");
  EXPECT_EQ(build->decompressedLength, 1234u);
}

TEST(Footer, RoundTripsAndRefusesDamage) {
  const Footer footer{.payloadOffset = 1,
                      .payloadLength = 0x0102030405060708,
                      .decompressedLength = ~std::uint64_t{0},
                      .metadataOffset = 42,
                      .metadataLength = 0xfffffffe,
                      .appNameLength = 7};
  auto bytes = encodeFooter(footer);
  auto decoded = decodeFooter(bytes);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->payloadLength, footer.payloadLength);
  EXPECT_EQ(decoded->decompressedLength, footer.decompressedLength);
  EXPECT_EQ(decoded->metadataLength, footer.metadataLength);
  EXPECT_EQ(decoded->appNameLength, footer.appNameLength);

  for (std::size_t at : {8u, 20u, 40u, 55u, 63u}) {  // version, fields, reserved, checksum
    auto damaged = bytes;
    damaged[at] ^= 0x10;
    EXPECT_EQ(decodeFooter(damaged).error(), Failure::CorruptedData) << at;
  }
  auto notAFooter = bytes;
  notAFooter[0] = 'X';
  EXPECT_EQ(decodeFooter(notAFooter).error(), Failure::InvalidExe);
}

TEST(LocateEmbeddedBuild, FindsTheAppendedPieces) {
  expectBuild(locateEmbeddedBuild(packedImage(Bytes(100, 0xcc))));
  // An empty metadata text and name still place correctly.
  auto build = locateEmbeddedBuild(packedImage(Bytes(3, 1), "", "", ""));
  ASSERT_TRUE(build);
  EXPECT_TRUE(build->payload.empty());
  EXPECT_TRUE(build->appName.empty());
}

TEST(LocateEmbeddedBuild, BareStubsCarryNothing) {
  EXPECT_EQ(locateEmbeddedBuild(Bytes{}).error(), Failure::InvalidExe);
  EXPECT_EQ(locateEmbeddedBuild(Bytes(63, 0)).error(), Failure::InvalidExe);
  EXPECT_EQ(locateEmbeddedBuild(Bytes(4096, 0x90)).error(), Failure::InvalidExe);
  // Data appended after the footer hides it.
  auto image = packedImage(Bytes(10, 0));
  image.push_back(0);
  EXPECT_EQ(locateEmbeddedBuild(image).error(), Failure::InvalidExe);
}

TEST(LocateEmbeddedBuild, RefusesPiecesThatDoNotFit) {
  struct Case {
    const char* name;
    Footer footer;
  };
  // A 16-byte stub, then 4 payload, 2 metadata, 3 name bytes: footer at 25.
  const Footer good{.payloadOffset = 16,
                    .payloadLength = 4,
                    .decompressedLength = 9,
                    .metadataOffset = 20,
                    .metadataLength = 2,
                    .appNameLength = 3};
  const std::uint64_t huge = ~std::uint64_t{0};
  std::vector<Case> cases = {
      {"payload past footer", {16, 10, 9, 26, 2, 3}},
      {"payload offset past footer", {30, 0, 9, 30, 0, 0}},
      {"payload wraps", {16, huge, 9, 15, 2, 3}},
      {"gap before metadata", {16, 4, 9, 21, 1, 3}},
      {"metadata past footer", {16, 4, 9, 20, 0xffffffff, 3}},
      {"name too short", {16, 4, 9, 20, 2, 2}},
      {"name too long", {16, 4, 9, 20, 2, 4}},
  };
  Bytes stub(16, 0xaa);
  Bytes image = packedImage(stub, "PPPP", "MM", "NNN");
  ASSERT_TRUE(locateEmbeddedBuild(image));
  ASSERT_EQ(image.size(), 25 + kFooterSize);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto bytes = encodeFooter(c.footer);
    std::copy(bytes.begin(), bytes.end(), image.end() - kFooterSize);
    EXPECT_EQ(locateEmbeddedBuild(image).error(), Failure::CorruptedData);
  }
  auto bytes = encodeFooter(good);
  std::copy(bytes.begin(), bytes.end(), image.end() - kFooterSize);
  EXPECT_TRUE(locateEmbeddedBuild(image));
}

// A minimal PE image: DOS header, "PE\0\0", COFF header and an optional header
// whose data directories end with the security directory.
Bytes peStub(bool pe32Plus) {
  const std::size_t peOffset = 0x80;
  const std::size_t optional = peOffset + 24;
  const std::size_t directories = optional + (pe32Plus ? 112 : 96);
  const std::size_t optionalSize = directories + 16 * 8 - optional;
  Bytes image(optional + optionalSize + 64, 0);
  image[0] = 'M';
  image[1] = 'Z';
  putAt<std::uint32_t>(image, 0x3c, peOffset);
  putAt<std::uint32_t>(image, peOffset, 0x00004550);
  putAt<std::uint16_t>(image, peOffset + 4 + 16, static_cast<std::uint16_t>(optionalSize));
  putAt<std::uint16_t>(image, optional, pe32Plus ? 0x20b : 0x10b);
  putAt<std::uint32_t>(image, optional + (pe32Plus ? 108 : 92), 16);
  return image;
}

void setSecurityDirectory(Bytes& image, std::uint32_t offset, std::uint32_t size) {
  const std::size_t optional = 0x80 + 24;
  const bool pe32Plus = image[optional] == 0x0b && image[optional + 1] == 0x02;
  const std::size_t entry = optional + (pe32Plus ? 112 : 96) + 4 * 8;
  putAt<std::uint32_t>(image, entry, offset);
  putAt<std::uint32_t>(image, entry + 4, size);
}

TEST(LocateEmbeddedBuild, LooksBeforeAnAddedCertificateTable) {
  for (bool pe32Plus : {false, true}) {
    for (std::size_t padding = 0; padding <= 7; ++padding) {
      SCOPED_TRACE(testing::Message() << "PE32+ " << pe32Plus << " padding " << padding);
      Bytes image = packedImage(peStub(pe32Plus));
      EXPECT_EQ(endOfAppendedData(image), image.size());
      expectBuild(locateEmbeddedBuild(image));

      image.insert(image.end(), padding, 0);
      const auto tableOffset = static_cast<std::uint32_t>(image.size());
      image.insert(image.end(), 24, 0x5a);  // the certificate table
      setSecurityDirectory(image, tableOffset, 24);
      EXPECT_EQ(endOfAppendedData(image), tableOffset);
      expectBuild(locateEmbeddedBuild(image));
    }
  }
}

TEST(LocateEmbeddedBuild, CertificateTableEdgeCases) {
  Bytes image = packedImage(peStub(true));
  image.insert(image.end(), 8, 0);  // more padding than a signing tool adds
  const auto tableOffset = static_cast<std::uint32_t>(image.size());
  image.insert(image.end(), 16, 0x5a);
  setSecurityDirectory(image, tableOffset, 16);
  EXPECT_EQ(locateEmbeddedBuild(image).error(), Failure::InvalidExe);

  // Padding that is not zero is not padding.
  Bytes nonZero = packedImage(peStub(true));
  nonZero.push_back(0);
  nonZero.push_back(7);
  const auto offset = static_cast<std::uint32_t>(nonZero.size());
  nonZero.insert(nonZero.end(), 16, 0x5a);
  setSecurityDirectory(nonZero, offset, 16);
  EXPECT_EQ(locateEmbeddedBuild(nonZero).error(), Failure::InvalidExe);

  // A directory pointing outside the file is ignored: the file end counts.
  Bytes bogus = packedImage(peStub(false));
  setSecurityDirectory(bogus, static_cast<std::uint32_t>(bogus.size() - 4), 16);
  EXPECT_EQ(endOfAppendedData(bogus), bogus.size());
  expectBuild(locateEmbeddedBuild(bogus));
  setSecurityDirectory(bogus, 0xfffffff0, 0x20);
  EXPECT_EQ(endOfAppendedData(bogus), bogus.size());
}

TEST(EndOfAppendedData, ToleratesTruncatedHeaders) {
  Bytes pe = peStub(true);
  for (std::size_t size : {0u, 2u, 0x3fu, 0x40u, 0x83u, 0x90u, 0xa0u}) {
    Bytes cut(pe.begin(), pe.begin() + std::min(size, pe.size()));
    EXPECT_EQ(endOfAppendedData(cut), cut.size()) << size;
  }
  Bytes farAway = pe;
  putAt<std::uint32_t>(farAway, 0x3c, 0xfffffffe);
  EXPECT_EQ(endOfAppendedData(farAway), farAway.size());
}

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

TEST(StubMarker, ParsesTheMarkerAndSkipsStrayPrefixes) {
  using namespace std::string_view_literals;
  const auto marker = "WEXLO-STUB-MARKER\x1fwindows-x86_64\x1fGNU 12.2.0\x1f-O2 -static\x1f\0"sv;
  const std::string image = "ELF junk" + std::string(marker) + "tail";
  auto info = findStubMarker(bytesOf(image));
  ASSERT_TRUE(info);
  EXPECT_EQ(info->target, "windows-x86_64");
  EXPECT_EQ(info->toolchain, "GNU 12.2.0");
  EXPECT_EQ(info->flags, "-O2 -static");

  // The bare prefix (as it sits in the packer itself) comes first and is skipped.
  info =
      findStubMarker(bytesOf(std::string("WEXLO-STUB-MARKER\x1f\0junk"sv) + std::string(marker)));
  ASSERT_TRUE(info);
  EXPECT_EQ(info->target, "windows-x86_64");

  for (std::string_view bad : {"no marker here"sv, "WEXLO-STUB-MARKER\x1f"sv,
                               "WEXLO-STUB-MARKER\x1flinux\x1fgcc\x1f"sv,  // no NUL after it
                               "WEXLO-STUB-MARKER\x1flinux\x1fgcc\0\x1f-O2\x1f\0"sv,
                               "WEXLO-STUB-MARKER\x1f\x1fgcc\x1f-O2\x1f\0"sv}) {
    EXPECT_FALSE(findStubMarker(bytesOf(bad))) << bad;
  }
  // An overlong field is not a marker.
  const std::string unit = "\x1f";
  const std::string longField = "WEXLO-STUB-MARKER" + unit + std::string(5000, 'a') + unit + "b" +
                                unit + "c" + unit + std::string(1, '\0');
  EXPECT_FALSE(findStubMarker(bytesOf(longField)));
}

}  // namespace
}  // namespace wexlo
