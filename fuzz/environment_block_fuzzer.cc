// An environment block read into a Windows environment and written out again
// reads back as the same entries.
#include "fuzz_check.h"
#include "platform/environment.h"
#include "platform/environment_block.h"
#include "platform/windows_command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto entries = wexlo::parseEnvironmentBlock(wexlo::fuzz::utf16Units(data, size));
  const auto environment =
      wexlo::Environment::fromEntries(entries, wexlo::asciiCaseInsensitiveEquals);
  auto block = wexlo::environmentBlock(environment);
  FUZZ_CHECK(block);
  const auto again = wexlo::parseEnvironmentBlock(*block);
  const auto& expected = environment.entries();
  FUZZ_CHECK(again.size() == expected.size());
  for (std::size_t i = 0; i < again.size(); ++i) {
    FUZZ_CHECK(!again[i].name.empty());
    FUZZ_CHECK(again[i].name == expected[i].name && again[i].value == expected[i].value);
  }
  return 0;
}
