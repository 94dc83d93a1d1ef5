// Programs, servers, the environment and the reboot schedule, against the real system under Wine
// and the host layer natively. Cases that need the 9x platform run where the platform can be
// switched ($KX_WINVER on the host) and are skipped elsewhere.
#include "support/zrShell.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "TestSupport.h"
#include "support/RunState.h"
#include "support/WinVersion.h"
#include "support/zrFileUtils.h"
#include "support/zrRegIni.h"
#include "support/zrStrUtils.h"

namespace {

// A shell that exits with a given code: cmd.exe on Windows, sh on the host.
struct Shell {
  std::string program;
  std::string Exit(int code) const {
    return IsCmd() ? "/c exit " + std::to_string(code) : "-c \"exit " + std::to_string(code) + "\"";
  }
  // Sleeps, then exits with 5: a wait that is not cut short sees the 5.
  std::string SleepThenFail(int seconds) const {
    return "-c \"sleep " + std::to_string(seconds) + "; exit 5\"";
  }
  bool IsCmd() const { return program.find("cmd.exe") != std::string::npos; }
};

Shell FindShell() {
  std::string cmd = os::SystemDir() + "\\cmd.exe";
  return {FileExists(cmd) ? cmd : std::string("Z:\\bin\\sh")};
}

// Switches the reported platform for one test where the OS layer allows it.
class Platform9x {
 public:
  Platform9x() {
    os::SetProcessVariable("KX_WINVER", "4.10.2222:9x");
    RefreshWinVersion();
  }
  ~Platform9x() {
    os::RemoveProcessVariable("KX_WINVER");
    RefreshWinVersion();
  }
  bool Active() const { return IsPlatform9x(); }
};

TEST(RunAndWaitTest, ReturnsTheExitCodeOfProgramsAndOfShellOpenedFiles) {
  Shell shell = FindShell();
  EXPECT_EQ(RunAndWait(nullptr, shell.program, shell.Exit(3), os::kShowHidden, ""), 3);
  EXPECT_EQ(RunAndWait(nullptr, "\"" + shell.program + "\"", shell.Exit(0), os::kShowHidden, ""),
            0);
}

TEST(RunAndWaitTest, NothingStartedGivesMinusOne) {
  EXPECT_EQ(RunAndWait(nullptr, "C:\\no such folder\\setup.exe", "", os::kShowHidden, ""), -1);
  EXPECT_EQ(RunAndWait(nullptr, "C:\\no such folder\\readme.txt", "", os::kShowHidden, ""), -1);
}

TEST(RunAndWaitTest, StopWaitingCutsTheWaitShort) {
  Shell shell = FindShell();
  if (shell.IsCmd()) GTEST_SKIP() << "needs a sleeping child";
  RunState().StopWaiting = true;
  int result = RunAndWait(nullptr, shell.program, shell.SleepThenFail(2), os::kShowHidden, "");
  RunState().StopWaiting = false;
  EXPECT_EQ(result, 0);
}

TEST(ServerRegistrationTest, CallsTheLibrarysOwnEntries) {
  EXPECT_TRUE(RegisterServer(KX_TEST_SERVER_LIBRARY));
  EXPECT_FALSE(UnregisterServer(KX_TEST_SERVER_LIBRARY));  // the server answers E_FAIL
  EXPECT_FALSE(RegisterServer(std::string(KX_TEST_DATA_DIR) + "\\no-such-server.dll"));
}

TEST(EnvironmentTest, ListsTheProcessEnvironment) {
  os::SetProcessVariable("KX_ENV_PROBE", "probe value");
  std::vector<std::string> list;
  EnvironmentStrings(list);
  os::RemoveProcessVariable("KX_ENV_PROBE");
  EXPECT_NE(std::find(list.begin(), list.end(), "KX_ENV_PROBE=probe value"), list.end());
}

TEST(EnvironmentTest, NtStoresVariablesUnderTheUsersEnvironmentKey) {
  EXPECT_FALSE(SetEnvironmentVariable("", "x"));
  ASSERT_TRUE(SetEnvironmentVariable("KX_TEST_VARIABLE", "C:\\Tools"));
  EXPECT_EQ(RegReadText("HKCU\\Environment", "KX_TEST_VARIABLE", ""), "C:\\Tools");
  RegDeleteValue("HKCU\\Environment", "KX_TEST_VARIABLE");
}

TEST(EnvironmentTest, On9xAutoexecLinesAreReplacedOrAppended) {
  Platform9x platform;
  if (!platform.Active()) GTEST_SKIP() << "the platform cannot be switched here";
  const std::string autoexec = "c:\\autoexec.bat";
  DeleteFileForced(autoexec);
  ASSERT_TRUE(SetEnvironmentVariable("PATH", "C:\\DOS"));  // no autoexec.bat yet
  EXPECT_EQ(ReadFileText(autoexec), "SET PATH=C:\\DOS\r\n");

  ASSERT_TRUE(WriteFileText(autoexec, "@ECHO OFF\r\n  set path = C:\\OLD\nSET TEMP=C:\\TEMP\r\n"));
  ASSERT_TRUE(SetEnvironmentVariable("Path", "C:\\NEW"));
  ASSERT_TRUE(SetEnvironmentVariable("BLASTER", "A220"));
  EXPECT_EQ(ReadFileText(autoexec),
            "@ECHO OFF\r\nSET Path=C:\\NEW\r\nSET TEMP=C:\\TEMP\r\nSET BLASTER=A220\r\n");
  DeleteFileForced(autoexec);
}

TEST(FreeSpaceTest, OldSystemsAskTheClassicCallWhichStopsAtTwoGigabytes) {
  Platform9x platform;
  if (!platform.Active()) GTEST_SKIP() << "the platform cannot be switched here";
  os::SetProcessVariable("KX_WINVER", "4.0.950:9x");  // Windows 95: no extended call
  RefreshWinVersion();
  uint64_t classic = FreeSpaceKiB(os::TempPath());
  EXPECT_GT(classic, 0u);
  EXPECT_LE(classic, 2u * 1024 * 1024);
  os::SetProcessVariable("KX_WINVER", "4.0.1111:9x");  // a later build has the extended call
  RefreshWinVersion();
  uint64_t extended = FreeSpaceKiB(os::TempPath());
  EXPECT_GE(extended, classic);
}

TEST(SpecialFolderTest, KnowsTheDesktopAndTheSystemFolders) {
  EXPECT_FALSE(SpecialFolder(16).empty());  // desktop directory
  EXPECT_FALSE(SpecialFolder(25).empty());  // all users' desktop, or the user's own
  EXPECT_EQ(SpecialFolder(37), os::SystemDir());
  EXPECT_EQ(SpecialFolder(9999), "");
}

class RebootScheduleTest : public testing::Test {
 protected:
  static constexpr char kSessionManager[] =
      "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";
  void SetUp() override { RegDeleteValue(kSessionManager, "PendingFileRenameOperations"); }
  void TearDown() override { RegDeleteValue(kSessionManager, "PendingFileRenameOperations"); }
  ScratchFolder scratch_{CurrentTestName()};
};

TEST_F(RebootScheduleTest, NtDeletesTheTargetThenMovesTheSourceOntoIt) {
  std::string source = scratch_.Path() + "new.dll";
  std::string target = scratch_.Path() + "old.dll";
  ASSERT_TRUE(WriteFileText(source, "new"));
  ASSERT_TRUE(WriteFileText(target, "old"));
  ASSERT_TRUE(ReplaceAtReboot(source, target));
  ASSERT_TRUE(DeleteAtReboot(source));
  EXPECT_FALSE(DeleteAtReboot(scratch_.Path() + "missing.dll"));
  std::string pending = RegReadText(kSessionManager, "PendingFileRenameOperations", "");
  std::string expected = "\\??\\" + target + "\r\n\r\n\\??\\" + source + "\r\n\\??\\" + target +
                         "\r\n\\??\\" + source + "\r\n";
  EXPECT_EQ(UpperCaseText(pending), UpperCaseText(expected));
  EXPECT_EQ(ReadFileText(target), "old");  // nothing moves before the restart
}

TEST_F(RebootScheduleTest, On9xEntriesGoToTheEndOfTheRenameSectionOnce) {
  Platform9x platform;
  if (!platform.Active()) GTEST_SKIP() << "the platform cannot be switched here";
  std::string ini = WithTrailingBackslash(os::WindowsDir()) + "wininit.ini";
  ASSERT_TRUE(WriteFileText(ini,
                            "[Other]\r\na=1\r\n[rename]\r\n  NUL=C:\\X.DLL \r\nY=Z\r\n\r\n"
                            "[Last]\nb=2\n"));
  std::string file = scratch_.Path() + "gone.dll";
  ASSERT_TRUE(WriteFileText(file, "x"));
  ASSERT_TRUE(DeleteAtReboot(file));
  EXPECT_EQ(ReadFileText(ini), "[Other]\r\na=1\r\n[rename]\r\nNUL=C:\\X.DLL\r\nY=Z\r\nNUL=" + file +
                                   "\r\n\r\n[Last]\r\nb=2\r\n");
  EXPECT_FALSE(FileExists(ChangeFileExt(ini, ".bak")));

  DeleteFileForced(ini);
  ASSERT_TRUE(ReplaceAtReboot(file, scratch_.Path() + "kept.dll"));
  EXPECT_EQ(ReadFileText(ini), "[Rename]\r\nNUL=" + scratch_.Path() + "kept.dll\r\n" +
                                   scratch_.Path() + "kept.dll=" + file + "\r\n");
  EXPECT_FALSE(FileExists(scratch_.Path() + "kept.dll"));  // the stand-in is gone again
  DeleteFileForced(ini);
}

}  // namespace
