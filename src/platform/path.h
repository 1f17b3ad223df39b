// Building paths from pieces with the platform's separator.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace wexlo {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// Joins path pieces, skipping empty ones, with exactly one separator at each
// seam: none is added where either side already has one, and one of two is
// dropped where both have. On Windows both '/' and '\\' count as separators;
// on POSIX only '/'.
std::string joinPath(std::initializer_list<std::string_view> pieces);

// A name that stays one directory entry on every platform: not empty, not
// "." or "..", and without '/', '\\' or NUL.
bool isPlainPathComponent(std::string_view name);

}  // namespace wexlo
