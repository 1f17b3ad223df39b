// Ending a runtime whose standard output nobody reads any more.
#pragma once

namespace wexlo {

// When standard output is a pipe or socket, starts a small watcher process
// that ends this process, the runtime it is about to become, with SIGKILL
// once no reader is left on that pipe, and that ends by itself with the
// process. A runtime whose output reader went away (`app | head -2`) would
// otherwise wait forever on its own I/O server. Does nothing elsewhere, and
// nothing where the kernel cannot watch a process (no pidfd).
void watchStandardOutput();

}  // namespace wexlo
