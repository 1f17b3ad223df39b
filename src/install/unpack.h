// Writing an archive's entries into the install directory as they pass.
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string_view>

#include "format/payload_stream.h"
#include "platform/file_system.h"

namespace wexlo {

// Writes every entry of the archive `blocks` yields (`size` bytes in all)
// below `installDirectory`, in archive order, each file as its content
// passes: created private, written piece by piece, and given its mode,
// which follows its content, at the end. Each directory is created once,
// before the files in it. Entries whose paths could escape the install
// directory are refused with BadPathName before anything of them is
// written. The first failure ends the walk, a decoder's included; what was
// written before it stays, and the caller removes it.
std::expected<void, DecodeFailure> unpackStream(FileSystem& fs, ByteBlocks& blocks,
                                                std::uint64_t size,
                                                std::string_view installDirectory);

// The same for an archive held whole in memory.
Status unpackArchive(FileSystem& fs, std::span<const std::uint8_t> archive,
                     std::string_view installDirectory);

}  // namespace wexlo
