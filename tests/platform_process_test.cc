#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "platform/default_install_root.h"
#include "platform/errno_failure_posix.h"
#include "platform/process.h"

namespace wexlo {
namespace {

TEST(FailureFromErrno, MapsEachKnownValue) {
  const std::pair<int, Failure> cases[] = {
      {ENOENT, Failure::FileNotFound},
      {EACCES, Failure::AccessDenied},
      {EPERM, Failure::AccessDenied},
      {ENOSPC, Failure::NoSpaceLeft},
      {EDQUOT, Failure::DiskQuota},
      {EFBIG, Failure::FileTooBig},
      {ENOTDIR, Failure::NotDir},
      {EISDIR, Failure::IsDir},
      {EEXIST, Failure::PathAlreadyExists},
      {ENAMETOOLONG, Failure::NameTooLong},
      {ELOOP, Failure::SymLinkLoop},
      {EROFS, Failure::ReadOnlyFileSystem},
      {ETXTBSY, Failure::FileBusy},
      {EBUSY, Failure::DeviceBusy},
      {ENOTEMPTY, Failure::DirNotEmpty},
      {EXDEV, Failure::CrossDevice},
      {EMFILE, Failure::ProcessFdQuotaExceeded},
      {ENFILE, Failure::SystemFdQuotaExceeded},
      {ENOMEM, Failure::SystemResources},
      {EIO, Failure::InputOutput},
      {EINVAL, Failure::Unexpected},
      {0, Failure::Unexpected},
  };
  for (auto [error, failure] : cases) {
    EXPECT_EQ(failureName(failureFromErrno(error)), failureName(failure)) << "errno " << error;
  }
}

TEST(PosixDefaultInstallRoot, TakesTheFirstUsableVariable) {
  using Variables = std::map<std::string, std::string>;
  const struct {
    Variables variables;
    std::optional<std::string> root;
  } cases[] = {
      {{{"APPDATA", "/a"}, {"XDG_DATA_HOME", "/x"}, {"HOME", "/h"}}, "/a"},
      {{{"APPDATA", ""}, {"HOME", "/h"}}, ""},
      {{{"XDG_DATA_HOME", "/x/data"}, {"HOME", "/h"}}, "/x/data"},
      {{{"XDG_DATA_HOME", "relative"}, {"HOME", "/h"}}, "/h/.local/share"},
      {{{"XDG_DATA_HOME", ""}, {"HOME", "/h/"}}, "/h/.local/share"},
      {{{"HOME", "/"}}, "/.local/share"},
      {{{"HOME", ""}}, std::nullopt},
      {{}, std::nullopt},
  };
  for (const auto& c : cases) {
    auto lookup = [&](std::string_view name) -> std::optional<std::string> {
      auto it = c.variables.find(std::string(name));
      if (it == c.variables.end()) return std::nullopt;
      return it->second;
    };
    EXPECT_EQ(posixDefaultInstallRoot(lookup), c.root);
  }
}

TEST(PosixProcess, EnvironmentNamesAreExact) {
  ASSERT_EQ(setenv("WEXLO_TEST_VARIABLE", "a=b", 1), 0);
  auto environment = realProcess().environment();
  ASSERT_TRUE(environment.has_value());
  EXPECT_EQ(environment->get("WEXLO_TEST_VARIABLE"), "a=b");
  EXPECT_EQ(environment->get("wexlo_test_variable"), std::nullopt);
}

TEST(PosixProcess, SelfExecutablePathIsThisTest) {
  auto path = realProcess().selfExecutablePath();
  ASSERT_TRUE(path.has_value());
  EXPECT_TRUE(path->starts_with('/'));
  EXPECT_TRUE(std::filesystem::equivalent(*path, "/proc/self/exe"));
}

class ExecFailureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    directory_ =
        std::filesystem::temp_directory_path() / ("wexlo_process_test_" + std::to_string(getpid()));
    std::filesystem::create_directories(directory_);
  }
  void TearDown() override { std::filesystem::remove_all(directory_); }

  std::string file(const std::string& name, const std::string& content, mode_t mode) {
    auto path = (directory_ / name).string();
    std::ofstream(path) << content;
    chmod(path.c_str(), mode);
    return path;
  }

  std::filesystem::path directory_;
};

TEST_F(ExecFailureTest, RefusedStartsGiveTheirFailureNames) {
  const std::pair<std::string, Failure> cases[] = {
      {(directory_ / "missing").string(), Failure::FileNotFound},
      {directory_.string(), Failure::FileNotFound},
      {file("not-executable", "#!/bin/sh\n", 0644), Failure::AccessDenied},
      {file("garbage",
            "\x7f"
            "ELF garbage",
            0755),
       Failure::InvalidExe},
  };
  for (const auto& [program, failure] : cases) {
    auto result = realProcess().handOver(program, {program}, Environment());
    ASSERT_FALSE(result.has_value()) << program;
    EXPECT_EQ(failureName(result.error()), failureName(failure)) << program;
  }
  EXPECT_EQ(realProcess().handOver("/bin/sh", {"sh", std::string("a\0b", 3)}, Environment()),
            fail(Failure::InvalidCharacter));
}

TEST(PosixProcess, ExecPassesArgumentsAndEnvironment) {
  pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    Environment environment;
    environment.set("WEXLO_X", "a b");
    (void)realProcess().handOver(
        "/bin/sh", {"sh", "-c", "test \"$WEXLO_X|$0|$1\" = 'a b|first|' && exit 7", "first", ""},
        environment);
    _exit(99);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 7);
}

}  // namespace
}  // namespace wexlo
