// The rebar3 example (examples/erlcli), built from rebar3's release template,
// packed and run with the real runtime: a release without Elixir, without
// releases/COOKIE and with a vm.args that names the node.
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

class Rebar3Test : public ::testing::Test {
 protected:
  void SetUp() override {
    // The node is named, so each run needs an epmd: the first starts one,
    // on a port of the test's own, which TearDown stops.
    const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(socket, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length), 0);
    ::close(socket);
    epmdPort_ = std::to_string(ntohs(address.sin_port));
    auto packed = pack("prod");
    ASSERT_EQ(packed.status, 0) << packed.err;
  }
  void TearDown() override {
    for (const auto& entry : fs::directory_iterator(kBuild / "prod/rel/erlcli")) {
      if (entry.path().filename().string().starts_with("erts-"))
        runProcess({(entry.path() / "bin/epmd").string(), "-port", epmdPort_, "-kill"});
    }
    for (const auto& entry : fs::recursive_directory_iterator(dir_.path()))
      EXPECT_NE(entry.path().filename(), "erl_crash.dump") << entry.path();
  }

  ProcessResult pack(const std::string& profile) {
    return runProcess({packerPath().string(), "pack", "--quiet", "--compression", "zstd", "--level",
                       "1", (kBuild / profile / "rel/erlcli").string(), "--stub",
                       stubPath().string(), "-o", (dir_ / profile).string()});
  }
  ProcessOptions options() {
    return {{"HOME=" + (dir_ / "home").string(), "LANG=C.UTF-8", "ERL_EPMD_PORT=" + epmdPort_},
            std::nullopt,
            dir_.path()};
  }
  ProcessResult run(std::vector<std::string> args) {
    args.insert(args.begin(), (dir_ / "prod").string());
    return runProcess(args, options());
  }

  TempDir dir_;
  std::string epmdPort_;
};

TEST_F(Rebar3Test, TheToolTakesItsArgumentsAndEndsWithItsStatus) {
  auto echoed = run({"with space", "", "x"});
  EXPECT_EQ(echoed.status, 0) << echoed.err;
  EXPECT_EQ(echoed.out, "argc=3\narg=<with space>\narg=<>\narg=<x>\n");
  for (int status : {3, 255}) EXPECT_EQ(run({"exit", std::to_string(status)}).status, status);

  // The cookie of the template's vm.args; without Elixir, the service mode.
  auto directory = run({"maintenance", "directory"}).out;
  EXPECT_EQ(readFile(directory.substr(0, directory.size() - 1) + "/releases/COOKIE"),
            "erlcli_cookie");
  // Given twice, the runtime would take neither and make one in the home directory.
  EXPECT_FALSE(fs::exists(dir_ / "home/.erlang.cookie"));
  auto inspected = runProcess({packerPath().string(), "inspect", (dir_ / "prod").string()});
  EXPECT_NE(inspected.out.find("\nstart mode: service\n"), std::string::npos) << inspected.out;
}

TEST_F(Rebar3Test, TheServiceRunsUntilSigtermThenStopsCleanly) {
  RunningProcess service({(dir_ / "prod").string(), "serve"}, options(), dir_ / "service.err");
  ASSERT_EQ(service.readLine(), "erlcli serving") << service.wait().err;
  service.signal(SIGTERM);
  auto stopped = service.wait();
  EXPECT_EQ(stopped.status, 0) << stopped.err;
  // The runtime's own report of the signal may come before or after it.
  EXPECT_NE(stopped.out.find("erlcli stopped\n"), std::string::npos) << stopped.out;
}

TEST_F(Rebar3Test, DevelopmentAndTemplateReleasesAreRefusedWithRebar3sRemedy) {
  for (const auto& [profile, message] : std::vector<std::pair<std::string, std::string>>{
           {"default", "build it with `rebar3 as prod release`"},
           {"src", "holds sys.config.src and vm.args.src but no sys.config and vm.args"}}) {
    auto packed = pack(profile);
    EXPECT_EQ(packed.status, 1) << profile;
    EXPECT_NE(packed.err.find(message), std::string::npos) << packed.err;
    EXPECT_FALSE(fs::exists(dir_ / profile));
  }
}

}  // namespace
}  // namespace wexlo::testing
