// Carrying the runtime's standard output to a pipe or socket whose reader may
// leave before the runtime ends.
#pragma once

namespace wexlo {

// When standard output is a pipe or socket, puts a small relay process
// between this process (the runtime it is about to become) and that output:
// standard output, and standard error too when it is the same file, become
// the write end of a new pipe that the relay copies to the real output.
//
// A runtime ignores SIGPIPE, so a write into a pipe nobody reads would only
// fail, and a runtime waiting on its own output would never end. The relay
// does what SIGPIPE does for an ordinary program, at the same moment: when
// its write to the real output fails because the reader has gone, it asks
// the runtime to stop (SIGTERM, so that the application shuts down cleanly)
// and ends it with SIGKILL if it is still running two seconds later. A
// runtime that writes nothing more runs to its end. Should the real output
// fail otherwise, the relay says so once on standard error and drops what
// follows; the runtime runs on to its own status. The relay drains
// everything written before the runtime ends, exits when the last writer
// has closed the pipe, and holds no descriptor of this process but the
// standard output and error.
//
// Where the relay cannot be set up (no process descriptors, out of
// processes), the streams are left as they are.
void relayStandardOutput();

}  // namespace wexlo
