// The shortcut phase over a scratch machine, with the test plug-in "alpha" loaded to count the
// item events. The links are read back at the places the link format gives the header fields,
// which holds for links that Windows writes as for those the host writes.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "TestSupport.h"
#include "database/KXClasses.h"
#include "database/zrXMLParser.h"
#include "expressions/Common.h"
#include "install/Actions.h"
#include "install/Install.h"
#include "install/Log.h"
#include "install/Shortcuts.h"
#include "plugins/KXPlugins.h"
#include "plugins/PluginTestSupport.h"
#include "support/zrFileUtils.h"
#include "support/zrRegIni.h"
#include "support/zrShellLink.h"

namespace {

constexpr size_t kShowCommandAt = 0x3C;
constexpr size_t kHotkeyAt = 0x40;

uint32_t Word32(const std::string& bytes, size_t at) {
  if (bytes.size() < at + 4) return 0xFFFFFFFF;
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
  return value;
}

class ShortcutsTest : public PluginHostTest {
 protected:
  void SetUp() override {
    PluginHostTest::SetUp();
    com_.emplace();
    links_ = scratch_.Path() + "menu\\";
  }
  void TearDown() override {
    InstallActions().Clear();
    IniCloseAll();
    LogSettings() = {};
    com_.reset();
    PluginHostTest::TearDown();
  }

  // One component with these shortcut items; the program they point to exists.
  void MakeProject(const std::string& shortcuts) {
    TXMLTag project;
    project.Parse(
        "<kx2project><components><component id=\"core\" package=\"setup\"><shortcuts>" + shortcuts +
        "</shortcuts></component></components><packages><package filename=\"setup\">"
        "<plugins>" +
        DebugEntry("alpha", "alpha.dll") + "</plugins></package></packages></kx2project>");
    MainDatabase().Assign(project);
    MainDatabase().TempBackupPath = scratch_.Path() + "backup\\";
    ASSERT_TRUE(ForceFolders(MainDatabase().TempBackupPath));
    SetVariable(&MainDatabase(), "Links", WithoutTrailingBackslash(links_));
    SetVariable(&MainDatabase(), "App", scratch_.Path() + "app.exe");
    ASSERT_TRUE(WriteFileText(scratch_.Path() + "app.exe", "program"));
    ASSERT_TRUE(LoadPlugins(*MainDatabase().Packages->Items(0)));
    alpha_.Reset();
  }
  bool RunPhase() { return ForEachComponent(ShortcutHandler); }
  int EventCount(const std::string& event) const { return alpha_.EventCount(event); }
  static int RecordedShortcuts() {
    int count = 0;
    for (int i = 0; i < InstallActions().Count(); ++i) {
      if (dynamic_cast<TInstallShortcut*>(InstallActions().Action(i))) ++count;
    }
    return count;
  }

  std::optional<os::ComScope> com_;
  std::string links_;
  PluginControl alpha_{kPluginDir + "alpha.dll"};
};

// Each show state of an item, and its hot key, as the link's header carries them.
struct ShowCase {
  const char* showCmd;
  uint32_t showCommand;
};

TEST_F(ShortcutsTest, ShowStatesAndHotKeysReachTheLink) {
  const ShowCase cases[] = {{"normal", 1}, {"min", 7}, {"max", 3}, {"hide", 1}};
  std::string items;
  for (const ShowCase& item : cases) {
    items += std::string("<shortcut name=\"%Links%\\") + item.showCmd +
             "\" cmdline=\"%App%\" showcmd=\"" + item.showCmd + "\" hotkey=\"" +
             std::to_string(0x10641 + 1) + "\"/>";
  }
  MakeProject(items);
  ASSERT_TRUE(RunPhase());
  for (const ShowCase& item : cases) {
    const std::string link = ReadFileText(links_ + item.showCmd + ".lnk");
    EXPECT_EQ(Word32(link, 0), 0x4Cu) << item.showCmd;
    EXPECT_EQ(Word32(link, kShowCommandAt), item.showCommand) << item.showCmd;
    EXPECT_EQ(Word32(link, kHotkeyAt) & 0xFFFF, 0x0642u) << item.showCmd;  // the low 16 bits
  }
  EXPECT_EQ(RecordedShortcuts(), 4);
  EXPECT_EQ(EventCount("EV_AFTERPROCESSITEM"), 4);
}

// The folders made for a link are recorded before the link, so that rollback finds them empty.
TEST_F(ShortcutsTest, TheFoldersMadeForALinkGoOnRollback) {
  MakeProject("<shortcut name=\"%Links%\\Product\\Tool\" cmdline=\"%App%\"/>");
  ASSERT_TRUE(RunPhase());
  ASSERT_TRUE(FileExists(links_ + "Product\\Tool.lnk"));
  InstallActions().Rollback();
  EXPECT_FALSE(FolderExists(links_));
}

TEST_F(ShortcutsTest, AnExistingLinkIsKeptOnlyWhenAsked) {
  MakeProject(
      "<shortcut name=\"%Links%\\kept\" cmdline=\"%App%\" flags=\"dont_overwrite\"/>"
      "<shortcut name=\"%Links%\\replaced\" cmdline=\"%App%\"/>");
  ASSERT_TRUE(ForceFolders(links_));
  ASSERT_TRUE(WriteFileText(links_ + "kept.lnk", "old kept"));
  ASSERT_TRUE(WriteFileText(links_ + "replaced.lnk", "old replaced"));
  ASSERT_TRUE(RunPhase());

  EXPECT_EQ(ReadFileText(links_ + "kept.lnk"), "old kept");
  EXPECT_EQ(InstallActions().FindFile(links_ + "kept.lnk"), nullptr);
  EXPECT_EQ(EventCount("EV_BEFOREPROCESSITEM"), 2);
  EXPECT_EQ(EventCount("EV_AFTERPROCESSITEM"), 1);  // none for the kept link

  EXPECT_EQ(Word32(ReadFileText(links_ + "replaced.lnk"), 0), 0x4Cu);
  const TInstallFile* backup = InstallActions().FindFile(links_ + "replaced.lnk");
  ASSERT_NE(backup, nullptr);
  EXPECT_TRUE(backup->Existed);
  EXPECT_FALSE(backup->Log);  // the link is logged through its shortcut record
  EXPECT_EQ(RecordedShortcuts(), 1);

  InstallActions().Rollback();
  EXPECT_EQ(ReadFileText(links_ + "replaced.lnk"), "old replaced");
  EXPECT_EQ(ReadFileText(links_ + "kept.lnk"), "old kept");
}

TEST_F(ShortcutsTest, ARemovedLinkComesBackOnRollback) {
  MakeProject("<shortcut name=\"%Links%\\gone\" action=\"remove\"/>");
  ASSERT_TRUE(ForceFolders(links_));
  ASSERT_TRUE(WriteFileText(links_ + "gone.lnk", "old link"));
  ASSERT_TRUE(RunPhase());
  EXPECT_FALSE(FileExists(links_ + "gone.lnk"));
  EXPECT_EQ(RecordedShortcuts(), 0);
  EXPECT_EQ(EventCount("EV_AFTERPROCESSITEM"), 1);
  InstallActions().Rollback();
  EXPECT_EQ(ReadFileText(links_ + "gone.lnk"), "old link");
}

// A link held open by another program cannot be deleted now: the new link waits beside it for
// the next start of the system, and a removed one is then deleted, not replaced by an empty file.
TEST_F(ShortcutsTest, ALinkInUseIsReplacedOrRemovedAtTheNextStart) {
  MakeProject(
      "<shortcut name=\"%Links%\\held\" cmdline=\"%App%\"/>"
      "<shortcut name=\"%Links%\\dropped\" action=\"remove\"/>");
  ASSERT_TRUE(ForceFolders(links_));
  ASSERT_TRUE(WriteFileText(links_ + "held.lnk", "old held"));
  ASSERT_TRUE(WriteFileText(links_ + "dropped.lnk", "old dropped"));
  {
    const os::File held = os::File::Open(links_ + "held.lnk", os::File::Mode::kRead);
    const os::File dropped = os::File::Open(links_ + "dropped.lnk", os::File::Mode::kRead);
    ASSERT_TRUE(held.IsOpen() && dropped.IsOpen());
    ASSERT_TRUE(RunPhase());
  }
  const TInstallFile* held = InstallActions().FindFile(links_ + "held.lnk");
  ASSERT_NE(held, nullptr);
  ASSERT_TRUE(held->IsPending);
  EXPECT_EQ(ReadFileText(links_ + "held.lnk"), "old held");
  EXPECT_EQ(Word32(ReadFileText(held->PendingFile), 0), 0x4Cu);  // the new link waits
  EXPECT_EQ(RecordedShortcuts(), 1);
  const TInstallFile* dropped = InstallActions().FindFile(links_ + "dropped.lnk");
  ASSERT_NE(dropped, nullptr);
  ASSERT_TRUE(dropped->IsPending);
  EXPECT_TRUE(dropped->PendingFile.empty());  // so the link is deleted at the next start
  EXPECT_EQ(GetVariable(&MainDatabase(), "Reboot", ""), "1");
}

// Without a backup an old link could never come back: it is neither removed nor replaced.
TEST_F(ShortcutsTest, ALinkThatCannotBeBackedUpIsLeftAlone) {
  MakeProject(
      "<shortcut name=\"%Links%\\removed\" action=\"remove\"/>"
      "<shortcut name=\"%Links%\\replaced\" cmdline=\"%App%\"/>");
  ASSERT_TRUE(ForceFolders(links_));
  ASSERT_TRUE(WriteFileText(links_ + "removed.lnk", "old removed"));
  ASSERT_TRUE(WriteFileText(links_ + "replaced.lnk", "old replaced"));
  MainDatabase().TempBackupPath = scratch_.Path() + "missing\\";
  EXPECT_TRUE(RunPhase());
  EXPECT_EQ(ReadFileText(links_ + "removed.lnk"), "old removed");
  EXPECT_EQ(ReadFileText(links_ + "replaced.lnk"), "old replaced");
  EXPECT_EQ(RecordedShortcuts(), 0);
}

TEST_F(ShortcutsTest, ALinkThatCannotBeWrittenIsReportedAndTheRunGoesOn) {
  // A file stands where the first link's folder should be.
  MakeProject(
      "<shortcut name=\"%Links%\\blocked\\first\" cmdline=\"%App%\"/>"
      "<shortcut name=\"%Links%\\second\" cmdline=\"%App%\"/>");
  ASSERT_TRUE(ForceFolders(links_));
  ASSERT_TRUE(WriteFileText(links_ + "blocked", "a file"));
  EXPECT_TRUE(RunPhase());
  EXPECT_FALSE(FileExists(links_ + "blocked\\first.lnk"));
  EXPECT_TRUE(FileExists(links_ + "second.lnk"));
  EXPECT_EQ(RecordedShortcuts(), 1);
  EXPECT_EQ(EventCount("EV_AFTERPROCESSITEM"), 2);
}

TEST_F(ShortcutsTest, TheLogListsTheLinksThatAreLogged) {
  MakeProject(
      "<shortcut name=\"%Links%\\logged\" cmdline=\"%App%\"/>"
      "<shortcut name=\"%Links%\\quiet\" cmdline=\"%App%\" flags=\"dont_log\"/>");
  LogSettings() = {scratch_.Path() + "install.log", true};
  ASSERT_TRUE(RunPhase());
  InstallActions().WriteLog();
  IniCloseAll();
  std::vector<std::string> keys;
  IniListKeys(LogSettings().Path, "Shortcuts", keys);
  EXPECT_EQ(keys, std::vector<std::string>{links_ + "logged.lnk"});
  EXPECT_TRUE(FileExists(links_ + "quiet.lnk"));
}

TEST(ShellLink, ShowModesGiveTheirShowCommands) {
  const std::pair<uint8_t, int> cases[] = {{0, 1}, {1, 7}, {2, 3}, {3, 1}, {255, 1}};
  for (const auto& [mode, command] : cases) EXPECT_EQ(ShowCommandOfMode(mode), command) << +mode;
}

}  // namespace
