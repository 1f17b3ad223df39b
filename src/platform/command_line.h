// Splitting a Windows command line into the argument list.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace wexlo {

// Splits by the rules of the C runtime (2008 and later): entry 0, the program,
// ends at the first space or tab outside quotes and keeps its backslashes;
// later entries honour backslash-quote escapes and doubled quotes inside a
// quoted stretch. A NUL unit ends the line. Entries come back as WTF-8.
std::vector<std::string> splitCommandLine(std::u16string_view commandLine);

}  // namespace wexlo
