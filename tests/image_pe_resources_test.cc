#include <gtest/gtest.h>

#include "image/pe_resources.h"

namespace wexlo::image {
namespace {

using Bytes = std::vector<std::uint8_t>;

// An .ico of one 16x16 image at `offset` holding `image`.
Bytes icoFile(Bytes image, std::uint32_t offset = 22, std::uint16_t count = 1) {
  Bytes out = {0, 0, 1, 0, static_cast<std::uint8_t>(count), 0, 16, 16, 0, 0, 1, 0, 32, 0};
  for (std::uint32_t value : {static_cast<std::uint32_t>(image.size()), offset}) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  }
  out.insert(out.end(), image.begin(), image.end());
  return out;
}

TEST(IconFileTest, ReadsPngAndBitmapImagesAndNamesWhatIsWrong) {
  const Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n', 0};
  const Bytes bitmap = {40, 0, 0, 0, 16, 0, 0, 0};
  const struct {
    Bytes file;
    std::string error;  // empty: read
  } cases[] = {
      {icoFile(png), ""},
      {icoFile(bitmap), ""},
      {{'G', 'I', 'F', '8', '9', 'a'}, "not an .ico file (no icon directory at its start)"},
      {{0, 0, 1, 0, 0, 0}, "the icon holds no images"},
      {icoFile(png, 22, 2), "the icon's directory is cut short at icon image 2"},
      {icoFile(png, 30), "icon image 1 lies outside the file"},
      {icoFile({'t', 'e', 'x', 't', ' ', 'f', 'i', 'l', 'e'}),
       "icon image 1 is neither PNG nor a bitmap"},
  };
  for (const auto& c : cases) {
    auto images = readIconFile(c.file);
    if (c.error.empty()) {
      ASSERT_TRUE(images) << images.error();
      ASSERT_EQ(images->size(), 1u);
      EXPECT_EQ((*images)[0].width, 16);
      EXPECT_EQ((*images)[0].bitCount, 32);
      EXPECT_EQ((*images)[0].bytes.size(), c.file.size() - 22);
    } else {
      ASSERT_FALSE(images) << c.error;
      EXPECT_EQ(images.error(), c.error);
    }
  }
}

}  // namespace
}  // namespace wexlo::image
