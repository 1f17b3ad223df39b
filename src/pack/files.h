// Small file and text helpers shared by the packer's steps.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "pack/pack_error.h"

namespace wexlo {

// A path as error lines show it: in single quotes.
std::string quoted(const std::filesystem::path& path);

// The words of `text`, split on any run of white space.
std::vector<std::string> splitWords(std::string_view text);

// Whether a link in a file's place is followed or refused. Files the user
// names are followed; files found inside a release never are.
enum class Links { Follow, Refuse };

// Reads a regular file whole into `into` (replacing what it held, so one
// buffer can serve many files). `what` names the file in error lines.
PackResult<void> readWholeFile(const std::filesystem::path& path, std::string_view what,
                               Links links, std::vector<std::uint8_t>& into);

inline PackResult<std::vector<std::uint8_t>> readWholeFile(const std::filesystem::path& path,
                                                           std::string_view what,
                                                           Links links = Links::Follow) {
  std::vector<std::uint8_t> bytes;
  if (auto read = readWholeFile(path, what, links, bytes); !read)
    return std::unexpected(read.error());
  return bytes;
}

// Reads a regular file of exactly `size` bytes a piece at a time, handing
// each piece to `take` (a failure there stops the read). A file whose size
// is not `size` any more is refused: its length was already promised.
PackResult<void> readFileInPieces(
    const std::filesystem::path& path, std::string_view what, Links links, std::uint64_t size,
    const std::function<PackResult<void>(std::span<const std::uint8_t>)>& take);

}  // namespace wexlo
