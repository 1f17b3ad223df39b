// The rebar3 example (examples/erlcli), built from rebar3's release template,
// packed by the packer and run with the real runtime: a release without
// Elixir, without releases/COOKIE and with a vm.args that names the node.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "support/launcher_kit.h"
#include "support/running_process.h"

namespace wexlo::testing {
namespace {

namespace fs = std::filesystem;

const fs::path kBuild = WEXLO_REBAR3_BUILD_DIR;

// A port no one listens on now, for an epmd of the tests' own: the template's
// vm.args names the node, so each run needs one and starts it if it is not there.
int unusedPort() {
  const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (socket < 0 || ::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ADD_FAILURE() << "no port to bind";
  }
  ::close(socket);
  return ntohs(address.sin_port);
}

class Rebar3Test : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir;
    epmdPort_ = unusedPort();
    auto packed = pack(kBuild / "prod/rel/erlcli", launcher());
    ASSERT_EQ(packed.status, 0) << packed.err;
  }
  static void TearDownTestSuite() {
    // The first run started epmd on the tests' port; it outlives the runs.
    for (const auto& entry : fs::directory_iterator(kBuild / "prod/rel/erlcli")) {
      if (!entry.path().filename().string().starts_with("erts-")) continue;
      runProcess(
          {(entry.path() / "bin/epmd").string(), "-port", std::to_string(epmdPort_), "-kill"});
    }
    delete dir_;
  }

  static fs::path launcher() { return dir_->path() / "erlcli"; }
  static std::vector<std::string> environment() {
    return {"HOME=" + (dir_->path() / "home").string(), "LANG=C.UTF-8",
            "ERL_EPMD_PORT=" + std::to_string(epmdPort_)};
  }
  static ProcessResult pack(const fs::path& release, const fs::path& output) {
    return runProcess({packerPath().string(), "pack", "--quiet", "--compression", "zstd", "--level",
                       "1", release.string(), "--stub", stubPath().string(), "-o",
                       output.string()});
  }
  static ProcessResult run(std::vector<std::string> args) {
    args.insert(args.begin(), launcher().string());
    return runProcess(args, {environment(), std::nullopt, dir_->path()});
  }
  static void expectNoCrashDump() {
    for (const auto& entry : fs::recursive_directory_iterator(dir_->path())) {
      EXPECT_NE(entry.path().filename(), "erl_crash.dump") << entry.path();
    }
  }

  static TempDir* dir_;
  static int epmdPort_;
};

TempDir* Rebar3Test::dir_ = nullptr;
int Rebar3Test::epmdPort_ = 0;

TEST_F(Rebar3Test, TheToolTakesItsArgumentsAndEndsWithItsStatus) {
  auto echoed = run({"with space", "", "x"});
  EXPECT_EQ(echoed.status, 0) << echoed.err;
  EXPECT_EQ(echoed.out, "argc=3\narg=<with space>\narg=<>\narg=<x>\n");
  for (int status : {0, 3, 255}) EXPECT_EQ(run({"exit", std::to_string(status)}).status, status);

  // The cookie came from the template's vm.args; no Elixir, so no command-line handler.
  auto directory = run({"maintenance", "directory"});
  EXPECT_EQ(
      readFile(fs::path(directory.out.substr(0, directory.out.size() - 1)) / "releases/COOKIE"),
      "erlcli_cookie");
  auto inspected = runProcess({packerPath().string(), "inspect", launcher().string()});
  EXPECT_NE(inspected.out.find("\nstart mode: service\n"), std::string::npos) << inspected.out;
  expectNoCrashDump();
}

TEST_F(Rebar3Test, TheServiceRunsUntilSigtermThenStopsCleanly) {
  RunningProcess service({launcher().string(), "serve"},
                         {environment(), std::nullopt, dir_->path()}, dir_->path() / "service.err");
  auto started = service.readLine();
  ASSERT_EQ(started, "erlcli serving") << service.wait().err;
  service.signal(SIGTERM);
  auto stopped = service.wait();
  EXPECT_EQ(stopped.status, 0) << stopped.err;
  EXPECT_TRUE(stopped.out.ends_with("erlcli stopped\n")) << stopped.out;
  expectNoCrashDump();
}

TEST_F(Rebar3Test, DevelopmentAndTemplateReleasesAreRefusedWithRebar3sRemedy) {
  const std::vector<std::pair<std::string, std::string>> refused = {
      {"default", "build it with `rebar3 as prod release`"},
      {"src", "holds sys.config.src and vm.args.src but no sys.config and vm.args"},
  };
  for (const auto& [profile, message] : refused) {
    const fs::path output = dir_->path() / profile;
    auto packed = pack(kBuild / profile / "rel/erlcli", output);
    EXPECT_EQ(packed.status, 1) << profile;
    EXPECT_NE(packed.err.find(message), std::string::npos) << packed.err;
    EXPECT_FALSE(fs::exists(output));
  }
}

}  // namespace
}  // namespace wexlo::testing
