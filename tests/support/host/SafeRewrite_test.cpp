// The 9x platform's system files that the setup rewrites (autoexec.bat for the environment,
// wininit.ini for the files replaced at the next start) are never left cut or lost: the host's
// fault switch fails each change of a rewrite in turn, and every failed rewrite leaves the old
// file as it was and no stray file beside it.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "os/host/FaultSwitch.h"
#include "os/os.h"
#include "support/WinVersion.h"
#include "support/zrFileUtils.h"
#include "support/zrShell.h"
#include "support/zrStrUtils.h"

namespace {

struct RewriteCase {
  const char* name;
  std::function<std::string()> file;  // the file rewritten
  std::function<bool(const std::string& scratch)> rewrite;
};

class SafeRewriteTest : public testing::TestWithParam<RewriteCase> {
 protected:
  void SetUp() override {
    os::SetProcessVariable("KX_WINVER", "4.10.2222:9x");
    RefreshWinVersion();
  }
  void TearDown() override {
    unsetenv("KX_HOST_FAIL_AT");
    os::host::ResetForTest();
    os::RemoveProcessVariable("KX_WINVER");
    RefreshWinVersion();
    DeleteFileForced(GetParam().file());
  }
  // The rewrite with the n-th change failing (0: none fails); whether it reported success.
  bool RewriteFailingAt(unsigned long long n) {
    setenv("KX_HOST_FAIL_AT", std::to_string(n).c_str(), 1);
    os::host::ResetForTest();
    const bool done = GetParam().rewrite(scratch_.Path());
    changes_ = os::host::ChangeCount();
    unsetenv("KX_HOST_FAIL_AT");
    os::host::ResetForTest();
    return done;
  }
  ScratchFolder scratch_{CurrentTestName()};
  unsigned long long changes_ = 0;
};

TEST_P(SafeRewriteTest, AFailureAtAnyChangeLeavesTheOldFileWhole) {
  const std::string file = GetParam().file();
  const std::string folder = ExtractFilePath(file);
  const std::string old = "[Rename]\r\nNUL=C:\\OLD.DLL\r\nSET PATH=C:\\DOS\r\n";
  ASSERT_TRUE(WriteFileText(file, old));
  const std::vector<std::string> namesBefore = FolderNames(folder);
  ASSERT_TRUE(RewriteFailingAt(0));
  const std::string rewritten = ReadFileText(file);
  ASSERT_NE(rewritten, old);
  const unsigned long long total = changes_;
  ASSERT_GT(total, 0u);
  int failures = 0;
  for (unsigned long long n = 1; n <= total; ++n) {
    ASSERT_TRUE(WriteFileText(file, old));
    const bool done = RewriteFailingAt(n);
    failures += done ? 0 : 1;
    EXPECT_EQ(ReadFileText(file), done ? rewritten : old) << "change " << n << " failed";
    // Once the new file is in place, an old copy that cannot be deleted stays beside it.
    std::vector<std::string> names = FolderNames(folder);
    std::erase_if(names, [&](const std::string& name) {
      return done && name.ends_with(".old") && ReadFileText(folder + name) == old &&
             DeleteFileForced(folder + name);
    });
    EXPECT_EQ(names, namesBefore) << "change " << n << " failed";
  }
  EXPECT_GT(failures, 0);
}

INSTANTIATE_TEST_SUITE_P(
    NineX, SafeRewriteTest,
    testing::Values(
        RewriteCase{"autoexec", [] { return std::string("c:\\autoexec.bat"); },
                    [](const std::string&) { return SetEnvironmentVariable("PATH", "C:\\NEW"); }},
        RewriteCase{"wininit",
                    [] { return WithTrailingBackslash(os::WindowsDir()) + "wininit.ini"; },
                    [](const std::string& scratch) {
                      const std::string gone = scratch + "gone.dll";
                      return WriteFileText(gone, "x") && DeleteAtReboot(gone);
                    }}),
    [](const testing::TestParamInfo<RewriteCase>& info) { return std::string(info.param.name); });

}  // namespace
