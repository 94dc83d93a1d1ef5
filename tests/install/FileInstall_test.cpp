// Installing files from a real cabinet through the unpack library into a scratch folder of the
// machine, with the test plug-in "alpha" loaded to answer the engine's questions; and external
// files copied from disk.
#include <gtest/gtest.h>

#include <cstdlib>

#include "../../tools/kxbuild/CabWriter.h"
#include "TestSupport.h"
#include "database/KXClasses.h"
#include "database/zrXMLParser.h"
#include "expressions/Common.h"
#include "install/Actions.h"
#include "install/FileInstall.h"
#include "install/Install.h"
#include "install/Log.h"
#include "plugins/KXPlugins.h"
#include "plugins/PluginTestSupport.h"
#include "support/RunState.h"
#include "support/zrFileFind.h"
#include "support/zrFileUtils.h"
#include "support/zrRegIni.h"

namespace {

constexpr int64_t kDay = 864000000000;
constexpr int64_t kEntryTime = 133616256000000000;  // 2024-06-02 00:00:00 UTC
constexpr char kSharedDlls[] = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
constexpr char kHolderOrders[] = "KX_FILEINSTALL_TEST_HOLDER";

// Run as a second process: holds a file open ("file|ready|release") until told to let go.
TEST(FileHolderProcess, HoldsAFileOpen) {
  const char* orders = std::getenv(kHolderOrders);
  if (!orders) GTEST_SKIP() << "runs only as the holder of FileInstallTest";
  std::string rest = orders;
  const std::string file = rest.substr(0, rest.find('|'));
  rest = rest.substr(rest.find('|') + 1);
  const std::string ready = rest.substr(0, rest.find('|'));
  const std::string release = rest.substr(rest.find('|') + 1);
  os::File held = os::File::Open(file, os::File::Mode::kRead);
  ASSERT_TRUE(held.IsOpen());
  ASSERT_TRUE(WriteFileText(ready, "ready"));
  for (int waited = 0; waited < 120000 && !FileExists(release); waited += 20) os::Sleep(20);
}

class FileInstallTest : public PluginHostTest {
 protected:
  void SetUp() override {
    PluginHostTest::SetUp();
    RunState().SetupTempPath = scratch_.Path();
    ASSERT_TRUE(CopyFileWithProgress(KX_UNPACK_LIBRARY, scratch_.Path() + "unpack.dll", {}, false));
    app_ = scratch_.Path() + "app\\";
    ASSERT_TRUE(ForceFolders(app_));
  }
  void TearDown() override {
    if (holder_.IsValid()) {
      WriteFileText(scratch_.Path() + "release", "go");
      holder_.Wait(120000);
    }
    InstallActions().Clear();
    LogSettings() = {};
    PluginHostTest::TearDown();
  }

  // The project: one component "core" with these file items, one package with the cabinet.
  void MakeProject(const std::string& files) {
    TXMLTag project;
    project.Parse(
        "<kx2project><components><component id=\"core\" package=\"setup\"><files>" + files +
        "</files></component></components><packages><package filename=\"setup\">" + "<plugins>" +
        DebugEntry("alpha", "alpha.dll") + "</plugins></package></packages></kx2project>");
    MainDatabase().Assign(project);
    MainDatabase().TempBackupPath = scratch_.Path() + "backup\\";
    ASSERT_TRUE(ForceFolders(MainDatabase().TempBackupPath));
    SetVariable(&MainDatabase(), "InstallPath", WithoutTrailingBackslash(app_));
    TkxPackage& package = *MainDatabase().Packages->Items(0);
    package.FullFileName = scratch_.Path() + "setup.cab";
    ASSERT_TRUE(LoadPlugins(package));
    alpha_.Reset();
  }
  // The cabinet: each entry "name" holds "new <name>" (a folder entry nothing), stored with
  // kEntryTime.
  uint64_t MakeCabinet(const std::vector<std::string>& names) {
    os::File output = os::File::Open(scratch_.Path() + "setup.cab", os::File::Mode::kCreate);
    TCabWriter writer(output, TCabCompression::kMszip);
    for (const std::string& name : names) {
      const bool folder = name.ends_with("\\.");
      writer.AddData("data\\core\\" + name, folder ? "" : "new " + name, kEntryTime,
                     os::kAttrArchive);
    }
    writer.Finish();
    MainDatabase().Packages->Items(0)->DataSize = static_cast<int32_t>(writer.TotalSize());
    return writer.TotalSize();
  }
  void Existing(const std::string& name, const std::string& text, int64_t time) {
    ASSERT_TRUE(WriteFileText(app_ + name, text));
    ASSERT_TRUE(os::SetFileWriteTime(app_ + name, time));
  }
  void HoldOpen(const std::string& path) {
    const std::string ready = scratch_.Path() + "ready";
    ASSERT_TRUE(os::SetProcessVariable(kHolderOrders,
                                       path + "|" + ready + "|" + scratch_.Path() + "release"));
    holder_ = os::CreateProcess(
        "\"" + os::ModuleFileName() + "\" --gtest_filter=FileHolderProcess.*", "", 0);
    os::RemoveProcessVariable(kHolderOrders);
    ASSERT_TRUE(holder_.IsValid());
    while (!FileExists(ready)) ASSERT_FALSE(holder_.Wait(20)) << "the holder ended early";
  }
  int EventCount(const std::string& event) { return alpha_.EventCount(event); }
  TInstallFile* RecordedFile(const std::string& name) {
    return InstallActions().FindFile(app_ + name);
  }

  std::string app_;
  os::Process holder_;
  PluginControl alpha_{kPluginDir + "alpha.dll"};
};

TEST_F(FileInstallTest, PackageInstallsReplacesKeepsAndPostpones) {
  MakeProject(
      "<file src=\"new.txt\" dst=\"%InstallPath%\\new.txt\"/>"
      "<file src=\"old.txt\" dst=\"%InstallPath%\\old.txt\"/>"
      "<file src=\"newer.txt\" dst=\"%InstallPath%\\newer.txt\" flags=\"dont_ask\"/>"
      "<file src=\"asked.txt\" dst=\"%InstallPath%\\asked.txt\"/>"
      "<file src=\"readonly.txt\" dst=\"%InstallPath%\\sub\\readonly.txt\"/>"
      "<file src=\"same.txt\" dst=\"%InstallPath%\\same.txt\"/>"
      "<file src=\"kept.txt\" dst=\"%InstallPath%\\kept.txt\" flags=\"dont_overwrite\"/>"
      "<file src=\"shared.dll\" dst=\"%InstallPath%\\shared.dll\" flags=\"shared,no_version\"/>"
      "<file src=\"inuse.txt\" dst=\"%InstallPath%\\inuse.txt\"/>"
      "<file src=\"emptydir\\.\" dst=\"%InstallPath%\\emptydir\\.\"/>");
  const uint64_t total =
      MakeCabinet({"new.txt", "old.txt", "newer.txt", "asked.txt", "readonly.txt", "same.txt",
                   "kept.txt", "shared.dll", "inuse.txt", "unmatched.txt", "emptydir\\."});
  Existing("old.txt", "old", kEntryTime - kDay);
  Existing("newer.txt", "newer", kEntryTime + kDay);
  Existing("asked.txt", "asked", kEntryTime + kDay);
  ASSERT_TRUE(ForceFolders(app_ + "sub"));
  Existing("sub\\readonly.txt", "read-only", kEntryTime - kDay);
  ASSERT_TRUE(os::SetFileAttributes(app_ + "sub\\readonly.txt", os::kAttrReadOnly));
  Existing("same.txt", "SAME SAME!!!", kEntryTime);  // as long as "new same.txt"
  Existing("kept.txt", "kept", kEntryTime - kDay);
  Existing("shared.dll", "shared", kEntryTime);
  Existing("inuse.txt", "in use", kEntryTime - kDay);
  RegDeleteValue(kSharedDlls, app_ + "shared.dll");
  HoldOpen(app_ + "inuse.txt");
  alpha_.Answer(EV_VERSIONCONFLICT, 2);

  ASSERT_TRUE(CopyPackages());

  for (const char* replaced : {"new.txt", "old.txt", "asked.txt", "shared.dll"}) {
    EXPECT_EQ(ReadFileText(app_ + replaced), std::string("new ") + replaced) << replaced;
  }
  EXPECT_EQ(ReadFileText(app_ + "sub\\readonly.txt"), "new readonly.txt");
  EXPECT_EQ(ReadFileText(app_ + "newer.txt"), "newer");
  EXPECT_EQ(ReadFileText(app_ + "same.txt"), "SAME SAME!!!");
  EXPECT_EQ(ReadFileText(app_ + "kept.txt"), "kept");
  EXPECT_FALSE(FileExists(app_ + "unmatched.txt"));
  EXPECT_TRUE(FolderExists(app_ + "emptydir"));
  // Only asked.txt asked: newer.txt is kept without a question.
  EXPECT_EQ(EventCount("EV_VERSIONCONFLICT"), 1);
  EXPECT_EQ(EventCount("EV_PROCESSITEM"), 10);      // every entry but the folder
  EXPECT_EQ(EventCount("EV_AFTERPROCESSITEM"), 9);  // every matched one
  EXPECT_EQ(InstallProgress().BytesDone, static_cast<int64_t>(total));

  // The file in use waits beside it until the next start of the system.
  EXPECT_EQ(ReadFileText(app_ + "inuse.txt"), "in use");
  TInstallFile* inUse = RecordedFile("inuse.txt");
  ASSERT_TRUE(inUse && inUse->IsPending);
  EXPECT_EQ(ReadFileText(inUse->PendingFile), "new inuse.txt");
  EXPECT_TRUE(GetVariableBool(&MainDatabase(), "Reboot", false));
  // The copy that was there counts as one user, this installation as the second.
  EXPECT_EQ(RegReadNumber(kSharedDlls, app_ + "shared.dll", 0), 2u);
  RegDeleteValue(kSharedDlls, app_ + "shared.dll");
}

TEST_F(FileInstallTest, SharedCounterRisesOncePerInstallation) {
  MakeProject("<file src=\"s.dll\" dst=\"%InstallPath%\\s.dll\" flags=\"shared\"/>");
  MakeCabinet({"s.dll"});
  LogSettings() = {scratch_.Path() + "install.log", true};
  RegWriteNumber(kSharedDlls, app_ + "s.dll", 5);
  ASSERT_TRUE(CopyPackages());
  ASSERT_TRUE(CopyPackages());  // the same installation again (repair)
  EXPECT_EQ(RegReadNumber(kSharedDlls, app_ + "s.dll", 0), 6u);
  EXPECT_TRUE(LogKeyExists(TLogSection::SharedFiles, app_ + "s.dll"));
  // What a rollback would take back: the value as it was.
  TInstallReg* raised = nullptr;
  for (int index = 0; index < InstallActions().Count() && !raised; ++index) {
    raised = dynamic_cast<TInstallReg*>(InstallActions().Action(index));
  }
  ASSERT_TRUE(raised);
  EXPECT_TRUE(raised->Existed);
  EXPECT_FALSE(raised->Log);
  EXPECT_EQ(raised->OldValue, "5");
  RegDeleteValue(kSharedDlls, app_ + "s.dll");
}

TEST_F(FileInstallTest, RemovalItemsClearTheFilesTheyName) {
  MakeProject("<file dst=\"%InstallPath%\\old*.txt\" action=\"remove\"/>");
  for (const char* file : {"old1.txt", "old2.txt", "older.dat", "keep.txt"}) {
    Existing(file, file, kEntryTime);
  }
  Existing("old4.txt", "in use", kEntryTime);
  ASSERT_TRUE(ForceFolders(app_ + "old3.txt"));  // a folder is no file to remove
  os::File user = os::File::Open(app_ + "old4.txt", os::File::Mode::kRead);
  ASSERT_TRUE(user.IsOpen());
  TkxComponent& component = *MainDatabase().Components->Items(0);
  EXPECT_TRUE(RemoveFiles(MainDatabase().Packages->Items(0), component));
  EXPECT_FALSE(FileExists(app_ + "old1.txt") || FileExists(app_ + "old2.txt"));
  EXPECT_TRUE(FileExists(app_ + "older.dat") && FileExists(app_ + "keep.txt"));
  EXPECT_TRUE(FolderExists(app_ + "old3.txt"));
  EXPECT_TRUE(RecordedFile("old1.txt") && RecordedFile("old1.txt")->Existed);
  EXPECT_TRUE(RecordedFile("old1.txt")->Removed);
  EXPECT_EQ(EventCount("EV_BEFOREPROCESSITEM"), 3);
  // The file in use goes at the next start, and no empty file waits to take its place.
  TInstallFile* inUse = RecordedFile("old4.txt");
  ASSERT_TRUE(inUse && inUse->IsPending && inUse->Removed);
  EXPECT_EQ(inUse->PendingFile, "");
  TzrFileFind leftovers(app_ + "kx*", 0, 0);
  TzrFoundFile found;
  EXPECT_FALSE(leftovers.Next(found)) << found.Path;
}

TEST_F(FileInstallTest, FailuresStopTheRunWithTheirMessage) {
  MakeProject("<file src=\"a.txt\" dst=\"%InstallPath%\\blocked\\a.txt\"/>");
  MakeCabinet({"a.txt"});
  ASSERT_TRUE(WriteFileText(app_ + "blocked", "a file where the folder should be"));
  EXPECT_FALSE(CopyPackages());
  EXPECT_TRUE(RunState().AbortRequested) << "the folder's failure aborts";

  RunState().AbortRequested = true;  // the user's abort: the library is stopped, nothing shown
  ASSERT_TRUE(os::DeleteFile(app_ + "blocked"));
  EXPECT_FALSE(CopyPackages());
  EXPECT_NE(ReadFileText(app_ + "blocked\\a.txt"), "new a.txt");
}

TEST_F(FileInstallTest, ExternalFilesAreCopiedFromDisk) {
  const std::string source = scratch_.Path() + "source\\";
  ASSERT_TRUE(ForceFolders(source + "deeper"));
  for (const char* file : {"one.txt", "noext", "deeper\\two.txt"}) {
    ASSERT_TRUE(WriteFileText(source + file, file));
  }
  MakeProject("<file src=\"" + source +
              "*.*\" dst=\"%InstallPath%\\ext\\*.*\" flags=\"external\"/>"
              "<file src=\"" +
              source +
              "*.none\" dst=\"%InstallPath%\\none\\*.*\" "
              "flags=\"external\"/>"
              "<file src=\"" +
              source +
              "one.txt\" dst=\"%InstallPath%\\single.txt\" "
              "flags=\"external\"/>");
  MakeCabinet({"unrelated.txt"});
  ASSERT_TRUE(CopyPackages());
  EXPECT_EQ(ReadFileText(app_ + "ext\\one.txt"), "one.txt");
  EXPECT_EQ(ReadFileText(app_ + "ext\\noext"), "noext");
  EXPECT_EQ(ReadFileText(app_ + "ext\\deeper\\two.txt"), "deeper\\two.txt");
  EXPECT_EQ(ReadFileText(app_ + "single.txt"), "one.txt");
  EXPECT_TRUE(FolderExists(app_ + "none")) << "a mask that finds nothing still makes the folder";

  // A missing source fails the pass and leaves the abort flag clear for the run's message.
  ASSERT_TRUE(os::DeleteFile(source + "one.txt"));
  EXPECT_FALSE(CopyPackages());
  EXPECT_FALSE(RunState().AbortRequested);
  EXPECT_EQ(InstallProgress().LastDestination, source + "one.txt");
}

}  // namespace
