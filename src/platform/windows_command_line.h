// What CreateProcessW is given: the runtime's argument vector as one command
// line, and its environment as one block.
#pragma once

#include <string>
#include <vector>

#include "platform/environment.h"
#include "platform/failure.h"

namespace wexlo {

// Joins the arguments with single spaces, quoted so that the C runtime's
// splitter gives back exactly these strings. Argument 0 is split without
// escapes, so it is only wrapped in quotes, and one holding a double quote
// cannot be written at all (InvalidArg0). A NUL byte in any argument would cut
// the command line short and fails with InvalidCharacter.
Result<std::string> quoteCommandLine(const std::vector<std::string>& argv);

// "name=value" NUL-terminated for each entry in order, then one more NUL.
// Fails with InvalidWtf8 for an entry that does not convert and with
// InvalidCharacter for a NUL inside an entry: either would hand the runtime a
// different environment than the one built.
Result<std::u16string> environmentBlock(const Environment& environment);

}  // namespace wexlo
