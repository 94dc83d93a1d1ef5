// What the host adds to Windows' sharing rules: the Windows wording of a sharing violation, and a
// file that a Linux program holds an flock on counting as in use.
#include "os/host/ShareModes.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include "TestSupport.h"
#include "os/host/HostPaths.h"
#include "os/os.h"

namespace {

class ShareModesTest : public testing::Test {
 protected:
  ScratchFolder scratch_{CurrentTestName()};
  std::string Path(const std::string& name) { return scratch_.Path() + name; }
};

TEST_F(ShareModesTest, RefusalsReadAsWindowsWritesThem) {
  ASSERT_TRUE(WriteFileText(Path("a.txt"), "data"));
  os::File reading = os::File::Open(Path("a.txt"), os::File::Mode::kRead);
  ASSERT_TRUE(reading.IsOpen());
  const std::string kInUse =
      ": The process cannot access the file because it is being used by another process";
  EXPECT_FALSE(os::File::Open(Path("a.txt"), os::File::Mode::kCreate).IsOpen());
  EXPECT_EQ(os::LastErrorMessage(), "Cannot open file " + Path("a.txt") + kInUse);
  EXPECT_FALSE(os::DeleteFile(Path("a.txt")));
  EXPECT_EQ(os::LastErrorMessage(), "Cannot delete " + Path("a.txt") + kInUse);
}

// A child process takes the flock and holds it until the pipe closes.
TEST_F(ShareModesTest, AFileAnotherProcessHoldsAnFlockOnIsInUse) {
  ASSERT_TRUE(WriteFileText(Path("locked.txt"), "data"));
  const std::string unixPath = os::host::ToUnixPath(Path("locked.txt"));
  int locked[2], release[2];
  ASSERT_EQ(pipe(locked), 0);
  ASSERT_EQ(pipe(release), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(release[1]);
    int fd = open(unixPath.c_str(), O_RDONLY);
    char byte = 0;
    if (fd < 0 || flock(fd, LOCK_SH) != 0 || write(locked[1], "x", 1) != 1) _exit(1);
    _exit(read(release[0], &byte, 1) >= 0 ? 0 : 1);  // returns when the parent closes its end
  }
  close(locked[1]);
  close(release[0]);
  char byte = 0;
  ASSERT_EQ(read(locked[0], &byte, 1), 1) << "the child could not take the lock";

  EXPECT_FALSE(os::DeleteFile(Path("locked.txt")));
  EXPECT_FALSE(os::MoveFile(Path("locked.txt"), Path("moved.txt")));
  EXPECT_TRUE(os::File::Open(Path("locked.txt"), os::File::Mode::kRead).IsOpen())
      << "an flock says nothing about reading and writing";

  close(release[1]);
  close(locked[0]);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(os::DeleteFile(Path("locked.txt")));
}

}  // namespace
