// The Windows launcher under Wine: how it starts the runtime, relays its
// exit code, talks to a console and survives damage and signing.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <thread>

#include "support/fake_erl_record.h"
#include "support/launcher_kit.h"
#include "support/runtime_arguments.h"
#include "support/synthetic_release.h"
#include "support/windows_launcher_fixture.h"
#include "support/wine_runner.h"
#include "support/zstd_payloads.h"

namespace wexlo::testing {
namespace {

TEST_F(WindowsLauncherTest, TheRuntimeGetsAQuotedCommandLineThatSplitsBackIntoTheArguments) {
  struct UserArgument {
    std::string typed;   // on the launcher's command line
    std::string value;   // what the user meant
    std::string quoted;  // on the runtime's command line
  };
  const std::vector<UserArgument> user = {
      {"run", "run", "run"},
      {"\"with space\"", "with space", "\"with space\""},
      {"\"tab\there\"", "tab\there", "\"tab\there\""},
      {"quote\\\"d", "quote\"d", "\"quote\\\"d\""},
      {"back\\slash\\", "back\\slash\\", "back\\slash\\"},
      {"\"trailing \\\\\"", "trailing \\", "\"trailing \\\\\""},
      {"\"\"", "", "\"\""},
      {"two\\\\\\\\\\\"q", "two\\\\\"q", "\"two\\\\\\\\\\\"q\""},
      {"plain\\", "plain\\", "plain\\"},
      {"\"in \"\"doubled\"\" quotes\"", "in \"doubled\" quotes", "\"in \\\"doubled\\\" quotes\""},
      {"\xc3\xa9t\xc3\xa9", "\xc3\xa9t\xc3\xa9", "\xc3\xa9t\xc3\xa9"},
      // A lone surrogate (WTF-8) survives the round trip through the launcher.
      {"\xed\xa0\x80!", "\xed\xa0\x80!", "\xed\xa0\x80!"},
  };
  std::string typed, quoted;
  for (const auto& arg : user) {
    typed += (typed.empty() ? "" : " ") + arg.typed;
    quoted += " " + arg.quoted;
  }

  const fs::path spaced = dir_ / "user name";
  const std::string override = windowsPath(spaced);
  const std::string install = override + "\\.wexlo\\" + kInstallName;
  const std::string release = install + "\\releases\\0.1.3";
  const std::vector<std::string> env = {"WEXLO_FAKE_ERL_RECORD=" + windowsPath(record()),
                                        "DEMO_APP_INSTALL_DIR=" + override,
                                        "release_root=old",
                                        "=Z:=Z:\\tmp",
                                        "KEEP=me",
                                        "LONE=\xed\xb0\x80"};
  auto run = start(typed, env);
  ASSERT_EQ(run.exitCode, 0u) << run.result.err;
  EXPECT_EQ(run.result.err, "");
  auto seen = readRecord();

  auto q = [](const std::string& path) { return "\"" + path + "\""; };
  EXPECT_EQ(seen.commandLine,
            q(install + "\\erts-17.1\\bin\\erl.exe") +
                " -elixir ansi_enabled true -noshell -s elixir start_cli \"-mode embedded\""
                " -setcookie secret-cookie -boot " +
                q(release + "\\start") + " -boot_var RELEASE_LIB " + q(install + "\\lib") +
                " -args_file " + q(release + "\\vm.args") + " -config " +
                q(release + "\\sys.config") + " -extra" + quoted);

  auto expectedArgs = expectedRuntimeArguments(install, "17.1", "0.1.3", "secret-cookie", '\\');
  for (const auto& arg : user) expectedArgs.push_back(arg.value);
  EXPECT_EQ(seen.args, expectedArgs);

  // The caller's block in its order, "release_root" keeping its name and
  // place, then the launcher's own variables.
  std::vector<std::string> expectedEnv = {"WEXLO_FAKE_ERL_RECORD=" + windowsPath(record()),
                                          "DEMO_APP_INSTALL_DIR=" + override,
                                          "release_root=" + install,
                                          "=Z:=Z:\\tmp",
                                          "KEEP=me",
                                          "LONE=\xed\xb0\x80",
                                          "_IS_TTY=0",
                                          "RELEASE_SYS_CONFIG=" + release + "\\sys",
                                          "__WEXLO=1",
                                          "__WEXLO_BIN_PATH=" + windowsPath(launcher())};
  EXPECT_EQ(withoutWineEntries(seen.environment), expectedEnv);
  EXPECT_EQ(seen.workingDirectory, windowsPath(dir_.path()));
}

TEST_F(WindowsLauncherTest, AServiceStartsTheRuntimeWithTheEighteenFixedArguments) {
  const fs::path service = dir_ / "service.exe";
  packRelease(shared().release, service, {"--target", "windows-x86_64", "--service"});
  auto result = wine().run(service, {"--port", "4101"}, {environment(), std::nullopt, dir_.path()});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  auto expected =
      expectedRuntimeArguments(winInstall(), "17.1", "0.1.3", "secret-cookie", '\\', Boot::Service);
  ASSERT_EQ(expected.size(), 18u);
  expected.insert(expected.end(), {"--port", "4101"});
  EXPECT_EQ(readRecord().args, expected);
}

TEST_F(WindowsLauncherTest, TheRuntimesWholeExitCodeEndsTheLauncherAndACrashIsNamed) {
  const std::map<std::uint32_t, std::string> cases = {
      {3, ""},
      {256, ""},
      {0xC000013A, ""},  // Ctrl-C: no crash
      {0xC0000005, "error: the runtime crashed: access violation (0xC0000005)\n"}};
  for (const auto& [code, err] : cases) {
    auto result = start("", {"DEMO_APP_INSTALL_DIR=" + windowsPath(root()),
                             "WEXLO_FAKE_ERL_EXIT=" + std::to_string(code)});
    EXPECT_EQ(result.exitCode, code) << code << ": " << result.result.err;
    EXPECT_EQ(result.result.err, err) << code;
  }
}

TEST_F(WindowsLauncherTest, ARuntimeMissingADllSaysSoAndEndsWithItsStatus) {
  ASSERT_EQ(run().status, 0);
  // The runtime's C library renamed in its import table: a DLL no system has.
  std::string image = readFile(fs::path(WEXLO_TEST_HELPERS_DIR) / "fake_erl.exe");
  ASSERT_NE(image.find("msvcrt.dll"), std::string::npos);
  writeFile(install() / "erts-17.1/bin/erl.exe",
            image.replace(image.find("msvcrt.dll"), 10, "absent.dll"));
  auto result = start("", environment());
  EXPECT_EQ(result.exitCode, 0xC0000135u);
  EXPECT_EQ(result.result.err,
            "error: the runtime could not start: a DLL the runtime needs is missing "
            "(0xC0000135)\n");
}

TEST_F(WindowsLauncherTest, ARuntimeThatCannotStartEndsTheRunWithItsFailure) {
  ASSERT_EQ(run().status, 0);
  const fs::path erl = install() / "erts-17.1/bin/erl.exe";
  struct Case {
    std::string what;
    std::function<void()> damage;
    std::string failure;
  };
  const std::vector<Case> cases = {
      {"missing", [&] { fs::remove(erl); }, "FileNotFound"},
      {"not a program", [&] { writeFile(erl, "not a program"); }, "InvalidExe"},
      {"a directory", [&] { fs::create_directory(erl); }, "FileNotFound"},
  };
  for (const auto& c : cases) {
    fs::remove_all(erl);
    c.damage();
    auto result = run();
    EXPECT_EQ(result.status, 1) << c.what;
    EXPECT_EQ(result.err, "error: " + c.failure + "\n") << c.what;
  }
}

TEST_F(WindowsLauncherTest, OnAConsoleTheRuntimeSeesATerminalAndErrorsAreColoured) {
  ASSERT_TRUE(fs::exists("/usr/bin/script")) << "needs script (Debian: bsdutils)";
  auto first = wine().runInTerminal(launcher(), {}, {environment(), std::nullopt, dir_.path()});
  ASSERT_EQ(first.status, 0) << first.out;
  EXPECT_EQ(readRecord().env("_IS_TTY"), "1");
  EXPECT_EQ(readRecord().console, "attached");

  fs::remove(install() / "releases/COOKIE");
  auto coloured = wine().runInTerminal(launcher(), {}, {environment(), std::nullopt, dir_.path()});
  EXPECT_EQ(coloured.status, 1);
  EXPECT_NE(coloured.out.find("\x1b[31m\x1b[1merror\x1b[0m\x1b[2m\x1b[1m: \x1b[0mFileNotFound"),
            std::string::npos)
      << coloured.out;

  auto plain =
      wine().runInTerminal(launcher(), {}, {environment({"no_color="}), std::nullopt, dir_.path()});
  EXPECT_EQ(plain.status, 1);
  EXPECT_NE(plain.out.find("error: FileNotFound"), std::string::npos) << plain.out;
  EXPECT_EQ(plain.out.find("\x1b[31m"), std::string::npos) << plain.out;
}

TEST_F(WindowsLauncherTest, ADetachedLaunchersRuntimeHasNoConsole) {
  ASSERT_EQ(start("", environment(), true).exitCode, 0u);
  EXPECT_EQ(readRecord().console, "none");
}

TEST_F(WindowsLauncherTest, OnACodePage850ConsoleTheLaunchersTextReadsRight) {
  auto result = wine().runInTerminal(
      "cmd", {"/c", "chcp", "850", ">nul", "&", windowsPath(launcher())},
      {{"DEMO_APP_INSTALL_DIR=" + windowsPath(dir_ / "Jos\xc3\xa9")}, std::nullopt, dir_.path()});
  EXPECT_EQ(result.status, 0) << result.out;
  EXPECT_NE(result.out.find("Jos\xc3\xa9"), std::string::npos) << result.out;
}

TEST_F(WindowsLauncherTest, ADamagedPayloadReportsTheDecoderResult) {
  // Raw mode: a stream cut short before its end.
  std::string archive = makeArchive({{"bin/demo_app.bat", "@echo off\r\n"}});
  std::string payload = xzCompress(archive);
  payload.resize(payload.size() - 12);
  auto damaged = packRawForWindows(dir_ / "damaged.exe", metadataText("demo_app", "0.1.3", "17.1"),
                                   payload, archive.size());
  auto result = wine().run(damaged, {}, {environment(), std::nullopt, dir_.path()});
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, notice());
  EXPECT_EQ(result.err, "error: XZ/LZMA Decode Failed: 7\nerror: ParseError\n");
  EXPECT_FALSE(fs::exists(install() / "_metadata.json"));
}

TEST_F(WindowsLauncherTest, ZstdLaunchersUnpackTheReleaseAndDamagedOnesWriteNothing) {
  const fs::path packed = packRelease(shared().release, dir_ / "zstd.exe",
                                      {"--target", "windows-x86_64", "--compression", "zstd"});
  auto result = wine().run(packed, {"zstd"}, {environment(), std::nullopt, dir_.path()});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  expectInstallMatchesRelease();
  EXPECT_EQ(readRecord().args.back(), "zstd");

  const std::string metadata = metadataText("demo_app", "0.1.3", "17.1");
  const std::string archive = makeArchive({{"bin/demo_app.bat", "@echo off\r\n"}});
  const fs::path frames = packRawFor("windows-x86_64", dir_ / "frames.exe", metadata,
                                     zstdCompress(archive, 7), archive.size());
  fs::remove_all(root());
  auto many = wine().run(frames, {}, {environment(), std::nullopt, dir_.path()});
  EXPECT_EQ(readFile(install() / "bin/demo_app.bat"), "@echo off\r\n") << many.err;

  for (const auto& fault : zstdPayloadFaults(archive)) {
    fs::remove_all(root());
    const fs::path damaged = packRawFor("windows-x86_64", dir_ / "damaged.exe", metadata,
                                        fault.payload, fault.decompressedLength);
    auto refused = wine().run(damaged, {}, {environment(), std::nullopt, dir_.path()});
    EXPECT_EQ(refused.status, 1) << fault.what;
    EXPECT_EQ(refused.err, fault.err) << fault.what;
    EXPECT_FALSE(fs::exists(install() / "bin")) << fault.what;
    EXPECT_FALSE(fs::exists(install() / "_metadata.json")) << fault.what;
  }
}

TEST_F(WindowsLauncherTest, ALauncherSignedAfterPackingStillRuns) {
  ASSERT_TRUE(fs::exists("/usr/bin/openssl")) << "needs openssl (Debian: openssl)";
  ASSERT_TRUE(fs::exists("/usr/bin/osslsigncode")) << "needs osslsigncode (Debian: osslsigncode)";
  const fs::path key = dir_ / "key.pem", certificate = dir_ / "cert.pem";
  auto made = runProcess({"/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                          "-subj", "/CN=Wexlo test signer", "-days", "1", "-keyout", key.string(),
                          "-out", certificate.string()});
  ASSERT_EQ(made.status, 0) << made.err;
  const fs::path signedLauncher = dir_ / "signed.exe";
  auto signing = runProcess({"/usr/bin/osslsigncode", "sign", "-certs", certificate.string(),
                             "-key", key.string(), "-n", "demo_app", "-in", launcher().string(),
                             "-out", signedLauncher.string()});
  ASSERT_EQ(signing.status, 0) << signing.out << signing.err;
  ASSERT_GT(fs::file_size(signedLauncher), fs::file_size(launcher()));
  auto verified =
      runProcess({packerPath().string(), "inspect", "--verify", signedLauncher.string()});
  EXPECT_EQ(verified.status, 0) << verified.err;
  EXPECT_NE(verified.out.find("\nversion string: ProductName = demo_app\n"), std::string::npos);
  auto checked = runProcess({"/usr/bin/osslsigncode", "verify", "-CAfile", certificate.string(),
                             "-in", signedLauncher.string()});
  EXPECT_NE(checked.out.find("Signature verification: ok"), std::string::npos) << checked.out;

  auto meta = wine().run(signedLauncher, {"maintenance", "meta"},
                         {environment(), std::nullopt, dir_.path()});
  EXPECT_EQ(meta.status, 0) << meta.err;
  auto result = wine().run(signedLauncher, {"signed"}, {environment(), std::nullopt, dir_.path()});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(meta.out, notice() + readFile(install() / "_metadata.json"));
  expectInstallMatchesRelease();
  EXPECT_EQ(readRecord().args.back(), "signed");
}

// What console_driver.exe wrote after doing `action` to a running launcher,
// in a terminal (Wine delivers console events only there).
class WindowsLifetimeTest : public WindowsLauncherTest {
 protected:
  std::string drive(const std::string& action, std::vector<std::string> env) const {
    const fs::path result = dir_ / "driver.result";
    const fs::path runtimePid = dir_ / "runtime.pid", childPid = dir_ / "child.pid";
    env.push_back("WEXLO_FAKE_ERL_PID_FILE=" + windowsPath(runtimePid));
    env.push_back("WEXLO_FAKE_ERL_CHILD_PID_FILE=" + windowsPath(childPid));
    env.push_back("WEXLO_FAKE_ERL_SLEEP_MS=30000");
    auto run = wine().runInTerminal(consoleDriverPath(),
                                    {action, windowsPath(result), windowsPath(launcher()),
                                     windowsPath(runtimePid), windowsPath(childPid)},
                                    {environment(env), std::nullopt, dir_.path()});
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    return readFile(result);
  }
};

TEST_F(WindowsLifetimeTest, ACtrlCIsTheRuntimesToHandleAndTheLauncherEndsWithItsStatus) {
  EXPECT_EQ(drive("ctrl-c", {"WEXLO_FAKE_ERL_ON_CTRL_C=7"}), "launcher=7\n");
}

TEST_F(WindowsLifetimeTest, AKilledLauncherEndsItsRuntimeButNotWhatTheRuntimeStarted) {
  EXPECT_EQ(drive("terminate", {}), "runtime=ended\nchild=running\n");
}

}  // namespace
}  // namespace wexlo::testing
