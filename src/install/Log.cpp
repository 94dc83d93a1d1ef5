#include "install/Log.h"

#include <algorithm>
#include <set>
#include <vector>

#include "database/KXClasses.h"
#include "expressions/Common.h"
#include "install/Actions.h"
#include "support/Errors.h"
#include "support/RunState.h"
#include "support/zrFileUtils.h"
#include "support/zrRegIni.h"
#include "support/zrStrUtils.h"

namespace {

constexpr char kUninstallKey[] = "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr char kLanguagePrefix[] = "Uninstall.";

// Project settings that describe this installation, not the user's choices: a repair takes them
// from the project again.
const char* const kProjectSettings[] = {"PackAlgorithmVersion",
                                        "DisableRepair",
                                        "DisableRollback",
                                        "AppID",
                                        "AppName",
                                        "CompanyName",
                                        "AppHomeURL",
                                        "AppVersion",
                                        "AppIcon",
                                        "AppSupportContact",
                                        "AppSupportURL",
                                        "AppSupportPhone",
                                        "AppReadme",
                                        "AppUpdateURL",
                                        "AppComments",
                                        "Languages",
                                        "AutoSelectLanguage",
                                        "Uninstall",
                                        "LogFile",
                                        "SupportedOS",
                                        "MinOSVersion",
                                        "AdminRights",
                                        "Reboot",
                                        "RemoveOldReferences",
                                        "InstallPlatform",
                                        "SilentMode"};

std::string Variable(const std::string& name, const std::string& defaultValue = "") {
  return GetVariable(&MainDatabase(), name, defaultValue);
}

// A key recorded so that a failing run removes it; unlogged, since the log names the entry
// itself.
void CreateUnloggedKeys(const std::string& key) {
  TInstallActions& actions = InstallActions();
  const int before = actions.Count();
  actions.CreateRegKeys(key, true);
  for (int i = before; i < actions.Count(); ++i) actions.Action(i)->Log = false;
}

// Writes a string value, recording what it replaces (unlogged); false when the write failed.
bool WriteRecordedString(const std::string& key, const std::string& name, const std::string& text) {
  InstallActions().AddRegValue(key, name)->Log = false;
  return RegWriteString(key, name, text);
}

// Step 1 of the registration: HKLM when the probe may write there, else HKCU.
std::string UninstallEntryKey() {
  std::string application = Variable("AppID", "App");
  if (Trim(application).empty()) application = "App";
  const std::string machineKey = Format("HKLM%s%s", kUninstallKey, application.c_str());
  TInstallActions& actions = InstallActions();
  const int before = actions.Count();
  CreateUnloggedKeys(machineKey);
  if (WriteRecordedString(machineKey, "DisplayName", "")) return machineKey;
  // Refused: the keys made for the probe go again, or an empty entry would stay under HKLM.
  for (int last = actions.Count() - 1; last >= before; --last) {
    actions.Action(last)->Undo();
    actions.Delete(last);
  }
  const std::string userKey = Format("HKCU%s%s", kUninstallKey, application.c_str());
  CreateUnloggedKeys(userKey);
  WriteRecordedString(userKey, "DisplayName", "");
  return userKey;
}

struct TEntryValue {
  const char* Name;
  const char* Variable;  // nullptr: the fallback alone
};
const TEntryValue kEntryValues[] = {
    {"DisplayName", "AppName"},           {"UninstallString", nullptr},
    {"InstallLocation", "InstallPath"},   {"InstallSource", "SourcePath"},
    {"InstallSourceFile", nullptr},       {"InstallDate", "Date"},
    {"DisplayIcon", "AppIcon"},           {"Publisher", "CompanyName"},
    {"URLInfoAbout", "AppHomeURL"},       {"DisplayVersion", "AppVersion"},
    {"Contact", "AppSupportContact"},     {"HelpLink", "AppSupportURL"},
    {"HelpTelephone", "AppSupportPhone"}, {"Readme", "AppReadme"},
    {"URLUpdateInfo", "AppUpdateURL"},    {"Comments", "AppComments"},
};

std::string EntryFallback(const std::string& name, const std::string& installFolder) {
  const std::string uninstaller = WithTrailingBackslash(installFolder) + "Uninstall.exe";
  if (name == "DisplayName") return uninstaller;
  if (name == "UninstallString") {
    return Format("\"%s\" \"%s\"", uninstaller.c_str(), LogSettings().Path.c_str());
  }
  if (name == "InstallSourceFile") return RunState().SetupFileName;
  return "";
}

// Writes a number value, recording what it replaces (unlogged).
void WriteRecordedNumber(const std::string& key, const std::string& name, uint32_t number) {
  InstallActions().AddRegValue(key, name)->Log = false;
  RegWriteNumber(key, name, number);
}

// KiB of the files the run installed (those the uninstaller removes), rounded up.
uint32_t InstalledKiB() {
  uint64_t bytes = 0;
  const TInstallActions& actions = InstallActions();
  for (int index = 0; index < actions.Count(); ++index) {
    const auto* file = dynamic_cast<const TInstallFile*>(actions.Action(index));
    if (!file || !file->Log || file->Existed) continue;
    const int64_t size = FileSize(file->FileName);
    if (size > 0) bytes += static_cast<uint64_t>(size);
  }
  return static_cast<uint32_t>(std::min<uint64_t>((bytes + 1023) / 1024, UINT32_MAX));
}

void WriteEntryValues(const std::string& key, const std::string& installFolder) {
  for (const TEntryValue& value : kEntryValues) {
    std::string text = value.Variable ? Variable(value.Variable) : "";
    if (text.empty()) text = ExpandText(&MainDatabase(), EntryFallback(value.Name, installFolder));
    if (!text.empty()) WriteRecordedString(key, value.Name, text);
  }
  // What the system's list of programs offers: removal, silent removal, the size; no change or
  // repair from there unless the project says so (both need the setup program).
  WriteRecordedString(
      key, "QuietUninstallString",
      ExpandText(&MainDatabase(), EntryFallback("UninstallString", installFolder)) + " /s");
  WriteRecordedNumber(key, "NoModify", GetVariableBool(&MainDatabase(), "NoModify", true) ? 1 : 0);
  WriteRecordedNumber(key, "NoRepair", GetVariableBool(&MainDatabase(), "NoRepair", true) ? 1 : 0);
  WriteRecordedNumber(key, "EstimatedSize", InstalledKiB());
}

// The user's choices, for a later repair that runs silently with them.
void FillSilentSettings() {
  TkxSilentSettings& settings = SilentSettings();
  settings.Clear();
  if (MainDatabase().Variables) settings.Variables->Assign(*MainDatabase().Variables);
  TkxVariables& variables = *settings.Variables;
  for (int i = variables.Count() - 1; i >= 0; --i) {
    TkxVariable* variable = variables.Items(i);
    if (!variable || !CheckCondition(*variable)) variables.Delete(i);
  }
  for (const char* name : kProjectSettings) {
    for (int i = variables.Count() - 1; i >= 0; --i) {
      if (variables.Items(i) && SameText(variables.Items(i)->Name, name)) variables.Delete(i);
    }
  }
  settings.ActiveInstallType = MainDatabase().ActiveInstallType;
  if (!MainDatabase().Features) return;
  const TkxFeatures& features = *MainDatabase().Features;
  TkxFeature* parent = nullptr;
  TkxFeature* next = nullptr;
  std::set<const TkxFeature*> seen;  // two features of one ID would send the walk round
  for (TkxFeature* feature = FindFeature(features, "", parent, next);
       feature && seen.insert(feature).second;) {
    if (feature->Selected) settings.Features->AddNew().ID = feature->ID;
    if (!next) break;
    const std::string id = next->ID;
    parent = nullptr;
    feature = FindFeature(features, id, parent, next);
  }
}

void SaveSilentSettings(const std::string& entryKey) {
  // The file goes beside the log; without a log path it would land in the current folder.
  if (LogSettings().Path.empty()) return;
  FillSilentSettings();
  const std::string file = ChangeFileExt(LogSettings().Path, ".sss");
  if (!InstallActions().AddFile(file, TkxFlags().Include(TkxFlag::dont_log), true)) return;
  SilentSettings().SaveToFile(file, "silentsettings");
  WriteRecordedString(entryKey, "SilentSettings", file);
}

bool IsUninstallEntry(const std::string& key) {
  const size_t prefixLength = sizeof kUninstallKey - 1;
  if (key.size() <= 4 + prefixLength) return false;
  if (!SameText(key.substr(4, prefixLength), kUninstallKey)) return false;
  // Backslashes alone after it would name the uninstall key itself, every program's entry.
  return key.find_first_not_of('\\', 4 + prefixLength) != std::string::npos;
}

bool DeployFile(const std::string& name, bool log, const std::string& installFolder) {
  const std::string source = FirstPackageFolder() + name;
  if (FirstPackageFolder().empty() || !FileExists(source)) return true;
  const std::string target = WithTrailingBackslash(installFolder) + name;
  TInstallActions& actions = InstallActions();
  // The folders before the file: undone last to first, the file then goes before its folder.
  actions.CreateFolders(ExtractFilePath(target), true);
  TInstallFile* file = actions.AddFile(target, TkxFlags(), true);
  if (!file) return false;
  file->Log = log;
  const std::string copy = file->IsPending ? file->PendingFile : target;
  if (!CopyFileWithProgress(source, copy, nullptr, false)) {
    ErrorBox("Error", Format("Cannot copy system file \"%s\".", copy.c_str()));
    return false;
  }
  return true;
}

}  // namespace

std::string FirstPackageFolder() {
  TkxPackages* packages = MainDatabase().Packages.get();
  if (!packages || packages->Count() == 0 || !packages->Items(0)) return "";
  const std::string& folder = packages->Items(0)->TempPath;
  return folder.empty() ? "" : WithTrailingBackslash(folder);
}

const char* LogSectionName(TLogSection section) {
  static const char* const kNames[] = {
      "CopyFiles",  "AddReg",   "AddIni",      "Shortcuts", "CreateDirs", "CreateKeys",
      "RegServers", "RegFonts", "SharedFiles", "PreRunApp", "RunApp",     "SharedAssemblies"};
  return kNames[static_cast<int>(section)];
}

TLogSettings& LogSettings() {
  static TLogSettings settings;
  return settings;
}

bool LoggingOn() { return LogSettings().On && !LogSettings().Path.empty(); }

void WriteLogRecord(TLogSection section, const std::string& key, const std::string& value) {
  WriteLogRecord(LogSectionName(section), key, value);
}

bool LogKeyExists(TLogSection section, const std::string& key) {
  return LoggingOn() && IniReadString(LogSettings().Path, LogSectionName(section), key, "=") != "=";
}

void WriteLogRecord(const std::string& section, const std::string& key, const std::string& value) {
  if (LoggingOn()) IniWriteString(LogSettings().Path, section, key, value);
}

void AddPluginLogRecord(const TXMLObject* context, const std::string& section,
                        const std::string& record) {
  if (!LoggingOn()) return;
  const std::string line = ExpandText(context, record);
  const size_t equals = line.find('=');
  WriteLogRecord(ExpandText(context, section), line.substr(0, equals),
                 equals == std::string::npos ? "" : line.substr(equals + 1));
}

void WriteUninstallerSettings() {
  if (!LoggingOn()) return;
  WriteLogRecord("Strings", "AppID", Variable("AppID"));
  WriteLogRecord("Display", "Charset", std::to_string(LanguageCharset(Variable("LangID", "ENU"))));
  WriteLogRecord("Display", "DialogTitleFont", Variable("UninstallTitleFont"));
  const std::string languageFile = LanguageFileName();
  if (languageFile.empty()) return;
  std::vector<std::string> sections;
  IniListSections(languageFile, sections);
  const size_t prefixLength = sizeof kLanguagePrefix - 1;
  for (const std::string& section : sections) {
    if (!StartsText(section, kLanguagePrefix)) continue;
    std::vector<std::string> lines;
    IniListValues(languageFile, section, lines);
    // An INI value is one line: breaks become "||", which the uninstaller reads back as breaks.
    for (std::string& line : lines) {
      line = DeleteChar(ReplaceAll(ExpandText(&MainDatabase(), line), "\r", "||"), '\n');
    }
    IniWriteLines(LogSettings().Path, section.substr(prefixLength), lines);
  }
}

bool DeployUninstaller(const std::string& installFolder) {
  return DeployFile("Uninstall.exe", false, installFolder) &&
         DeployFile("gacutil.exe", true, installFolder);
}

void RegisterApplication(const std::string& installFolder) {
  const std::string key = UninstallEntryKey();
  WriteLogRecord(TLogSection::CreateKeys, key);
  WriteEntryValues(key, installFolder);
  if (!GetVariableBool(&MainDatabase(), "DisableRepair", false)) SaveSilentSettings(key);
  InstallActions().WriteLog();
}

void RemoveOldReferences() {
  const std::string& log = LogSettings().Path;
  if (log.empty() || !FileExists(log)) return;
  TInstallActions& actions = InstallActions();
  const TkxFlags unlogged = TkxFlags().Include(TkxFlag::dont_log);
  std::vector<std::string> keys;
  IniListKeys(log, LogSectionName(TLogSection::Shortcuts), keys);
  SortIgnoringCase(keys);
  for (const std::string& link : keys) {
    actions.AddRemoval(link, unlogged);
    actions.AddRemoval(ChangeFileExt(link, ".pif"), unlogged);
  }
  IniListKeys(log, LogSectionName(TLogSection::CreateDirs), keys);
  SortIgnoringCase(keys);
  for (auto folder = keys.rbegin(); folder != keys.rend(); ++folder) {
    const uint32_t attributes = os::GetFileAttributes(*folder);
    if (attributes == os::kInvalidAttributes || (attributes & os::kAttrReparsePoint)) continue;
    os::RemoveDir(*folder);
  }
  IniListKeys(log, LogSectionName(TLogSection::CreateKeys), keys);
  SortIgnoringCase(keys);
  for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
    if (IsUninstallEntry(*key)) RegDeleteKeyPath(*key, true);
  }
}
