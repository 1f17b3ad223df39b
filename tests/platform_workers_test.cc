#include <gtest/gtest.h>

#include <string>

#include "platform/workers.h"

namespace wexlo {
namespace {

TEST(OrderedItems, KeepsTheFirstFailureInOrderWhateverOrderTheyFailIn) {
  OrderedItems<std::string> items(10);
  for (int i = 0; i < 8; ++i) ASSERT_TRUE(items.take());
  items.fail(6, "six");
  items.fail(2, "two");
  items.fail(4, "four");
  EXPECT_EQ(items.firstFailure(), "two");
  // Nothing after a known failure is handed out.
  EXPECT_FALSE(items.take());
}

}  // namespace
}  // namespace wexlo
