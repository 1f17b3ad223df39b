#include "app/run.h"
#include "embed/stub_marker.h"

// Names this stub's target and toolchain for the packer; kept in the binary
// even though nothing reads it at run time.
[[gnu::used]] extern const char kWexloStubMarker[];
[[gnu::used]] const char kWexloStubMarker[] = WEXLO_STUB_MARKER_PREFIX WEXLO_STUB_TARGET
                                              "\x1f" WEXLO_STUB_TOOLCHAIN "\x1f" WEXLO_STUB_FLAGS
                                              "\x1f";

int main(int argc, char** argv) {
  wexlo::setProcessArguments(argc, argv);
  return wexlo::runLauncher({wexlo::realFileSystem(), wexlo::realConsole(), wexlo::realProcess()});
}
