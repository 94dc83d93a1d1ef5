// The host OS layer's own rules: the machine root, Windows names for Linux paths, folders private
// to the user and links that are never followed.
#include "os/host/HostPaths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "TestSupport.h"
#include "os/os.h"
#include "support/zrFileUtils.h"

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
