// A release-shaped file list for black-box tests, with the fake runtime as
// erts-<v>/bin/erl.
#pragma once

#include <string>
#include <vector>

#include "support/launcher_kit.h"

namespace wexlo::testing {

std::string fakeErlBinary();

// The layout of a real release: lib/ (with the empty marker lib/.wexlo and
// `libraryFiles` beam files in nested directories), erts-<v>/bin/erl (the
// fake runtime), releases/COOKIE, releases/<v>/{start.boot,vm.args,sys.config}
// and bin/<app>. Contents are deterministic.
std::vector<ArchiveFile> syntheticRelease(const std::string& appName, const std::string& appVersion,
                                          const std::string& ertsVersion, int libraryFiles = 300,
                                          const std::string& cookie = "secret-cookie");

}  // namespace wexlo::testing
