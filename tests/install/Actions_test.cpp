// The action list on the machine: a run's changes to files, folders and the registry undone to
// the byte and the file time, the saved list read back, the hand-over of fonts, files in use, and
// the deployment of the uninstaller.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "InstallTestSupport.h"
#include "install/Actions.h"
#include "support/zrRegIni.h"

namespace {

constexpr int64_t kOldTime = 130000000000000000;  // 2012, a time no write of the test gives

void MakeFile(const std::string& path, const std::string& text, uint32_t attributes = 0) {
  ASSERT_TRUE(ForceFolders(ExtractFilePath(path)));
  ASSERT_TRUE(WriteFileText(path, text));
  ASSERT_TRUE(os::SetFileWriteTime(path, kOldTime));
  if (attributes) {
    ASSERT_TRUE(os::SetFileAttributes(path, attributes));
  }
}

// A registry value written as the registry handler writes it, recorded first.
void RecordAndWrite(const std::string& key, const std::string& name, uint32_t type,
                    const std::string& text) {
  InstallActions().AddRegValue(key, name);
  ASSERT_TRUE(RegWriteByType(key, name, type, text));
}

using ActionsTest = InstallTest;

TEST_F(ActionsTest, RollbackLeavesFilesAndRegistryAsTheyWere) {
  const std::string app = Machine() + "app\\";
  MakeFile(app + "old.txt", "old contents");
  MakeFile(app + "locked.dat", "read-only", os::kAttrReadOnly);
  const std::string key = registry_.Path();
  ASSERT_TRUE(RegWriteString(key, "Str", "before"));
  ASSERT_TRUE(RegWriteNumber(key, "Num", 7));
  const std::string expandable = "%SystemRoot%\\x";
  ASSERT_TRUE(
      RegWrite(key, "Path", os::kRegExpandString, expandable.c_str(), expandable.size() + 1));
  ASSERT_TRUE(RegWriteBinaryText(key, "Bin", "00FF10"));
  ASSERT_TRUE(RegWriteString(key + "\\Keep", "v", "kept"));
  const auto filesBefore = FolderSnapshot(Machine());
  const auto registryBefore = RegistrySnapshot(key);

  TInstallActions& actions = InstallActions();
  ASSERT_TRUE(actions.CreateFolders(app + "new\\deep\\", true));
  for (const char* text : {"first replacement", "second replacement"}) {
    ASSERT_NE(actions.AddFile(app + "old.txt", TkxFlags(), true), nullptr);
    ASSERT_TRUE(WriteFileText(app + "old.txt", text));
  }
  ASSERT_NE(actions.AddFile(app + "locked.dat", TkxFlags(), true), nullptr);
  ASSERT_TRUE(WriteFileText(app + "locked.dat", "writable now"));
  ASSERT_NE(actions.AddFile(app + "new\\deep\\fresh.txt", TkxFlags(), true), nullptr);
  ASSERT_TRUE(WriteFileText(app + "new\\deep\\fresh.txt", "fresh"));
  RecordAndWrite(key, "Str", os::kRegDword, "5");
  RecordAndWrite(key, "Num", os::kRegString, "seven");
  RecordAndWrite(key, "Path", os::kRegString, "plain");
  RecordAndWrite(key, "Bin", os::kRegMultiString, "a\r\nb");
  RecordAndWrite(key, "New", os::kRegString, "new");
  ASSERT_TRUE(actions.CreateRegKeys(key + "\\Made\\Deeper", true));
  RecordAndWrite(key + "\\Made\\Deeper", "v", os::kRegString, "x");
  ASSERT_NE(FolderSnapshot(Machine()), filesBefore);
  ASSERT_NE(RegistrySnapshot(key), registryBefore);

  actions.Rollback();
  EXPECT_EQ(actions.Count(), 0);
  EXPECT_EQ(FolderSnapshot(Machine()), filesBefore);
  EXPECT_EQ(RegistrySnapshot(key), registryBefore);
  EXPECT_TRUE(FolderSnapshot(MainDatabase().TempBackupPath).empty()) << "backups removed";
}

TEST_F(ActionsTest, TheSavedListComesBackWithEveryKindOfAction) {
  TInstallActions& actions = InstallActions();
  auto* file = actions.AddAction<TInstallFile>();
  file->FileName = "C:\\App\\a.ttf";
  file->BackupFileName = "C:\\Backup\\X";
  file->FontName = "A (TrueType)";
  file->IsFont = file->IsServer = file->SharedFile = file->Existed = true;
  file->PendingFile = MainDatabase().TempFontsPath + "a.ttf";
  auto* reg = actions.AddAction<TInstallReg>();
  reg->Key = "HKLM\\Software\\Kx";
  reg->Param = "V";
  reg->OldType = 4;
  reg->OldValue = "12";
  reg->Log = false;
  auto* ini = actions.AddAction<TInstallIni>();
  ini->IniFile = "C:\\a.ini";
  ini->Section = "S";
  ini->Param = "K";
  ini->OldValue = "old";
  actions.AddAction<TInstallShortcut>()->LinkFile = "C:\\a.lnk";
  actions.AddAction<TInstallFolder>()->Folder = "C:\\App";
  actions.AddAction<TInstallRegKey>()->Key = "HKCU\\Software\\Kx";
  const std::string saved = Machine() + "InstallActions";
  ASSERT_TRUE(actions.SaveToFile(saved, "installactions"));

  TInstallActions loaded;
  ASSERT_TRUE(loaded.LoadFromFile(saved, "installactions"));
  ASSERT_EQ(loaded.Count(), 6);
  EXPECT_EQ(dynamic_cast<TInstallRegKey*>(loaded.Items(5))->Key, "HKCU\\Software\\Kx");
  EXPECT_EQ(dynamic_cast<TInstallFile*>(loaded.Items(0))->PendingFile, file->PendingFile);
  EXPECT_FALSE(loaded.Action(1)->Log);
  const std::string again = Machine() + "again";
  ASSERT_TRUE(loaded.SaveToFile(again, "installactions"));
  EXPECT_EQ(ReadFileText(again), ReadFileText(saved));

  ASSERT_TRUE(WriteFileText(saved,
                            "<installactions><file filename=\"a\"/><bogus key=\"b\"/>"
                            "<regkey key=\"HKCU\\k\"/></installactions>"));
  ASSERT_TRUE(loaded.LoadFromFile(saved, "installactions"));
  EXPECT_EQ(loaded.Count(), 2) << "an element of another name is not loaded";
}

// A font handed over to the font phase: its target and registration may have been there before
// the run, and the phase may or may not have installed it.
struct FontCase {
  bool existed;
  bool installed;
};

class FontHandOverTest : public InstallTest, public testing::WithParamInterface<FontCase> {};

TEST_P(FontHandOverTest, RollbackKeepsWhatWasThereAndRemovesTheCopy) {
  const std::string fonts = SystemFontsKey();
  const std::string name = "Kx Test " + CurrentTestName();
  const std::string target = Machine() + "Fonts\\kxtest.ttf";
  ASSERT_TRUE(ForceFolders(Machine() + "Fonts"));
  if (GetParam().existed) {
    MakeFile(target, "old font");
    ASSERT_TRUE(RegWriteString(fonts, name, target));
  }
  const auto filesBefore = FolderSnapshot(Machine());
  const std::string fontsBefore = RegReadText(fonts, name, "<none>");

  const std::string copy = MainDatabase().TempFontsPath + "kxtest.ttf";
  MakeFile(copy, "new font");
  auto* handOver = InstallActions().AddAction<TInstallFile>();
  handOver->FileName = target;
  handOver->PendingFile = copy;
  handOver->IsFont = true;
  handOver->FontName = name;
  if (GetParam().installed) {
    TInstallFile* file =
        InstallActions().AddFile(target, TkxFlags().Include(TkxFlag::reg_font), true);
    ASSERT_NE(file, nullptr);
    file->FontName = name;
    MakeFile(target, "new font");
    ASSERT_TRUE(RegWriteString(fonts, name, target));
    handOver->Log = false;
  }

  InstallActions().Rollback();
  EXPECT_EQ(FolderSnapshot(Machine()), filesBefore);
  EXPECT_EQ(RegReadText(fonts, name, "<none>"), fontsBefore);
  EXPECT_FALSE(FileExists(copy));
  RegDeleteValue(fonts, name);
}

INSTANTIATE_TEST_SUITE_P(Fonts, FontHandOverTest,
                         testing::Values(FontCase{false, false}, FontCase{false, true},
                                         FontCase{true, false}, FontCase{true, true}));

TEST_F(ActionsTest, AFileInUseBecomesPendingAndItsCopyGoesOnRollback) {
  const std::string path = Machine() + "app\\busy.dll";
  MakeFile(path, "busy");
  const auto before = FolderSnapshot(Machine());
  os::File holder = os::File::Open(path, os::File::Mode::kRead);
  ASSERT_TRUE(holder.IsOpen());

  TInstallFile* file = InstallActions().AddFile(path, TkxFlags(), true);
  ASSERT_NE(file, nullptr);
  ASSERT_TRUE(file->IsPending);
  EXPECT_EQ(ExtractFilePath(file->PendingFile), ExtractFilePath(path));
  EXPECT_TRUE(SameText(ExtractFileName(file->PendingFile).substr(0, 2), "kx"));
  EXPECT_TRUE(GetVariableBool(&MainDatabase(), "Reboot", false));
  EXPECT_EQ(os::GetFileAttributes(path), before.at(path).attributes) << "attributes kept";
  ASSERT_TRUE(WriteFileText(file->PendingFile, "new"));

  // The move is scheduled where the system looks at its next start; the schedule is put back.
  const std::string manager = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";
  const std::string renames = "PendingFileRenameOperations";
  std::vector<uint8_t> scheduled;
  const bool hadSchedule = RegReadBinary(manager, renames, scheduled);
  InstallActions().ApplyPendingFiles();
  const std::string now = RegReadText(manager, renames, "");
  EXPECT_NE(now.find("\\??\\" + file->PendingFile + "\r\n"), std::string::npos) << now;
  EXPECT_NE(now.find("\\??\\" + path), std::string::npos) << now;
  if (hadSchedule) {
    RegWrite(manager, renames, os::kRegMultiString, scheduled.data(), scheduled.size());
  } else {
    RegDeleteValue(manager, renames);
  }

  InstallActions().Rollback();
  holder.Close();
  EXPECT_EQ(FolderSnapshot(Machine()), before);
}

TEST_F(ActionsTest, AFileThatCannotBeBackedUpIsLeftAloneAndRefused) {
  const std::string path = Machine() + "app\\precious.txt";
  MakeFile(path, "precious");
  const auto before = FolderSnapshot(Machine());
  MainDatabase().TempBackupPath = Machine() + "missing\\";

  EXPECT_EQ(InstallActions().AddFile(path, TkxFlags(), true), nullptr);
  EXPECT_EQ(InstallActions().Count(), 0);
  EXPECT_EQ(FolderSnapshot(Machine()), before);
}

TEST_F(ActionsTest, TheDeployedUninstallerGoesWithItsFoldersOnRollback) {
  MakeFile(PackageFolder() + "Uninstall.exe", "uninstaller");
  MakeFile(PackageFolder() + "gacutil.exe", "gacutil");
  const auto before = FolderSnapshot(Machine());
  const std::string install = Machine() + "Programs\\Kx App\\";

  ASSERT_TRUE(DeployUninstaller(install));
  EXPECT_EQ(ReadFileText(install + "Uninstall.exe"), "uninstaller");
  EXPECT_EQ(ReadFileText(install + "gacutil.exe"), "gacutil");
  InstallActions().WriteLog();
  EXPECT_EQ(LogKeys("CopyFiles"), Strings{install + "gacutil.exe"});
  EXPECT_EQ(LogKeys("CreateDirs"),
            (Strings{Machine() + "Programs", install.substr(0, install.size() - 1)}));

  InstallActions().Rollback();
  EXPECT_EQ(FolderSnapshot(Machine()), before);
}

}  // namespace
