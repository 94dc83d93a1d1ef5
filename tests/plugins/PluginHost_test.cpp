// The plug-in host over real plug-in libraries: loading with its checks and its sequence of
// events, the numbers, unloading, broadcasts, messages of the plug-ins' own names, and the
// package search that asks the plug-ins for another folder.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "PluginTestSupport.h"
#include "engine/Packages.h"
#include "os/os.h"
#include "plugins/CtrlHandler.h"
#include "plugins/PlugImpl.h"

namespace {

const std::string kLoadBox = "Plug-in loading error: Cannot load \"alpha\" plug-in!";

TEST_F(PluginHostTest, PluginsLoadInEntryOrderFromTheirFoldersOrTheirDebugLibrary) {
  PluginControl alpha(CopyIntoPackage("alpha.dll", 0));
  // Names no entry: tried, whatever the order of the folder, and never kept.
  PluginControl stranger(CopyIntoPackage("stranger.dll", 0));
  // Would be taken for beta if the folder were searched although beta has a debug library.
  PluginControl betaCopy(CopyIntoPackage("beta.dll", 1));
  PluginControl beta(kPluginDir + "beta.dll");
  TkxPackage& package =
      MakePackage("<plugin id=\"alpha\" configfile=\"ui.ini\"/>" + DebugEntry("beta", "beta.dll"));

  ASSERT_TRUE(LoadPlugins(package));
  ASSERT_EQ(Plugins().Count(), 2);
  const TPlugin& first = *Plugins().PluginAt(0);
  const TPlugin& second = *Plugins().PluginAt(1);
  EXPECT_EQ(first.FileName, TempPath() + "plugins\\0\\alpha.dll");
  EXPECT_EQ(second.FileName, kPluginDir + "beta.dll");
  EXPECT_EQ(first.Number, 1);
  EXPECT_EQ(second.Number, 2);
  EXPECT_EQ(FindPlugin(2), &second);
  EXPECT_EQ(FindPlugin(3), nullptr);
  EXPECT_EQ(first.Package, &package);
  EXPECT_EQ(alpha.Log(), "EV_SETSTARTUPINFO#1 EV_LOAD EV_LANGUAGECHANGED(ENU,0) ");
  EXPECT_EQ(beta.Log(), "EV_SETSTARTUPINFO#2 EV_LOAD EV_LANGUAGECHANGED(ENU,0) ");
  EXPECT_EQ(stranger.Log(), "");
  EXPECT_EQ(betaCopy.Log(), "");

  // The configuration file lies beside the library, and the entry keeps the absolute path.
  const std::string config = TempPath() + "plugins\\0\\ui.ini";
  EXPECT_EQ(alpha.ConfigFile(), config);
  EXPECT_EQ(first.ConfigFileName, config);
  EXPECT_EQ(package.Plugins->Items(0)->ConfigFile, config);
  EXPECT_EQ(beta.ConfigFile(), "");

  UnloadPlugins();
  EXPECT_EQ(Plugins().Count(), 0);
  EXPECT_EQ(alpha.Log(), "EV_SETSTARTUPINFO#1 EV_LOAD EV_LANGUAGECHANGED(ENU,0) EV_UNLOAD ");
  EXPECT_EQ(beta.Log(), "EV_SETSTARTUPINFO#2 EV_LOAD EV_LANGUAGECHANGED(ENU,0) EV_UNLOAD ");
}

TEST_F(PluginHostTest, APluginRefusingTheLoadIsGoneAndItsNumberGoesToTheNext) {
  PluginControl alpha(kPluginDir + "alpha.dll");
  PluginControl beta(kPluginDir + "beta.dll");
  alpha.Answer(EV_LOAD, 1);
  ASSERT_TRUE(
      LoadPlugins(MakePackage(DebugEntry("alpha", "alpha.dll") + DebugEntry("beta", "beta.dll"))));
  ASSERT_EQ(Plugins().Count(), 1);
  EXPECT_EQ(Plugins().PluginAt(0)->Number, 1);
  EXPECT_EQ(beta.Number(), 1);
  Broadcast(EV_START, 0, 0, true);
  UnloadPlugins();
  EXPECT_EQ(alpha.Log(), "EV_SETSTARTUPINFO#1 EV_LOAD ") << "no event after the refusal";
  EXPECT_EQ(beta.Log(),
            "EV_SETSTARTUPINFO#1 EV_LOAD EV_LANGUAGECHANGED(ENU,0) EV_START EV_UNLOAD ");
}

TEST_F(PluginHostTest, APluginWhoseConditionFailsIsSkippedWithoutAnEvent) {
  PluginControl alpha(kPluginDir + "alpha.dll");
  ASSERT_TRUE(LoadPlugins(MakePackage(DebugEntry("alpha", "alpha.dll", "condition=\"1 = 2\"") +
                                      DebugEntry("beta", "beta.dll"))));
  ASSERT_EQ(Plugins().Count(), 1);
  EXPECT_EQ(Plugins().PluginAt(0)->Number, 1);
  EXPECT_EQ(alpha.Log(), "");
}

TEST_F(PluginHostTest, TheLanguageOfTheLoadIsTheCurrentOne) {
  PluginControl alpha(kPluginDir + "alpha.dll");
  TkxPackage& package = MakePackage(DebugEntry("alpha", "alpha.dll"));
  SetVariable(&MainDatabase(), "LangID", "DEU");
  ASSERT_TRUE(LoadPlugins(package));
  EXPECT_EQ(alpha.Log(), "EV_SETSTARTUPINFO#1 EV_LOAD EV_LANGUAGECHANGED(DEU,0) ");
}

// Every library that is not accepted fails the entry with the box, and later entries are not
// tried.
TEST_F(PluginHostTest, ALibraryThatIsNotAcceptedFailsTheLoadWithTheBox) {
  ASSERT_TRUE(WriteFileText(scratch_.Path() + "broken.dll", "MZ but no library"));
  struct Case {
    const char* what;
    std::string entry;
  };
  const std::vector<Case> cases = {
      {"refusal byte", DebugEntry("alpha", "refusing.dll")},
      {"newer engine", DebugEntry("alpha", "newer.dll")},
      {"no event entry", DebugEntry("alpha", "silent.dll")},
      {"no GetPluginInfo", DebugEntry("alpha", "noexport.dll")},
      {"names another entry", DebugEntry("alpha", "stranger.dll")},
      {"missing file", DebugEntry("alpha", "missing.dll")},
      {"no library", "<plugin id=\"alpha\" debugdll=\"" + scratch_.Path() + "broken.dll\"/>"},
      {"no folder", "<plugin id=\"alpha\"/>"},
  };
  PluginControl beta(kPluginDir + "beta.dll");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TkxPackage& package = MakePackage(c.entry + DebugEntry("beta", "beta.dll"));
    testing::internal::CaptureStderr();
    EXPECT_FALSE(LoadPlugins(package));
    const std::string boxes = testing::internal::GetCapturedStderr();
    EXPECT_NE(boxes.find(kLoadBox), std::string::npos) << boxes;
    EXPECT_EQ(Plugins().Count(), 0);
    EXPECT_EQ(beta.Log(), "");
  }
}

TEST_F(PluginHostTest, AnEmptyPluginFolderFailsTheLoad) {
  ASSERT_TRUE(ForceFolders(TempPath() + "plugins\\0\\"));
  TkxPackage& package = MakePackage("<plugin id=\"alpha\"/>");
  testing::internal::CaptureStderr();
  EXPECT_FALSE(LoadPlugins(package));
  EXPECT_NE(testing::internal::GetCapturedStderr().find(kLoadBox), std::string::npos);
}

TEST_F(PluginHostTest, APackageWithoutPluginsLoadsNothing) {
  TkxPackage& package = MakePackage("");
  package.Plugins.reset();
  EXPECT_TRUE(LoadPlugins(package));
  EXPECT_EQ(Plugins().Count(), 0);
}

TEST(MsgStoreTest, PredefinedNamesComeFirstAndNewNamesCountFrom4096) {
  TMsgStore store;
  EXPECT_EQ(store.MessageCode("EV_SETSTARTUPINFO"), 1);
  EXPECT_EQ(store.MessageCode("ev_queryreboot"), 22);
  EXPECT_EQ(store.MessageCode("CM_ADDLOGRECORD"), 279);
  EXPECT_EQ(store.MessageName(270), "CM_GETPCPARAM");
  EXPECT_EQ(store.MessageName(269), "");
  EXPECT_EQ(store.MessageCode("MyFirst"), 4096);
  EXPECT_EQ(store.MessageCode("MySecond"), 4097);
  EXPECT_EQ(store.MessageCode("MYFIRST"), 4096);
  EXPECT_EQ(store.MessageName(4096), "MyFirst");
  EXPECT_EQ(store.MessageName(4098), "");
  EXPECT_EQ(store.MessageCode(""), 0);
}

TEST_F(ThreePluginsTest, TheFirstNonZeroAnswerStopsABroadcastUnlessItGoesToAll) {
  beta_.Answer(EV_BEFOREINSTALL, 5);
  EXPECT_EQ(Broadcast(EV_BEFOREINSTALL, 0, 0, false), 5);
  EXPECT_EQ(alpha_.Log(), "EV_BEFOREINSTALL ");
  EXPECT_EQ(beta_.Log(), "EV_BEFOREINSTALL ");
  EXPECT_EQ(gamma_.Log(), "");

  beta_.Answer(EV_AFTERINSTALL, 5);
  gamma_.Answer(EV_AFTERINSTALL, 7);
  EXPECT_EQ(Broadcast(EV_AFTERINSTALL, 0, 0, true), 7);
  EXPECT_EQ(gamma_.Log(), "EV_AFTERINSTALL ");
  EXPECT_EQ(Broadcast(EV_QUERYREBOOT, 0, 0, false), 0);
  EXPECT_EQ(gamma_.Log(), "EV_AFTERINSTALL EV_QUERYREBOOT ");
}

TEST_F(ThreePluginsTest, NamedMessagesGoToTheOtherPlugins) {
  const int32_t code = alpha_.MessageCode("TestPing");
  EXPECT_GE(code, KX_FIRST_NAMED_MESSAGE);
  EXPECT_EQ(beta_.MessageCode("testping"), code);
  EXPECT_EQ(alpha_.MessageCode("CM_ALLOCMEM"), CM_ALLOCMEM);
  const std::string received = "TestPing=" + std::to_string(code) + "(42) ";

  alpha_.Named("TestPing", 42, 0, true);
  EXPECT_EQ(alpha_.Log(), "") << "the sender is skipped";
  EXPECT_EQ(beta_.Log(), received);
  EXPECT_EQ(gamma_.Log(), received);

  // By number through the command entry, first answer: gamma is not reached.
  beta_.Answer(code, 9);
  EXPECT_EQ(alpha_.Command(code, 42, 0, false), 9);
  EXPECT_EQ(gamma_.Log(), received);

  // A new name through the named-command entry is registered on the way.
  gamma_.Named("TestPong", 1, 0, true);
  EXPECT_EQ(alpha_.Log(), "TestPong=" + std::to_string(MessageCode("TestPong")) + "(1) ");
}

TEST_F(ThreePluginsTest, NumbersWithoutANameReachNoPlugin) {
  const int32_t unnamed = 0x7ffff000;
  EXPECT_EQ(alpha_.Command(unnamed, 1, 0, true), 0);
  EXPECT_EQ(Broadcast(unnamed, 0, 0, true), 0);
  EXPECT_EQ(SendToPlugin(*Plugins().PluginAt(1), unnamed, 0, 0), 0);
  EXPECT_EQ(beta_.Log(), "");
  // A sender that is no loaded plug-in has nobody to talk to.
  EXPECT_EQ(ExecuteCommand(99, MessageCode("TestPing"), 0, 0, true), 0);
  EXPECT_EQ(beta_.Log(), "");
}

TEST_F(ThreePluginsTest, ACrossThreadRecordIsBroadcastForItsSender) {
  gamma_.Answer(EV_FILEINSTALLPROGRESS, 3);
  const intptr_t answer =
      DeliverCrossThreadRecord(new TCrossThreadRecord{2, EV_FILEINSTALLPROGRESS, 50, 25, true});
  EXPECT_EQ(answer, 3);
  EXPECT_EQ(alpha_.Log(), "EV_FILEINSTALLPROGRESS ");
  EXPECT_EQ(beta_.Log(), "");
  EXPECT_EQ(gamma_.Log(), "EV_FILEINSTALLPROGRESS ");
  EXPECT_EQ(DeliverCrossThreadRecord(nullptr), 0);
}

// A worker's broadcast waits for the main thread, which calls the plug-ins wherever it waits, and
// the main thread's own broadcast, even inside a served one, is a plain call.
TEST_F(ThreePluginsTest, ABroadcastFromAnotherThreadReachesThePluginsOnTheMainThread) {
  os::MainWindowHandlers handlers;
  handlers.crossThread = DeliverCrossThreadRecord;
  ASSERT_EQ(os::CreateMainWindow("KxPluginTestWindow", nullptr, handlers),
            os::MainWindowResult::kCreated)
      << os::LastErrorMessage();
  static std::thread::id mainThread;
  mainThread = std::this_thread::get_id();
  gamma_.SetThreadProbe([]() -> int { return std::this_thread::get_id() == mainThread; });
  gamma_.Answer(EV_FILEINSTALLPROGRESS, 4);
  std::atomic<intptr_t> answer{-1};
  std::thread worker([&] { answer = Broadcast(EV_FILEINSTALLPROGRESS, 10, 20, true); });
  while (answer == -1) os::Sleep(5);
  worker.join();
  EXPECT_EQ(answer, 4);
  EXPECT_EQ(gamma_.Log(), "EV_FILEINSTALLPROGRESS ");
  EXPECT_TRUE(gamma_.LastEventOnMarkedThread()) << "delivered on the worker";
  EXPECT_EQ(Broadcast(EV_AFTERINSTALL, 0, 0, true), 0);
  EXPECT_TRUE(gamma_.LastEventOnMarkedThread());
  gamma_.SetThreadProbe(nullptr);
  os::DestroyMainWindow();
}

TEST_F(ThreePluginsTest, PluginsAreUnloadedLastFirst) {
  // Beta and gamma answer nothing to EV_UNLOAD, so the order shows in the list as it shrinks.
  UnloadPlugin(1);
  ASSERT_EQ(Plugins().Count(), 2);
  EXPECT_EQ(Plugins().PluginAt(1)->Number, 3);
  EXPECT_EQ(beta_.Log(), "EV_UNLOAD ");
  EXPECT_EQ(gamma_.Log(), "");
  UnloadPlugin(5);
  EXPECT_EQ(Plugins().Count(), 2);
}

class LocatePackageTest : public ThreePluginsTest {};

TEST_F(LocatePackageTest, APluginNamesTheFolderOfTheNextDisk) {
  const std::string disk2 = scratch_.Path() + "disk2";
  ASSERT_TRUE(ForceFolders(disk2));
  ASSERT_TRUE(WriteFileText(disk2 + "\\data.kxp", "package"));
  beta_.PackageFolder(disk2);
  std::string folder = scratch_.Path() + "disk1";
  EXPECT_TRUE(LocatePackage("data.kxp", folder));
  EXPECT_EQ(folder, disk2 + "\\");
  EXPECT_EQ(alpha_.Log(), "EV_GETPACKAGE(data.kxp," + scratch_.Path() + "disk1\\) ");
  EXPECT_EQ(gamma_.Log(), "") << "the first answer ends the question";

  // Found where it was expected: nobody is asked.
  EXPECT_TRUE(LocatePackage("data.kxp", folder));
  EXPECT_EQ(beta_.Log(), "EV_GETPACKAGE(data.kxp," + scratch_.Path() + "disk1\\) ");
}

TEST_F(LocatePackageTest, NoAnswerOrNoFolderEndsTheSearch) {
  std::string folder = scratch_.Path();
  EXPECT_FALSE(LocatePackage("data.kxp", folder));
  EXPECT_EQ(gamma_.Log(), "EV_GETPACKAGE(data.kxp," + scratch_.Path() + ") ");

  // A folder that fills the whole buffer, without a zero in it, is read no further.
  alpha_.PackageFolder(std::string(300, 'x'));
  folder = scratch_.Path();
  EXPECT_FALSE(LocatePackage("data.kxp", folder));
  EXPECT_EQ(folder, std::string(kPackageFolderBufferSize, 'x') + "\\");

  // Answering without naming another folder would ask forever.
  gamma_.Answer(EV_GETPACKAGE, 1);
  EXPECT_FALSE(LocatePackage("data.kxp", folder));
}

}  // namespace
