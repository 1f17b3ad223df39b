#include "app/run.h"
#include "format/stub_marker.h"
#include "platform/process_start.h"

namespace {

// Names this stub's target and toolchain for the packer.
const char kStubMarker[] = WEXLO_STUB_MARKER_PREFIX WEXLO_STUB_TARGET
    "\x1f" WEXLO_STUB_TOOLCHAIN "\x1f" WEXLO_STUB_FLAGS "\x1f";

}  // namespace

int main(int argc, char** argv) {
  // Before anything is opened, which would take a closed stream's number.
  // Should this fail, there is no stream to say so on.
  if (!wexlo::openClosedStandardStreams()) return 1;
  // Nothing reads the marker at run time. Loading its address into a
  // register makes a reference the linker sees, so it is never dropped.
  asm volatile("" : : "r"(kStubMarker));
  wexlo::setProcessArguments(argc, argv);
  return wexlo::runLauncher({wexlo::realFileSystem(), wexlo::realConsole(), wexlo::realProcess()});
}
