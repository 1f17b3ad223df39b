#include "platform/process_start.h"

namespace wexlo {

// A closed standard handle is null, and a file opened later never takes its
// place.
Status openClosedStandardStreams() { return {}; }
bool standardStreamWasClosed(int) { return false; }

// Windows has no file size signal: a write past a quota just fails.
FileSizeLimitAsFailure::FileSizeLimitAsFailure() {}
FileSizeLimitAsFailure::~FileSizeLimitAsFailure() {}

}  // namespace wexlo
