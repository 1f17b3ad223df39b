#include "platform/environment_block.h"

#include "platform/wtf8.h"

namespace wexlo {

std::vector<EnvironmentVariable> parseEnvironmentBlock(std::u16string_view block) {
  std::vector<EnvironmentVariable> entries;
  while (!block.empty() && block.front() != u'\0') {
    auto end = block.find(u'\0');
    std::u16string_view text = block.substr(0, end);
    auto equals = text.find(u'=', 1);
    std::u16string_view name = text.substr(0, equals);
    std::u16string_view value =
        equals == std::u16string_view::npos ? std::u16string_view() : text.substr(equals + 1);
    entries.push_back({wtf16ToWtf8(name), wtf16ToWtf8(value)});
    block.remove_prefix(end == std::u16string_view::npos ? block.size() : end + 1);
  }
  return entries;
}

}  // namespace wexlo
