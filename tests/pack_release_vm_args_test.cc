#include <gtest/gtest.h>

#include "pack/release_vm_args.h"

namespace wexlo {
namespace {

TEST(ParseVmArgs, ReadsTheCookieAndTheNodeNameAsTheRuntimeDoes) {
  auto args = parseVmArgs("-sname erlcli\n\n-setcookie erlcli_cookie\n\n+K true\n+A30\n");
  EXPECT_EQ(args.cookie, "erlcli_cookie");
  EXPECT_EQ(args.nodeName, "-sname erlcli");
  EXPECT_EQ(args.withoutCookie, "-sname erlcli\n\n\n\n+K true\n+A30\n");
  args = parseVmArgs("## -name a@b\n-setcookie one#comment\n-name x@h -setcookie two\\ words");
  EXPECT_EQ(args.cookie, "two words");
  EXPECT_EQ(args.nodeName, "-name x@h");
  EXPECT_EQ(args.withoutCookie, "## -name a@b\n#comment\n-name x@h ");
  args = parseVmArgs("# -setcookie c\n-env ERL_FULLSWEEP_AFTER 10\n-setcookie");
  EXPECT_FALSE(args.cookie || args.nodeName);
}

}  // namespace
}  // namespace wexlo
