#include <gtest/gtest.h>

#include <cstring>

#include "image/bytes.h"
#include "image/pe_image.h"
#include "image/pe_writer.h"
#include "support/pe_images.h"

namespace wexlo::image {
namespace {

using testing::peImage;

using Bytes = std::vector<std::uint8_t>;

void put(Bytes& out, std::size_t at, std::uint32_t value, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) out[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

ResourceSet versionOnly(VersionStrings strings) {
  return {.fileVersion = {1, 4, 2, 0},
          .versionStrings = std::move(strings),
          .manifest = {},
          .icon = {}};
}

TEST(PeWriterTest, AddsAResourceSectionThatReadsBack) {
  const Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 1, 2, 3};
  const ResourceSet withIcon{.fileVersion = {2, 0, 0, 0},
                             .versionStrings = {{"ProductName", "José's app"}},
                             .manifest = "<assembly/>",
                             .icon = {{.width = 16,
                                       .height = 16,
                                       .colourCount = 0,
                                       .planes = 1,
                                       .bitCount = 32,
                                       .bytes = png}}};
  struct Case {
    std::string what;
    Bytes stub;
    ResourceSet resources;
    std::vector<std::uint32_t> types;
    std::size_t sections;  // afterwards
    std::uint32_t rva;     // of the new section
  };
  const std::vector<Case> cases = {
      {"no icon", peImage({".text"}), versionOnly({{"FileVersion", "1.4.2"}}), {16}, 2, 0x2000},
      {"icon and manifest", peImage({".text"}), withIcon, {3, 14, 16, 24}, 2, 0x2000},
      {"long strings",
       peImage({".text"}),
       versionOnly({{"Comments", std::string(20000, 'x')}}),
       {16},
       2,
       0x2000},
      {"replaces resources at the end",
       peImage({".text", ".rsrc"}),
       withIcon,
       {3, 14, 16, 24},
       2,
       0x2000},
      {"keeps resources followed by data",
       peImage({".text", ".rsrc"}, 7),
       withIcon,
       {3, 14, 16, 24},
       3,
       0x3000},
  };
  for (const Case& c : cases) {
    auto written = withResourceSection(c.stub, c.resources);
    ASSERT_TRUE(written) << c.what << ": " << written.error();
    const auto pe = readPeImage(*written);
    ASSERT_TRUE(pe) << c.what;
    ASSERT_EQ(pe->sections.size(), c.sections) << c.what;
    const PeSection& added = pe->sections.back();
    EXPECT_EQ(added.name, ".rsrc") << c.what;
    EXPECT_EQ(added.virtualAddress, c.rva) << c.what;
    EXPECT_EQ(added.rawOffset % pe->fileAlignment, 0u) << c.what;
    EXPECT_EQ(std::size_t{added.rawOffset} + added.rawSize, written->size()) << c.what;
    EXPECT_EQ(pe->directory(kPeDirectoryResource).address, added.virtualAddress) << c.what;
    EXPECT_EQ(pe->sizeOfImage, (added.virtualAddress + added.virtualSize + 0xfff) & ~0xfffu)
        << c.what;
    EXPECT_EQ(resourceTypes(*written), c.types) << c.what;
    // The stored checksum is the one of the whole file, however it is fed in.
    PeChecksum checksum(pe->checksumOffset);
    checksum.add(std::span(*written).first(3));
    checksum.add(std::span(*written).subspan(3));
    EXPECT_EQ(readLittle<std::uint32_t>(*written, pe->checksumOffset), checksum.finish()) << c.what;
    const auto record = readVersionRecord(*written);
    ASSERT_TRUE(record) << c.what;
    EXPECT_EQ(record->fileVersion, c.resources.fileVersion) << c.what;
    EXPECT_EQ(record->strings, c.resources.versionStrings) << c.what;
    // The original sections' bytes are untouched.
    EXPECT_TRUE(
        std::equal(c.stub.begin() + 0x200, c.stub.begin() + 0x400, written->begin() + 0x200))
        << c.what;
    EXPECT_EQ(withResourceSection(c.stub, c.resources), written) << c.what << ": not repeatable";
  }
}

TEST(PeWriterTest, RefusesWhatCannotBeWritten) {
  Bytes full = peImage({".text"});
  put(full, 0x46, 6, 2);  // six sections fill the 0x200 bytes of headers
  for (std::size_t i = 1; i < 6; ++i) full[0x58 + 240 + 40 * i] = '.';
  Bytes signedImage = peImage({".text"});
  put(signedImage, 0x58 + 112 + 32, 0x400, 4), put(signedImage, 0x58 + 116 + 32, 8, 4);
  const struct {
    Bytes image;
    ResourceSet resources;
    std::string error;
  } cases[] = {
      {Bytes(100, 0), versionOnly({}), "not a PE image"},
      {full, versionOnly({}), "the PE image's headers have no room for another section"},
      {signedImage, versionOnly({}), "the PE image is signed; its resources cannot change"},
      {peImage({".text"}), versionOnly({{"Comments", std::string(40000, 'x')}}),
       "the version record's Comments block needs 80026 bytes; at most 65535 fit"},
      {peImage({".text"}), versionOnly({{"Comments", "\xff"}}),
       "version string '\xff' is not UTF-8"},
  };
  for (const auto& c : cases) {
    auto written = withResourceSection(c.image, c.resources);
    ASSERT_FALSE(written) << c.error;
    EXPECT_EQ(written.error(), c.error);
  }
}

}  // namespace
}  // namespace wexlo::image
