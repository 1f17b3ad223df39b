// The Win32 platform layer against the real API (run under Wine on Linux).
// The program doubles as the child process of the process and console tests:
// "--exit N" ends with N, "--terminal" reports what it sees on its streams.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/console.h"
#include "platform/environment_windows.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/win32_util_windows.h"

namespace wexlo {
namespace {

std::span<const std::uint8_t> bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string readWhole(FileSystem& fs, const std::string& path) {
  auto file = fs.openForReading(path);
  if (!file) return "<" + std::string(failureName(file.error())) + ">";
  auto content = (*file)->readAll(1 << 20);
  return content ? *content : "<" + std::string(failureName(content.error())) + ">";
}

class WindowsFileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH + 1];
    ASSERT_NE(GetTempPathW(MAX_PATH + 1, temp), 0u);
    dir_ = win32::narrow(temp) + "wexlo-test-" + std::to_string(GetCurrentProcessId()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
    ASSERT_TRUE(fs_.deleteTree(dir_));
    ASSERT_TRUE(fs_.makePath(dir_));
  }
  void TearDown() override { EXPECT_TRUE(fs_.deleteTree(dir_)); }

  std::string at(std::string_view relative) const { return dir_ + "\\" + std::string(relative); }

  FileSystem& fs_ = realFileSystem();
  std::string dir_;
};

TEST_F(WindowsFileSystemTest, PathsPastTheOldLimitWithEitherSeparator) {
  std::string deep = dir_;
  for (char letter = 'a'; letter < 'm'; ++letter) {
    deep += (letter % 2 ? "/" : "\\") + std::string(30, letter);
  }
  ASSERT_GT(deep.size(), 300u);
  ASSERT_TRUE(fs_.makePath(deep));
  ASSERT_TRUE(fs_.makePath(deep)) << "an existing directory is fine";
  std::string file = deep + "/.\\x/../file.txt";
  ASSERT_TRUE(fs_.writeFile(file, bytes("deep"), 0644));
  EXPECT_TRUE(fs_.checkExists(deep + "\\file.txt"));
  EXPECT_EQ(readWhole(fs_, file), "deep");
}

TEST_F(WindowsFileSystemTest, WriteCreatesTruncatesAndSharesWithReaders) {
  std::string file = at("f");
  ASSERT_TRUE(fs_.writeFile(file, bytes("first content"), 0));
  auto reader = fs_.openForReading(file);
  ASSERT_TRUE(reader);
  // An open reader neither blocks rewriting nor sees the old length.
  ASSERT_TRUE(fs_.writeFile(file, bytes("2nd"), 0));
  EXPECT_EQ(*(*reader)->readAll(100), "2nd");
  ASSERT_TRUE(fs_.writeFile(file, {}, 0));
  EXPECT_EQ(readWhole(fs_, file), "");
}

TEST_F(WindowsFileSystemTest, ReadAllStopsAtTheLimit) {
  ASSERT_TRUE(fs_.writeFile(at("cookie"), bytes(std::string(255, 'c')), 0));
  ASSERT_TRUE(fs_.writeFile(at("long"), bytes(std::string(256, 'c')), 0));
  EXPECT_EQ((*fs_.openForReading(at("cookie")))->readAll(256)->size(), 255u);
  EXPECT_EQ((*fs_.openForReading(at("long")))->readAll(256).error(), Failure::StreamTooLong);
}

TEST_F(WindowsFileSystemTest, FailureNames) {
  ASSERT_TRUE(fs_.writeFile(at("plain"), bytes("x"), 0));
  ASSERT_TRUE(fs_.makeDirectory(at("dir")));
  struct Case {
    const char* what;
    Status status;
    Failure expected;
  };
  const std::vector<Case> cases = {
      {"exists: missing", fs_.checkExists(at("missing")), Failure::FileNotFound},
      {"exists: missing parent", fs_.checkExists(at("missing\\x")), Failure::FileNotFound},
      {"exists: invalid name", fs_.checkExists(at("a<b")), Failure::Unexpected},
      {"mkdir: exists", fs_.makeDirectory(at("dir")), Failure::PathAlreadyExists},
      {"mkdir: no parent", fs_.makeDirectory(at("missing\\x")), Failure::FileNotFound},
      {"makePath: file in the way", fs_.makePath(at("plain\\sub")), Failure::NotDir},
      {"makePath: is a file", fs_.makePath(at("plain")), Failure::NotDir},
      {"write: invalid name", fs_.writeFile(at("a<b"), bytes("x"), 0), Failure::BadPathName},
      {"write: a directory", fs_.writeFile(at("dir"), bytes("x"), 0), Failure::AccessDenied},
      {"write: no parent", fs_.writeFile(at("missing\\f"), bytes("x"), 0), Failure::FileNotFound},
  };
  for (const auto& c : cases) {
    ASSERT_FALSE(c.status) << c.what;
    EXPECT_EQ(c.status.error(), c.expected) << c.what << ": " << failureName(c.status.error());
  }
  EXPECT_EQ(fs_.openForReading(at("missing")).error(), Failure::FileNotFound);
  EXPECT_EQ(fs_.listDirectory(at("missing")).error(), Failure::FileNotFound);
  EXPECT_EQ(fs_.listDirectory(at("plain")).error(), Failure::NotDir);
  EXPECT_EQ(fs_.writeFile("", bytes("x"), 0).error(), Failure::BadPathName);
}

TEST_F(WindowsFileSystemTest, ListsNamesAsWtf8WithTheirKinds) {
  ASSERT_TRUE(fs_.makeDirectory(at("sub")));
  ASSERT_TRUE(fs_.writeFile(at("\xc3\xa9t\xc3\xa9"), bytes("x"), 0));
  auto entries = fs_.listDirectory(dir_ + "/");
  ASSERT_TRUE(entries);
  std::map<std::string, EntryKind> kinds;
  for (const auto& entry : *entries) kinds[entry.name] = entry.kind;
  EXPECT_EQ(kinds, (std::map<std::string, EntryKind>{{"sub", EntryKind::Directory},
                                                     {"\xc3\xa9t\xc3\xa9", EntryKind::File}}));
  EXPECT_TRUE(fs_.listDirectory(at("sub"))->empty());
}

TEST_F(WindowsFileSystemTest, DeleteTreeRemovesEverythingBelowIncludingReadOnlyFiles) {
  ASSERT_TRUE(fs_.makePath(at("tree\\a\\b\\c")));
  ASSERT_TRUE(fs_.writeFile(at("tree\\a\\b\\c\\f"), bytes("x"), 0));
  ASSERT_TRUE(fs_.writeFile(at("tree\\a\\ro"), bytes("x"), 0));
  auto readOnly = *win32::widen(at("tree\\a\\ro"));
  ASSERT_TRUE(SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
  ASSERT_TRUE(fs_.writeFile(at("keep"), bytes("x"), 0));

  ASSERT_TRUE(fs_.deleteTree(at("tree")));
  EXPECT_EQ(fs_.checkExists(at("tree")).error(), Failure::FileNotFound);
  EXPECT_TRUE(fs_.checkExists(at("keep")));
  EXPECT_TRUE(fs_.deleteTree(at("tree"))) << "a missing tree counts as deleted";
  EXPECT_TRUE(fs_.deleteTree(at("keep"))) << "a single file is a tree too";
  EXPECT_EQ(fs_.checkExists(at("keep")).error(), Failure::FileNotFound);
}

TEST_F(WindowsFileSystemTest, DeleteTreeReportsAFileHeldOpenWithoutSharing) {
  ASSERT_TRUE(fs_.makePath(at("tree")));
  ASSERT_TRUE(fs_.writeFile(at("tree\\held"), bytes("x"), 0));
  auto path = *win32::widen(at("tree\\held"));
  win32::UniqueHandle held(
      CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held.valid());
  auto deleted = fs_.deleteTree(at("tree"));
  ASSERT_FALSE(deleted);
  EXPECT_EQ(deleted.error(), Failure::FileBusy);
}

TEST_F(WindowsFileSystemTest, MapsWholeFilesIncludingEmptyOnes) {
  ASSERT_TRUE(fs_.writeFile(at("data"), bytes("mapped bytes"), 0));
  ASSERT_TRUE(fs_.writeFile(at("empty"), {}, 0));
  {
    auto mapped = fs_.mapReadOnly(at("data"));
    ASSERT_TRUE(mapped);
    auto view = (*mapped)->bytes();
    EXPECT_EQ(std::string(view.begin(), view.end()), "mapped bytes");
    EXPECT_TRUE((*fs_.mapReadOnly(at("empty")))->bytes().empty());
  }
  auto self = realProcess().selfExecutablePath();
  ASSERT_TRUE(self);
  auto image = fs_.mapReadOnly(*self);
  ASSERT_TRUE(image);
  EXPECT_EQ((*image)->bytes()[0], 'M');
  EXPECT_EQ(fs_.mapReadOnly(at("missing")).error(), Failure::FileNotFound);
}

TEST_F(WindowsFileSystemTest, LocksConflictByModeAndAreReleasedOnDestruction) {
  // Locks of one process conflict too when taken through separate handles,
  // as those of two launchers do.
  auto shared = fs_.lock(at("lock"), LockMode::Shared);
  ASSERT_TRUE(shared);
  auto alsoShared = fs_.tryLock(at("lock"), LockMode::Shared);
  EXPECT_TRUE(alsoShared);
  EXPECT_EQ(fs_.tryLock(at("lock"), LockMode::Exclusive).error(), Failure::FileBusy);
  shared->reset();
  alsoShared->reset();
  auto exclusive = fs_.tryLock(at("lock"), LockMode::Exclusive);
  ASSERT_TRUE(exclusive);
  EXPECT_EQ(fs_.tryLock(at("lock"), LockMode::Shared).error(), Failure::FileBusy);
  EXPECT_TRUE((*exclusive)->keepAcrossHandOver());
  exclusive->reset();
  EXPECT_TRUE(fs_.tryLock(at("lock"), LockMode::Exclusive));
}

TEST_F(WindowsFileSystemTest, ReadOnlyLockFilesLockAndExclusiveHoldersAreSeenWithoutCreating) {
  EXPECT_EQ(fs_.isLockedExclusively(at("missing")), false);
  EXPECT_EQ(fs_.checkExists(at("missing")).error(), Failure::FileNotFound);
  ASSERT_TRUE(fs_.writeFile(at("lock"), bytes(""), 0));
  auto wide = win32::extendedPath(at("lock"));
  ASSERT_TRUE(SetFileAttributesW(wide->c_str(), FILE_ATTRIBUTE_READONLY));
  {
    auto exclusive = fs_.lock(at("lock"), LockMode::Exclusive);
    ASSERT_TRUE(exclusive) << failureName(exclusive.error());
    EXPECT_EQ(fs_.isLockedExclusively(at("lock")), true);
  }
  auto shared = fs_.lock(at("lock"), LockMode::Shared);
  ASSERT_TRUE(shared);
  EXPECT_EQ(fs_.isLockedExclusively(at("lock")), false);
  shared->reset();
  ASSERT_TRUE(SetFileAttributesW(wide->c_str(), FILE_ATTRIBUTE_NORMAL));
}

TEST_F(WindowsFileSystemTest, DeletesOwnFilesOnly) {
  ASSERT_TRUE(fs_.writeFile(at("mine"), bytes("x"), 0));
  ASSERT_TRUE(fs_.makePath(at("dir")));
  EXPECT_EQ(fs_.deleteOwnFile(at("mine")), true);
  EXPECT_EQ(fs_.checkExists(at("mine")).error(), Failure::FileNotFound);
  EXPECT_EQ(fs_.deleteOwnFile(at("mine")), false);
  EXPECT_EQ(fs_.deleteOwnFile(at("dir")), false);
  EXPECT_TRUE(fs_.checkExists(at("dir")));
}

TEST_F(WindowsFileSystemTest, RenameMovesDirectoriesAndReplacesFiles) {
  ASSERT_TRUE(fs_.makePath(at("from/sub")));
  ASSERT_TRUE(fs_.writeFile(at("from/sub/f"), bytes("x"), 0));
  ASSERT_TRUE(fs_.rename(at("from"), at("to")));
  EXPECT_EQ(fs_.checkExists(at("from")).error(), Failure::FileNotFound);
  EXPECT_TRUE(fs_.checkExists(at("to/sub/f")));
  ASSERT_TRUE(fs_.writeFile(at("new"), bytes("new"), 0));
  ASSERT_TRUE(fs_.writeFile(at("old"), bytes("old"), 0));
  ASSERT_TRUE(fs_.rename(at("new"), at("old")));
  EXPECT_EQ(readWhole(fs_, at("old")), "new");
}

TEST(WindowsEnvironment, NamesMatchRegardlessOfLetterCase) {
  struct Case {
    const char* a;
    const char* b;
    bool equal;
  };
  const std::vector<Case> cases = {
      {"Path", "PATH", true},
      {"release_root", "RELEASE_ROOT", true},
      {"\xc3\xa4pfel", "\xc3\x84PFEL", true},           // basic-plane letters fold
      {"\xf0\x90\x90\xa8", "\xf0\x90\x90\x80", false},  // supplementary ones do not
      {"PATH", "PATHS", false},
      {"=C:", "=c:", true},
  };
  for (const auto& c : cases) EXPECT_EQ(windowsNameEquals(c.a, c.b), c.equal) << c.a << " " << c.b;
}

TEST(WindowsProcess, EnvironmentCopyLooksUpAnyCase) {
  ASSERT_TRUE(SetEnvironmentVariableW(L"Wexlo_Test_Var", L"v\u00e4lue"));
  auto environment = realProcess().environment();
  ASSERT_TRUE(environment);
  EXPECT_EQ(environment->get("WEXLO_TEST_VAR"), "v\xc3\xa4lue");
}

TEST(WindowsProcess, SelfPathIsAbsoluteInDriveLetterForm) {
  auto self = realProcess().selfExecutablePath();
  ASSERT_TRUE(self);
  EXPECT_FALSE(self->starts_with("\\\\?\\"));
  ASSERT_GE(self->size(), 3u);
  EXPECT_EQ(self->substr(1, 2), ":\\");
  EXPECT_TRUE(self->ends_with(".exe"));
}

TEST(WindowsProcess, RelaysTheWholeExitCode) {
  auto self = *realProcess().selfExecutablePath();
  auto environment = *realProcess().environment();
  for (unsigned code : {0u, 1u, 255u, 256u, 259u, 0xC0000005u, 0xFFFFFFFFu}) {
    auto status = realProcess().handOver(self, {self, "--exit", std::to_string(code)}, environment);
    ASSERT_TRUE(status) << code;
    EXPECT_EQ(static_cast<unsigned>(*status), code) << code;
  }
}

TEST(WindowsProcess, StartFailureNames) {
  auto environment = *realProcess().environment();
  wchar_t windows[MAX_PATH];
  ASSERT_NE(GetWindowsDirectoryW(windows, MAX_PATH), 0u);
  std::string directory = win32::narrow(windows);
  std::string notExe =
      directory + "\\..\\wexlo-not-an-exe-" + std::to_string(GetCurrentProcessId()) + ".exe";
  ASSERT_TRUE(realFileSystem().writeFile(notExe, bytes("no program here"), 0));
  struct Case {
    std::string program;
    Failure expected;
  };
  const std::vector<Case> cases = {
      {directory + "\\no-such-dir\\erl.exe", Failure::FileNotFound},
      {directory, Failure::FileNotFound},
      {notExe, Failure::InvalidExe},
  };
  for (const auto& c : cases) {
    auto status = realProcess().handOver(c.program, {c.program}, environment);
    ASSERT_FALSE(status) << c.program;
    EXPECT_EQ(status.error(), c.expected) << c.program << ": " << failureName(status.error());
  }
  EXPECT_TRUE(realFileSystem().deleteTree(notExe));
}

// Starts this program in "--terminal" mode with standard error on a named
// pipe of the given name and returns what it reported.
int terminalReportWithStderrPipe(const std::wstring& pipeName) {
  std::wstring path = L"\\\\.\\pipe\\" + pipeName;
  win32::UniqueHandle server(CreateNamedPipeW(path.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE, 1,
                                              4096, 4096, 0, nullptr));
  if (!server.valid()) return -1;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  win32::UniqueHandle client(
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, &inherit, OPEN_EXISTING, 0, nullptr));
  if (!client.valid()) return -1;
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring commandLine = L"child --terminal";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = client.get();
  PROCESS_INFORMATION started;
  if (!CreateProcessW(self, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &started)) {
    return -1;
  }
  CloseHandle(started.hThread);
  win32::UniqueHandle child(started.hProcess);
  WaitForSingleObject(child.get(), INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(child.get(), &code);
  return static_cast<int>(code);
}

constexpr int kErrorIsTerminal = 1;
constexpr int kEscapeCodes = 2;

TEST(WindowsConsole, EmulatorPtyPipesCountAsTerminals) {
  struct Case {
    const wchar_t* pipe;
    int expected;
  };
  const std::vector<Case> cases = {
      {L"msys-1888ae32e00d56aa-pty0-to-master", kErrorIsTerminal | kEscapeCodes},
      {L"cygwin-e022582115c10879-pty2-from-master", kErrorIsTerminal | kEscapeCodes},
      {L"msys-1888ae32e00d56aa-cygpipe", 0},
      {L"other-pty0", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(terminalReportWithStderrPipe(c.pipe), c.expected) << std::wstring(c.pipe).size();
  }
}

int childMain(int argc, char** argv) {
  if (std::strcmp(argv[1], "--exit") == 0 && argc > 2) {
    return static_cast<int>(std::strtoul(argv[2], nullptr, 10));
  }
  auto& console = realConsole();
  return (console.isTerminal(StreamId::Error) ? kErrorIsTerminal : 0) |
         (console.enableEscapeCodes() ? kEscapeCodes : 0);
}

}  // namespace
}  // namespace wexlo

int main(int argc, char** argv) {
  if (argc > 1 &&
      (std::strcmp(argv[1], "--exit") == 0 || std::strcmp(argv[1], "--terminal") == 0)) {
    return wexlo::childMain(argc, argv);
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
