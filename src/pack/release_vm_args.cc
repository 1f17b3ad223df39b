#include "pack/release_vm_args.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "pack/files.h"

namespace wexlo {

namespace fs = std::filesystem;

namespace {

struct Word {
  std::string text;
  std::size_t begin = 0;  // where it starts and ends in the file
  std::size_t end = 0;
};

std::vector<Word> argsFileWords(std::string_view text) {
  std::vector<Word> words;
  std::optional<Word> word;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] == '#') {
      at = std::min(text.find('\n', at), text.size()) - 1;  // the line feed ends the word
    } else if (std::isspace(static_cast<unsigned char>(text[at]))) {
      if (word) words.push_back(std::move(*word));
      word.reset();
    } else {
      if (!word) word = Word{"", at, at};
      if (text[at] == '\\' && at + 1 < text.size()) ++at;
      word->text += text[at];
      word->end = at + 1;
    }
  }
  if (word) words.push_back(std::move(*word));
  return words;
}

}  // namespace

VmArgs parseVmArgs(std::string_view text) {
  VmArgs args;
  const auto words = argsFileWords(text);
  std::size_t kept = 0;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (words[i].text == "-setcookie" && i + 1 < words.size()) {
      args.cookie = words[i + 1].text;
      args.withoutCookie.append(text.substr(kept, words[i].begin - kept));
      kept = words[++i].end;
    } else if ((words[i].text == "-sname" || words[i].text == "-name") && i + 1 < words.size()) {
      args.nodeName = words[i].text + " " + words[i + 1].text;
    }
  }
  args.withoutCookie.append(text.substr(kept));
  return args;
}

PackResult<std::optional<VmArgs>> readVmArgs(const fs::path& directory,
                                             std::string_view appVersion) {
  const fs::path path = directory / "releases" / appVersion / "vm.args";
  std::error_code error;
  if (!fs::exists(fs::symlink_status(path, error))) return std::optional<VmArgs>();
  auto bytes = readWholeFile(path, "vm.args", Links::Refuse);
  if (!bytes) return std::unexpected(bytes.error());
  return parseVmArgs({reinterpret_cast<const char*>(bytes->data()), bytes->size()});
}

}  // namespace wexlo
