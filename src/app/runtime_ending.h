// Words for a runtime that ended without running its own code to the end:
// Windows gives such a process a status of its own, which otherwise reaches
// the user as a bare number.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace wexlo {

// The error line's text for a Windows exit status that says the runtime
// could not start (a DLL it needs missing, a bad image) or crashed (an
// access violation, a stack overflow, ...), naming the status; nothing for
// any other status, a Ctrl-C ending included.
std::optional<std::string> runtimeEndingMessage(std::uint32_t status);

}  // namespace wexlo
