#include <gtest/gtest.h>

#include "platform/path.h"

namespace wexlo {
namespace {

TEST(JoinPath, OneSeparatorAtEachSeam) {
  EXPECT_EQ(joinPath({"a", "b"}), "a/b");
  EXPECT_EQ(joinPath({"a/", "b"}), "a/b");
  EXPECT_EQ(joinPath({"a", "/b"}), "a/b");
  EXPECT_EQ(joinPath({"a/", "/b"}), "a/b");
  EXPECT_EQ(joinPath({"", "a", "", "b", ""}), "a/b");
  EXPECT_EQ(joinPath({"", ""}), "");
  EXPECT_EQ(joinPath({"", ".wexlo"}), ".wexlo");
  EXPECT_EQ(joinPath({"a//b", "./c"}), "a//b/./c");
  // Only '/' separates on POSIX; a backslash is an ordinary byte.
  EXPECT_EQ(joinPath({"a\\", "b"}), "a\\/b");
}

}  // namespace
}  // namespace wexlo
