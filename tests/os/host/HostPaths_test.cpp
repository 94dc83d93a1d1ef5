// The host OS layer's own rules: the machine root, Windows names for Linux paths, folders private
// to the user, links that are never followed, and names that someone else took first.
#include "os/host/HostPaths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>

#include "TestSupport.h"
#include "os/os.h"
#include "support/WinVersion.h"
#include "support/zrFileUtils.h"
#include "support/zrShell.h"

namespace {

class HostMachineTest : public testing::Test {
 protected:
  void SetUp() override {
    root_ = "/tmp/kx-host-test-" + std::to_string(getpid());
    setenv("KX_ROOT", root_.c_str(), 1);
    os::host::ResetMachineRoot();
    os::host::MachineRoot();
  }
  void TearDown() override {
    DeleteTree(os::host::ToWindowsPath(root_), true);
    unsetenv("KX_ROOT");
    os::host::ResetMachineRoot();
  }
  std::string root_;
};

TEST_F(HostMachineTest, DrivesMapToTheMachineRootAndToSlash) {
  EXPECT_EQ(os::host::ToUnixPath("Z:\\tmp\\a"), "/tmp/a");
  EXPECT_EQ(os::host::ToUnixPath("z:/tmp//a\\"), "/tmp/a");
  EXPECT_EQ(os::host::ToUnixPath("Z:\\"), "/");
  EXPECT_EQ(os::host::ToUnixPath("C:\\windows\\system32"), root_ + "/drive_c/windows/system32");
  EXPECT_EQ(os::host::ToUnixPath("C:\\a\\..\\windows\\.\\temp"), root_ + "/drive_c/windows/temp");
  EXPECT_EQ(os::host::ToUnixPath("/already/unix"), "/already/unix");
  EXPECT_EQ(os::host::ToUnixPath("D:\\x").rfind("/nonexistent", 0), 0u);

  EXPECT_EQ(os::host::ToWindowsPath("/tmp/a"), "Z:\\tmp\\a");
  EXPECT_EQ(os::host::ToWindowsPath("/"), "Z:\\");
  EXPECT_EQ(os::host::ToWindowsPath(root_ + "/drive_c/windows"), "C:\\windows");
  EXPECT_EQ(os::host::ToWindowsPath(root_ + "/drive_c"), "C:\\");
  EXPECT_EQ(os::host::ToWindowsPath("/tmp/x/drive_cx"), "Z:\\tmp\\x\\drive_cx");
  EXPECT_EQ(os::host::ToWindowsPath(root_ + "/drive_cx").find("C:"), std::string::npos);
}

TEST_F(HostMachineTest, ExistingComponentsAreFoundWhateverTheirCase) {
  EXPECT_EQ(os::host::ToUnixPath("C:\\WINDOWS\\System32\\NewFile.TXT"),
            root_ + "/drive_c/windows/system32/NewFile.TXT");
  EXPECT_TRUE(os::GetFileAttributes("c:\\Program files\\COMMON FILES") & os::kAttrDirectory);
}

TEST_F(HostMachineTest, RelativePathsFollowTheCurrentFolder) {
  std::string saved = os::GetCurrentDir();
  ASSERT_TRUE(os::SetCurrentDir("C:\\windows"));
  EXPECT_EQ(os::GetCurrentDir(), "C:\\windows");
  EXPECT_EQ(os::host::ToUnixPath("system32\\x"), root_ + "/drive_c/windows/system32/x");
  EXPECT_EQ(os::host::ToUnixPath("\\temp"), root_ + "/drive_c/temp");
  ASSERT_TRUE(os::SetCurrentDir(saved));
}

TEST_F(HostMachineTest, PrivateFoldersAreForTheUserOnly) {
  std::string folder = CreateUniqueFolder("C:\\windows\\temp", true);
  struct stat st;
  ASSERT_EQ(stat(os::host::ToUnixPath(folder).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(HostMachineTest, DeleteTreeRemovesLinksButNotWhatTheyPointTo) {
  std::string outside = root_ + "/outside";
  ASSERT_EQ(mkdir(outside.c_str(), 0755), 0);
  ASSERT_TRUE(WriteFileText(os::host::ToWindowsPath(outside + "/keep.txt"), "keep"));
  std::string tree = root_ + "/drive_c/tree";
  ASSERT_EQ(mkdir(tree.c_str(), 0755), 0);
  ASSERT_EQ(symlink(outside.c_str(), (tree + "/link").c_str()), 0);

  EXPECT_TRUE(DeleteTree("C:\\tree", true));
  EXPECT_FALSE(FolderExists("C:\\tree"));
  EXPECT_EQ(ReadFileText(os::host::ToWindowsPath(outside + "/keep.txt")), "keep");
}

TEST_F(HostMachineTest, ScriptedAnswersAnswerBoxesInOrder) {
  setenv("KX_MSGBOX_ANSWERS", "7,6", 1);
  testing::internal::CaptureStderr();
  int first = os::MessageBox(nullptr, "a", "c", os::kMbYesNo);
  int second = os::MessageBox(nullptr, "b\r\rc", "c", os::kMbYesNo);
  std::string printed = testing::internal::GetCapturedStderr();
  unsetenv("KX_MSGBOX_ANSWERS");
  EXPECT_EQ(first, os::kIdNo);
  EXPECT_EQ(second, os::kIdYes);
  EXPECT_NE(printed.find("c: b\n\nc"), std::string::npos);
}

}  // namespace

namespace {

TEST_F(HostMachineTest, RestartRequestsAreRecordedForReplay) {
  ASSERT_TRUE(os::ExitWindows(os::kExitWindowsReboot | os::kExitWindowsForce));
  std::string record = ReadFileText(os::host::ToWindowsPath(root_ + "/restart-requested"));
  EXPECT_EQ(record.rfind("flags=6 ", 0), 0u) << record;
}

TEST_F(HostMachineTest, ProgramsRunFromWindowsCommandLines) {
  os::Process process = os::CreateProcess("\"Z:\\bin\\sh\" -c \"exit 7\"", "C:\\windows", 0);
  ASSERT_TRUE(process.IsValid());
  ASSERT_TRUE(process.Wait(5000));
  uint32_t code = 0;
  ASSERT_TRUE(process.ExitCode(code));
  EXPECT_EQ(code, 7u);
  EXPECT_FALSE(os::CreateProcess("\"C:\\missing.exe\"", "", 0).IsValid());
}

}  // namespace

namespace {

// Names another user took before the engine asks: with the clock standing still, the clock's
// name is always the one below, so a search that waits for the clock to move on never returns
// (the alarm then ends the test).
class TakenNamesTest : public HostMachineTest {
 protected:
  static constexpr char kClockName[] = "2F33DRK0";  // 10:00:00.00 on 6 December 2026
  void SetUp() override {
    HostMachineTest::SetUp();
    setenv("KX_LOCAL_TIME", "2026-12-06 10:00:00.000", 1);
    alarm(30);
  }
  void TearDown() override {
    alarm(0);
    unsetenv("KX_LOCAL_TIME");
    HostMachineTest::TearDown();
  }
  std::string Unix(const std::string& windowsPath) { return os::host::ToUnixPath(windowsPath); }
  static bool IsLink(const std::string& unixPath) {
    struct stat st;
    return lstat(unixPath.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
  }
};

TEST_F(TakenNamesTest, TakenClockNameGivesRandomNameOfTheSameShape) {
  struct Case {
    const char* prefix;
    const char* extension;
    bool shortName;
    const char* clockName;
  } cases[] = {
      {"", "", false, "2F33DRK0"},
      {"kxsetup", ".tmp", true, "kxseDRK0.tmp"},
      {"bak", ".x", false, "bak2F33DRK0.x"},
  };
  const std::string folder = "C:\\windows\\temp\\";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.clockName);
    EXPECT_EQ(UniqueName(folder, c.prefix, c.extension, c.shortName), c.clockName);
    ASSERT_TRUE(WriteFileText(folder + c.clockName, "taken"));
    std::string name = UniqueName(folder, c.prefix, c.extension, c.shortName);
    EXPECT_NE(name, c.clockName);
    ASSERT_EQ(name.size(), std::string(c.clockName).size());
    size_t kept = c.shortName ? std::min<size_t>(std::strlen(c.prefix), 4) : std::strlen(c.prefix);
    EXPECT_EQ(name.substr(0, kept), std::string(c.clockName).substr(0, kept));
    EXPECT_EQ(name.substr(name.size() - std::strlen(c.extension)), c.extension);
    EXPECT_FALSE(FileExists(folder + name));
  }
}

TEST_F(TakenNamesTest, UniqueFoldersAreNewWhateverHoldsTheClocksName) {
  enum Squatter { kFolder, kFile, kDanglingLink };
  const Squatter kinds[] = {kFolder, kFile, kDanglingLink};
  for (Squatter kind : kinds) {
    SCOPED_TRACE(kind);
    std::string parent = "C:\\taken" + std::to_string(kind);
    ASSERT_EQ(os::CreateDir(parent), os::CreateResult::kCreated);
    std::string squatter = Unix(parent) + "/" + kClockName;
    std::string target = root_ + "/outside" + std::to_string(kind);
    bool placed = kind == kFolder ? mkdir(squatter.c_str(), 0777) == 0
                  : kind == kFile ? WriteFileText(parent + "\\" + kClockName, "taken")
                                  : symlink(target.c_str(), squatter.c_str()) == 0;
    ASSERT_TRUE(placed);

    std::set<std::string> made;
    for (int i = 0; i < 3; ++i) {
      std::string folder = CreateUniqueFolder(parent, true);
      EXPECT_TRUE(made.insert(folder).second) << folder;
      EXPECT_NE(folder, parent + "\\" + kClockName + "\\");
      EXPECT_EQ(folder.size(), parent.size() + 10) << folder;
      EXPECT_TRUE(FolderExists(folder));
      EXPECT_FALSE(IsLink(Unix(folder)));
    }
    EXPECT_EQ(access(target.c_str(), F_OK), -1) << "written through the link";
    EXPECT_EQ(kind == kDanglingLink, IsLink(squatter));
    EXPECT_NE(os::GetFileAttributes(parent + "\\" + kClockName), os::kInvalidAttributes);
  }
}

TEST_F(TakenNamesTest, AutoexecIsNeverWrittenThroughALinkHoldingTheClocksName) {
  setenv("KX_WINVER", "4.10.2222:9x", 1);
  RefreshWinVersion();
  std::string target = root_ + "/outside.bat";
  std::string link = root_ + "/drive_c/" + kClockName + ".bat";
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  bool set = SetEnvironmentVariable("PATH", "C:\\DOS");
  unsetenv("KX_WINVER");
  RefreshWinVersion();

  ASSERT_TRUE(set);
  EXPECT_EQ(access(target.c_str(), F_OK), -1) << "written through the link";
  EXPECT_TRUE(IsLink(link));
  EXPECT_FALSE(IsLink(root_ + "/drive_c/autoexec.bat"));
  EXPECT_EQ(ReadFileText("c:\\autoexec.bat"), "SET PATH=C:\\DOS\r\n");
}

}  // namespace
