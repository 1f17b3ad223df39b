#include <gtest/gtest.h>

#include "pack/release_kind.h"

namespace wexlo {
namespace {

TEST(RelFileNamesApplication, FindsTheApplicationAsAnAtomOpeningATuple) {
  for (const auto& [text, names] : std::vector<std::pair<std::string_view, bool>>{
           {R"({release,{"demo","1"},{erts,"13"},[{kernel,"8"},{elixir,"1.14.0"}]}.)", true},
           {"{release,{\"d\",\"1\"},\n%% {elixir\n{erts,\"13\"},[{ 'elixir' ,\"1\"}]}.", true},
           {R"({release,{"erlcli","0.1.0"},{erts,"13"},[{kernel,"8"},{erlcli,"0.1.0"}]}.)", false},
           {R"({release,{"elixir","1"},{erts,"13"},[{elixir_ls,"1"},{app,"1",[elixir]}]}.)", false},
           {"%% {elixir,\"1\"}\n{release,{\"a\",\"1\"},{erts,\"1\"},[{'elixir\\'s',\"1\"}]}.",
            false},
       }) {
    EXPECT_EQ(relFileNamesApplication(text, "elixir"), names) << text;
  }
}

}  // namespace
}  // namespace wexlo
