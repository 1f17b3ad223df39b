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

// The fake runtime's Windows build (tests/fake_erl.exe, made by the
// wexlo_fake_erl_windows target).
std::string fakeErlWindowsBinary();

// The same release for Windows: the fake runtime's Windows build as
// erts-<v>/bin/erl.exe, bin/<app>.bat as the start script, and
// releases/<v>/<app>.rel so that the packer can read the name.
std::vector<ArchiveFile> syntheticWindowsRelease(const std::string& appName,
                                                 const std::string& appVersion,
                                                 const std::string& ertsVersion,
                                                 int libraryFiles = 300,
                                                 const std::string& cookie = "secret-cookie");

}  // namespace wexlo::testing
