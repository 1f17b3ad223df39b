#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "pack/release.h"
#include "pack/release_archive.h"
#include "pack/release_hints.h"

namespace wexlo {
namespace {

namespace fs = std::filesystem;

class ReleaseTest : public ::testing::Test {
 public:
  void SetUp() override {
    char pattern[] = "/tmp/wexlo-release-test-XXXXXX";
    root_ = mkdtemp(pattern);
    release_ = root_ / "rel";
    write("releases/start_erl.data", "13.1.5 0.1.0\n");
    write("releases/0.1.0/demo_app.rel",
          "{release,{\"demo_app\",\"0.1.0\"},{erts,\"13.1.5\"},[{elixir,\"1.14.0\"}]}.\n");
    write("releases/0.1.0/vm.args", "-sname demo\n");
    write("releases/COOKIE", "secret");
    write("erts-13.1.5/bin/erl", "#!/bin/sh\n", 0775);
    write("lib/demo_app-0.1.0/ebin/demo_app.app", "{application,demo_app,[]}.\n");
    write("lib/demo_app-0.1.0/ebin/Elixir.Demo.beam", "BEAM", 0600);
    write("lib/a-1.0/ebin/a.app", "{application,a,[]}.\n");
    write("bin/demo_app", "#!/bin/sh\n", 0755);
  }
  void TearDown() override { fs::remove_all(root_); }

  void write(const std::string& relative, std::string_view content, unsigned mode = 0644) {
    const fs::path path = release_ / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
    fs::permissions(path, static_cast<fs::perms>(mode));
  }

  fs::path root_;
  fs::path release_;
};

std::vector<std::string> pathsOf(const Release& release) {
  std::vector<std::string> paths;
  for (const auto& file : release.files) paths.push_back(file.path);
  return paths;
}

TEST_F(ReleaseTest, ListsFilesInArchiveOrderWithNormalisedModes) {
  write("tmp/scratch", "left out");
  write("README", "left out");
  auto release = readRelease(release_, {});
  ASSERT_TRUE(release) << release.error().message;
  EXPECT_EQ(release->appName, "demo_app");
  EXPECT_EQ(release->appVersion, "0.1.0");
  EXPECT_EQ(release->ertsVersion, "13.1.5");
  EXPECT_EQ(pathsOf(*release), (std::vector<std::string>{
                                   "lib/.wexlo",
                                   "lib/a-1.0/ebin/a.app",
                                   "lib/demo_app-0.1.0/ebin/Elixir.Demo.beam",
                                   "lib/demo_app-0.1.0/ebin/demo_app.app",
                                   "erts-13.1.5/bin/erl",
                                   "releases/0.1.0/demo_app.rel",
                                   "releases/0.1.0/vm.args",
                                   "releases/COOKIE",
                                   "releases/start_erl.data",
                                   "bin/demo_app",
                               }));
  EXPECT_EQ(release->leftOut, (std::vector<std::string>{"README", "tmp"}));
  for (const auto& file : release->files) {
    const bool executable = file.path == "erts-13.1.5/bin/erl" || file.path == "bin/demo_app";
    EXPECT_EQ(file.mode, executable ? 0100755u : 0100644u) << file.path;
  }
}

TEST_F(ReleaseTest, ArchiveCarriesTheFilesAndTheMarker) {
  auto release = readRelease(release_, {});
  ASSERT_TRUE(release);
  auto archive = buildReleaseArchive(*release);
  ASSERT_TRUE(archive) << archive.error().message;
  const std::string text(archive->begin(), archive->end());
  EXPECT_TRUE(text.starts_with("ZELPA"));
  EXPECT_TRUE(text.ends_with("ZELPA"));
  // lib/.wexlo: path length 10, path, content length 0, mode 0100644.
  EXPECT_EQ(text.substr(5, 8), std::string("\x0a\0\0\0\0\0\0\0", 8));
  EXPECT_EQ(text.substr(13, 10), "lib/.wexlo");
  EXPECT_EQ(text.substr(23, 16), std::string("\0\0\0\0\0\0\0\0\xa4\x81\0\0\0\0\0\0", 16));
  EXPECT_NE(text.find("{application,a,[]}."), std::string::npos);

  // An existing marker is carried as it is, not twice.
  write("lib/.wexlo", "");
  release = readRelease(release_, {});
  ASSERT_TRUE(release);
  const auto paths = pathsOf(*release);
  EXPECT_EQ(std::count(paths.begin(), paths.end(), "lib/.wexlo"), 1);
}

TEST_F(ReleaseTest, OverridesReplaceTheReleaseValues) {
  fs::rename(release_ / "erts-13.1.5", release_ / "erts-14.0");
  fs::create_directories(release_ / "releases/0.2.0");
  fs::remove(release_ / "releases/0.1.0/demo_app.rel");  // no name needed when given
  auto release = readRelease(release_, {"other", "0.2.0", "14.0"});
  ASSERT_TRUE(release) << release.error().message;
  EXPECT_EQ(release->appName, "other");
  EXPECT_EQ(release->appVersion, "0.2.0");
  EXPECT_EQ(release->ertsVersion, "14.0");
}

TEST_F(ReleaseTest, NameComesFromTheRelFileNamingItself) {
  write("releases/0.1.0/start_clean.rel",
        "{release,{\"demo_app\",\"0.1.0\"},{erts,\"13.1.5\"},[{elixir,\"1.14.0\"}]}.");
  auto release = readRelease(release_, {});
  ASSERT_TRUE(release) << release.error().message;
  EXPECT_EQ(release->appName, "demo_app");

  fs::remove(release_ / "releases/0.1.0/demo_app.rel");
  release = readRelease(release_, {});
  ASSERT_FALSE(release);
  EXPECT_NE(release.error().message.find("--app-name"), std::string::npos);
}

TEST_F(ReleaseTest, RefusesBadReleases) {
  struct Case {
    const char* name;
    std::function<void(ReleaseTest&)> damage;
    std::string expected;  // part of the error line; {rel} stands for the release directory
    ReleaseOverrides overrides = {};
  };
  std::vector<Case> cases = {
      {"no start_erl.data",
       [](ReleaseTest& t) { fs::remove(t.release_ / "releases/start_erl.data"); },
       "start_erl.data"},
      {"start_erl.data malformed",
       [](ReleaseTest& t) { t.write("releases/start_erl.data", "13.1.5\n"); }, "ERTS_VSN APP_VSN"},
      {"link deep inside",
       [](ReleaseTest& t) {
         fs::create_symlink("/etc/passwd", t.release_ / "lib/a-1.0/ebin/evil");
       },
       "symbolic link: '"},
      {"link at the top",
       [](ReleaseTest& t) { fs::create_directory_symlink(t.release_ / "lib", t.release_ / "tmp"); },
       "symbolic link"},
      {"fifo", [](ReleaseTest& t) { mkfifo((t.release_ / "bin/pipe").c_str(), 0644); },
       "special file: '"},
      {"backslash in a name", [](ReleaseTest& t) { t.write("lib/a-1.0/x\\y", ""); }, "x\\y"},
      {"erts version without its directory",
       [](ReleaseTest&) {},
       "erts-9.9",
       {std::nullopt, std::nullopt, "9.9"}},
      {"app version without its directory",
       [](ReleaseTest&) {},
       "releases/9.9.9",
       {std::nullopt, "9.9.9", std::nullopt}},
      {"app version that is no semantic version",
       [](ReleaseTest&) {},
       "'9.9' is not a semantic version",
       {std::nullopt, "9.9", std::nullopt}},
      {"no runtime (include_erts: false)",
       [](ReleaseTest& t) { fs::remove_all(t.release_ / "erts-13.1.5"); },
       "release has no runtime: no directory erts-13.1.5 in '{rel}'; set `include_erts: true` "
       "in the release's config in mix.exs"},
      {"rebar3's development mode: no runtime",
       [](ReleaseTest& t) {
         fs::remove_all(t.release_ / "erts-13.1.5");
         t.write("releases/RELEASES", "[].");
       },
       "no directory erts-13.1.5 in '{rel}'; build it with `rebar3 as prod release`"},
      {"rebar3's development mode: linked files",
       [](ReleaseTest& t) {
         t.write("releases/0.1.0/demo_app.rel",
                 "{release,{\"demo_app\",\"0.1.0\"},{erts,\"1\"},[]}.");
         fs::create_symlink("/etc/passwd", t.release_ / "lib/a-1.0/ebin/linked");
       },
       "symbolic link: '{rel}/lib/a-1.0/ebin/linked'; rebar3's development mode links"},
      {"vm.args only as a template",
       [](ReleaseTest& t) {
         fs::rename(t.release_ / "releases/0.1.0/vm.args",
                    t.release_ / "releases/0.1.0/vm.args.src");
       },
       "holds vm.args.src but no vm.args: the release's start script renders it"},
      {"a Mix project",
       [](ReleaseTest& t) {
         fs::remove_all(t.release_ / "releases");
         t.write("mix.exs", "def project, do: [app: :my_app, version: \"0.1.0\"]");
       },
       "'{rel}' is a Mix project, not a release: run `MIX_ENV=prod mix release` there and pass "
       "'{rel}/_build/prod/rel/my_app'"},
      {"a rebar3 project",
       [](ReleaseTest& t) {
         fs::remove_all(t.release_ / "releases");
         t.write("rebar.config", "{relx, [{release, {erlcli, \"0.1.0\"},\n [erlcli, sasl]}]}.");
       },
       "'{rel}' is a rebar3 project, not a release: run `rebar3 as prod release` there and pass "
       "'{rel}/_build/prod/rel/erlcli'"},
      {"the directory holding the releases",
       [](ReleaseTest& t) {
         fs::rename(t.release_, t.root_ / "demo_app");
         t.write("other/releases/start_erl.data", "13.1.5 0.1.0\n");
         t.write("not_a_release/README", "");
         fs::rename(t.root_ / "demo_app", t.release_ / "demo_app");
       },
       "'{rel}' holds the releases demo_app and other: pass one of them, e.g. '{rel}/demo_app'"},
      {"app name with a slash", [](ReleaseTest&) {}, "../x", {"../x", std::nullopt, std::nullopt}},
      {"app name dot dot", [](ReleaseTest&) {}, "'..'", {"..", std::nullopt, std::nullopt}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    c.damage(*this);
    auto release = readRelease(release_, c.overrides);
    ASSERT_FALSE(release);
    std::string expected = c.expected;
    for (auto at = expected.find("{rel}"); at != std::string::npos; at = expected.find("{rel}"))
      expected.replace(at, 5, release_.string());
    EXPECT_NE(release.error().message.find(expected), std::string::npos) << release.error().message;
  }
  EXPECT_NE(readRelease(root_ / "missing", {}).error().message.find("not found"),
            std::string::npos);
  EXPECT_NE(readRelease(release_ / "bin/demo_app", {}).error().message.find("not a directory"),
            std::string::npos);
}

TEST(AppNameFromMixProject, ReadsTheAppKeyOnly) {
  EXPECT_EQ(appNameFromMixProject("[\n  app: :demo_app,\n  version: \"0.1.0\""), "demo_app");
  EXPECT_EQ(appNameFromMixProject("[otp_app: :other, app:   :My_app2]"), "My_app2");
  for (std::string_view none : {"", "[apps_path: \"apps\"]", "[otp_app: :x]", "[app: \"str\"]",
                                "[app: :1x]", "config[:app]"}) {
    EXPECT_FALSE(appNameFromMixProject(none)) << none;
  }
}

TEST(ReleaseNameFromRelFile, ReadsTheFirstTupleOnly) {
  EXPECT_EQ(releaseNameFromRelFile("{release,{\"demo\",\"1\"},{erts,\"1\"},[]}."), "demo");
  EXPECT_EQ(releaseNameFromRelFile("%% generated\n{ release ,\n  { \"demo\" , \"1\" }"), "demo");
  for (std::string_view bad :
       {"", "{application,{\"demo\",\"1\"}}", "{release,{demo,\"1\"}}", "{release,{\"\",\"1\"}}",
        "{release,{\"unterminated", "{release,{\"a\\\"b\"}}"}) {
    EXPECT_FALSE(releaseNameFromRelFile(bad)) << bad;
  }
}

}  // namespace
}  // namespace wexlo
