// The build metadata record every launcher carries, and its strict parser.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/failure.h"

namespace wexlo {

class ErrorLog;

// A member the text did not carry stays empty.
struct BuildMetadata {
  std::string appName;
  std::string zigVersion;
  std::vector<std::string> zigBuildArguments;
  std::string appVersion;
  std::string options;
  std::string ertsVersion;

  bool operator==(const BuildMetadata&) const = default;
};

// The largest record a launcher carries, and the most any launcher reads of
// another install's record: a real one is a few hundred bytes.
inline constexpr std::size_t kMaxMetadataRecordBytes = 64 * 1024;

// Parses one JSON object holding only the six known members, each at most
// once. Fails with SyntaxError, UnexpectedEndOfInput, UnexpectedToken,
// UnknownField, DuplicateField or OutOfMemory. `text` need not be
// NUL-terminated; a NUL byte in it is a syntax error.
Result<BuildMetadata> decodeBuildMetadata(std::string_view text);

// decodeBuildMetadata, reporting a failure as the error log line
// "Error when parsing metadata: <failure>" and returning nothing.
std::optional<BuildMetadata> parseBuildMetadata(std::string_view text, ErrorLog& log);

// Compact JSON with the members in the order the packer writes them:
// "options", "erts_version", "app_name", "app_version",
// "zig_build_arguments", "zig_version".
std::string encodeBuildMetadata(const BuildMetadata& metadata);

}  // namespace wexlo
