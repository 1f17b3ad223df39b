#include "pack/release_vm_args.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "pack/files.h"

namespace wexlo {

namespace fs = std::filesystem;

namespace {

std::vector<std::string> argsFileWords(std::string_view text) {
  std::vector<std::string> words;
  std::optional<std::string> word;
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] == '#') {
      at = std::min(text.find('\n', at), text.size()) - 1;  // the line feed ends the word
    } else if (std::isspace(static_cast<unsigned char>(text[at]))) {
      if (word) words.push_back(std::move(*word));
      word.reset();
    } else {
      if (text[at] == '\\' && at + 1 < text.size()) ++at;
      if (!word) word.emplace();
      *word += text[at];
    }
  }
  if (word) words.push_back(std::move(*word));
  return words;
}

}  // namespace

VmArgs parseVmArgs(std::string_view text) {
  VmArgs args;
  const auto words = argsFileWords(text);
  for (std::size_t i = 0; i + 1 < words.size(); ++i) {
    if (words[i] == "-setcookie") {
      args.cookie = words[i + 1];
    } else if (words[i] == "-sname" || words[i] == "-name") {
      args.nodeName = words[i] + " " + words[i + 1];
    }
  }
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
