// The line that closes a pack on a terminal, e.g.
// "packed demo_app (4.9 MB, 607 files) -> ./demo_app".
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "pack/packer.h"

namespace wexlo {

// Decimal units with one decimal place: "512 B", "12.3 kB", "4.9 MB".
std::string formatByteSize(std::uint64_t bytes);

// A bare file name gets "./", so the line shows a command that runs it. Each
// note follows on a line of its own, indented.
std::string summaryLine(const PackSummary& summary, const std::filesystem::path& output);

}  // namespace wexlo
