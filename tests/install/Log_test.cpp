// The install log and the registration for maintenance, read back as the uninstaller and the
// system's list of programs read them: the log's sections, the uninstall entry, the silent
// settings for repair, the uninstaller's language sections, and the removal of a previous
// installation's references.
#include <gtest/gtest.h>

#include <string>

#include "InstallTestSupport.h"
#include "support/zrFileFind.h"

namespace {

constexpr char kUninstall[] = "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// An application identifier of the running test's own, so that tests never meet.
std::string AppID() { return "kxtest-" + CurrentTestName(); }

using Values = std::map<std::string, std::string>;

Values EntryValues(const std::string& key) {
  Values values;
  for (const auto& [name, value] : RegistrySnapshot(key)) {
    if (name.find('|') != std::string::npos)
      values[name.substr(2)] = RegReadText(key, name.substr(2), "");
  }
  return values;
}

class LogTest : public InstallTest {
 protected:
  void SetVariables(const std::map<std::string, std::string>& variables) {
    for (const auto& [name, value] : variables) SetVariable(&MainDatabase(), name, value);
  }
  // One action of every kind, and those that existed before, which the log leaves out.
  void RecordOneOfEach() {
    TInstallActions& actions = InstallActions();
    auto* font = actions.AddAction<TInstallFile>();
    font->FileName = "C:\\F\\a.ttf";
    font->IsFont = font->IsServer = true;
    font->FontName = "A (TrueType)";
    actions.AddAction<TInstallFile>()->FileName = "C:\\F\\b.txt";
    auto* existed = actions.AddAction<TInstallFile>();
    existed->FileName = "C:\\F\\old.txt";
    existed->Existed = true;
    auto* reg = actions.AddAction<TInstallReg>();
    reg->Key = "HKCU\\Software\\Kx";
    reg->Param = "V";
    auto* ini = actions.AddAction<TInstallIni>();
    ini->IniFile = "C:\\a.ini";
    ini->Section = "S";
    ini->Param = "K";
    actions.AddAction<TInstallShortcut>()->LinkFile = "C:\\a.lnk";
    actions.AddAction<TInstallFolder>()->Folder = "C:\\F";
    actions.AddAction<TInstallRegKey>()->Key = "HKCU\\Software\\Kx";
    actions.AddAction<TInstallFolder>()->Log = false;
  }
  std::string Install() const { return Machine() + "App\\"; }
  std::string Sss() const { return ChangeFileExt(LogSettings().Path, ".sss"); }
};

TEST_F(LogTest, RegistrationWritesTheEntryTheLogAndTheSilentSettings) {
  SetVariables({{"AppID", AppID()},
                {"AppName", ""},
                {"CompanyName", "Kx Co"},
                {"AppVersion", "1.2"},
                {"InstallPath", "C:\\App"},
                {"SourcePath", "C:\\Src"},
                {"Features", "kept"},
                {"Hidden", "gone"}});
  MainDatabase().Variables->FindByName("Hidden")->Condition = "0";
  ConditionsEnabled = true;
  RunState().SetupFileName = "C:\\setup.exe";
  RecordOneOfEach();
  // An entry left by an earlier installation of the same application.
  const std::string entry = "HKLM" + std::string(kUninstall) + AppID();
  RegDeleteKeyPath(entry, true);
  ASSERT_TRUE(RegWriteString(entry, "DisplayName", "Old"));
  ASSERT_TRUE(RegWriteString(entry, "Extra", "kept"));
  const auto entryBefore = RegistrySnapshot(entry);

  RegisterApplication(Install());
  const Values expected = {
      {"DisplayName", Install() + "Uninstall.exe"},
      {"UninstallString", "\"" + Install() + "Uninstall.exe\" \"" + LogSettings().Path + "\""},
      {"InstallLocation", "C:\\App"},
      {"InstallSource", "C:\\Src"},
      {"InstallSourceFile", "C:\\setup.exe"},
      {"Publisher", "Kx Co"},
      {"DisplayVersion", "1.2"},
      {"SilentSettings", Sss()},
      {"QuietUninstallString",
       "\"" + Install() + "Uninstall.exe\" \"" + LogSettings().Path + "\" /s"},
      {"NoModify", "1"},
      {"NoRepair", "1"},
      {"EstimatedSize", "0"},  // the recorded files are not on the disk
      {"Extra", "kept"}};
  EXPECT_EQ(EntryValues(entry), expected);

  EXPECT_EQ(LogKeys("CopyFiles"), (Strings{"C:\\F\\a.ttf", "C:\\F\\b.txt"}));
  EXPECT_EQ(LogKeys("RegFonts"), Strings{"A (TrueType)"});
  EXPECT_EQ(IniReadString(LogSettings().Path, "RegFonts", "A (TrueType)", ""), "C:\\F\\a.ttf");
  EXPECT_EQ(LogKeys("RegServers"), Strings{"C:\\F\\a.ttf"});
  EXPECT_EQ(LogKeys("AddReg"), Strings{"HKCU\\Software\\Kx\\'V'"});
  EXPECT_EQ(LogKeys("AddIni"), Strings{"'C:\\a.ini','S','K'"});
  EXPECT_EQ(LogKeys("Shortcuts"), Strings{"C:\\a.lnk"});
  EXPECT_EQ(LogKeys("CreateDirs"), Strings{"C:\\F"});
  EXPECT_EQ(LogKeys("CreateKeys"), (Strings{entry, "HKCU\\Software\\Kx"}));

  TkxSilentSettings saved;
  ASSERT_TRUE(saved.LoadFromFile(Sss(), "silentsettings"));
  ConditionsEnabled = false;
  Strings names;
  for (int i = 0; i < saved.Variables->Count(); ++i)
    names.push_back(saved.Variables->Items(i)->Name);
  EXPECT_EQ(names, (Strings{"Features", "InstallPath", "SourcePath"}));

  // A run that fails after the registration takes it back.
  InstallActions().Rollback();
  EXPECT_EQ(RegistrySnapshot(entry), entryBefore);
  EXPECT_FALSE(FileExists(Sss()));
  RegDeleteKeyPath(entry, true);
}

TEST_F(LogTest, WithoutRepairNoSilentSettingsAndAnEmptyAppIDNeverNamesTheUninstallKey) {
  SetVariables({{"AppID", ""}, {"AppName", "Kx App"}, {"DisableRepair", "1"}});
  const std::string entry = "HKLM" + std::string(kUninstall) + "App";
  RegDeleteKeyPath(entry, true);
  RegisterApplication(Install());
  EXPECT_EQ(EntryValues(entry)["DisplayName"], "Kx App");
  EXPECT_EQ(EntryValues(entry).count("SilentSettings"), 0u);
  EXPECT_FALSE(FileExists(Sss()));
  EXPECT_EQ(EntryValues("HKLM" + std::string(kUninstall)).count("DisplayName"), 0u);
  InstallActions().Rollback();
  EXPECT_FALSE(RegKeyExists(entry));
}

TEST_F(LogTest, TheUninstallerGetsItsSettingsAndLanguageSections) {
  SetVariables({{"AppID", "Kx"}, {"AppName", "Kx App"}, {"UninstallTitleFont", "Tahoma,8"}});
  ASSERT_TRUE(ForceFolders(PackageFolder() + "lng"));
  ASSERT_TRUE(WriteFileText(PackageFolder() + "lng\\ENU.lng",
                            "[Strings]\r\n1=not copied\r\n[Uninstall.Strings]\r\n"
                            "Title=Remove %AppName%\r\nText=one||two\r\n"
                            "[uninstall.Buttons]\r\nOK=OK\r\n[Other]\r\nX=Y\r\n"));
  SetVariable(&MainDatabase(), "LangID", "ENU");

  WriteUninstallerSettings();
  const std::string& log = LogSettings().Path;
  EXPECT_EQ(IniReadString(log, "Strings", "AppID", ""), "Kx");
  EXPECT_EQ(IniReadString(log, "Display", "Charset", ""), std::to_string(LanguageCharset("ENU")));
  EXPECT_EQ(IniReadString(log, "Display", "DialogTitleFont", ""), "Tahoma,8");
  EXPECT_EQ(IniReadString(log, "Strings", "Title", ""), "Remove Kx App");
  EXPECT_EQ(IniReadString(log, "Strings", "Text", ""), "one||two");
  EXPECT_EQ(IniReadString(log, "Strings", "1", "<none>"), "<none>");
  EXPECT_EQ(LogKeys("Buttons"), Strings{"OK"});
  EXPECT_EQ(LogKeys("Other"), Strings{});

  LogSettings().On = false;
  WriteLogRecord(TLogSection::RunApp, "1", "x");
  EXPECT_FALSE(LogKeyExists(TLogSection::RunApp, "1"));
  LogSettings().On = true;
  EXPECT_FALSE(LogKeyExists(TLogSection::RunApp, "1"));
}

TEST_F(LogTest, OldReferencesGoExceptKeysOutsideTheUninstallEntries) {
  const std::string user = "HKCU" + std::string(kUninstall) + AppID();
  const std::string machine = "HKLM" + std::string(kUninstall) + AppID();
  const std::string stranger = "HKCU" + std::string(kUninstall) + AppID() + "-stranger";
  for (const std::string& key : {user + "\\Sub", machine, stranger, registry_.Path()}) {
    ASSERT_TRUE(RegWriteString(key, "v", "x"));
  }
  const std::string link = Machine() + "Menu\\App.lnk";
  ASSERT_TRUE(ForceFolders(Machine() + "Menu"));
  ASSERT_TRUE(WriteFileText(link, "link"));
  ASSERT_TRUE(ForceFolders(Machine() + "a\\b"));
  ASSERT_TRUE(ForceFolders(Machine() + "c"));
  ASSERT_TRUE(WriteFileText(Machine() + "c\\kept.txt", "kept"));
  const std::string& log = LogSettings().Path;
  ASSERT_TRUE(WriteFileText(log, "[Shortcuts]\r\n" + link + "=\r\n[CreateDirs]\r\n" + Machine() +
                                     "a=\r\n" + Machine() + "a\\b=\r\n" + Machine() +
                                     "c=\r\n[CreateKeys]\r\n" + user + "=\r\n" + machine + "=\r\n" +
                                     registry_.Path() + "=\r\nHKCU" + kUninstall + "=\r\n"));

  // A link in use goes at the next start; no empty file waits to take its place.
  const std::string held = Machine() + "Menu\\Held.lnk";
  ASSERT_TRUE(WriteFileText(held, "held"));
  ASSERT_TRUE(IniWriteString(log, "Shortcuts", held, ""));
  os::File user_of_link = os::File::Open(held, os::File::Mode::kRead);
  ASSERT_TRUE(user_of_link.IsOpen());

  RemoveOldReferences();
  const TInstallFile* heldRecord = InstallActions().FindFile(held);
  ASSERT_TRUE(heldRecord && heldRecord->IsPending && heldRecord->Removed);
  EXPECT_EQ(heldRecord->PendingFile, "");
  TzrFileFind leftovers(Machine() + "Menu\\kx*", 0, 0);
  TzrFoundFile found;
  EXPECT_FALSE(leftovers.Next(found)) << found.Path;
  user_of_link.Close();
  EXPECT_FALSE(RegKeyExists(user));
  EXPECT_FALSE(RegKeyExists(machine));
  EXPECT_TRUE(RegKeyExists(stranger));
  EXPECT_TRUE(RegKeyExists(registry_.Path()));
  EXPECT_FALSE(FileExists(link));
  EXPECT_FALSE(FolderExists(Machine() + "a"));
  EXPECT_TRUE(FileExists(Machine() + "c\\kept.txt"));
  RegDeleteKeyPath(stranger, true);

  InstallActions().Rollback();
  EXPECT_EQ(ReadFileText(link), "link") << "the backed-up link comes back";
}

}  // namespace
