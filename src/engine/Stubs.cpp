#include "engine/Stubs.h"

#include <strings.h>

#include "package/Unpacker.h"
#include "support/Errors.h"
#include "support/RunState.h"
#include "support/zrFileUtils.h"
#include "support/zrIniFile.h"
#include "support/zrUtils.h"

bool TextLessNoCase::operator()(const std::string& a, const std::string& b) const {
  return strcasecmp(a.c_str(), b.c_str()) < 0;
}

TkxMainDatabase& MainDatabase() {
  static TkxMainDatabase database;
  return database;
}

void ResetMainDatabase() { MainDatabase() = TkxMainDatabase(); }

std::string GetVariable(const std::string& name, const std::string& defaultValue) {
  const auto& variables = MainDatabase().Variables;
  auto found = variables.find(name);
  return found == variables.end() ? defaultValue : found->second;
}

void SetVariable(const std::string& name, const std::string& value) {
  MainDatabase().Variables[name] = value;
}

int GetVariableInt(const std::string& name, int defaultValue) {
  std::string text = GetVariable(name, "");
  if (text.empty()) return defaultValue;
  try {
    return std::stoi(text);
  } catch (...) {
    return defaultValue;
  }
}

bool GetVariableBool(const std::string& name, bool defaultValue) {
  return GetVariableInt(name, defaultValue ? 1 : 0) != 0;
}

// Stub: no plug-ins are loaded yet, so nobody answers.
int32_t Broadcast(int event, intptr_t first, intptr_t second, bool toAll) { return 0; }

// Stub: there is no XML reader yet.
void SetXMLKeepValueSpaces(bool keep) {}

// Stub: locales are not enumerated yet.
std::vector<TLocale> InstalledLocales() { return {}; }

std::string LanguageNameFromFile(const std::string& fileName, const std::string& defaultName) {
  if (!FileExists(fileName)) return defaultName;
  const TIniDefaults& defaults = IniDefaults();
  TzrIniFile file(fileName, true, defaults.SkipComments, defaults.SkipNoEquals, defaults.TrimEquals,
                  defaults.Unquote);
  return file.ReadString("Strings", "LanguageName", defaultName);
}

// Stub: no run is ever suspended yet, so none resumes before its dialogs.
bool ResumedBeforeDialogs() { return false; }

void ClearInstallStateData() {}

// Stub: there is no feature tree yet.
void SelectSilentFeatures() {}

// Stub: %Name% references are not expanded yet.
std::string ExpandText(const std::string& text) { return text; }

std::string& PreviousLogPath() {
  static std::string path;
  return path;
}

// Stub: conditions are not evaluated yet; every object counts as wanted.
void SetConditionsEnabled(bool enabled) {}

// Stub: no main window yet; message boxes have no owner.
bool CreateMainWindow() { return true; }

void DestroyMainWindow() {}

// Stub: silent settings are not read yet; the run behaves as if the file were missing.
void LoadSilentSettings(const std::string& fileName) {}

// Stub: no silent settings, so there is nothing to apply.
void ApplySilentVariables() {}

// Stub: only the silent switch is known of the runtime variables.
void InitRuntimeVariables() {
  if (SwitchPresent("s") && GetVariable("SilentMode", "").empty()) SetVariable("SilentMode", "1");
}

// Stub: the trailer is not verified yet; the package only gets its names.
bool CheckPackage(TkxPackage& package) {
  std::string name = package.FullFileName.substr(package.FullFileName.find_last_of('\\') + 1);
  package.FileName = name.substr(0, name.find_last_of('.'));
  package.TempPath = RunState().SetupTempPath + package.FileName + "\\";
  return true;
}

// Stub: extracts the presetup files (everything before the first "data\" entry) without the
// presetup window and the free-space test.
bool PreparePackages() {
  for (TkxPackage& package : MainDatabase().Packages) {
    if (package.Prepared) continue;
    if (!ForceFolders(package.TempPath)) return false;
    TUnpacker unpacker(RunState().SetupTempPath + "unpack.dll", package.FullFileName);
    bool extracted = unpacker.Extract([&](const TUnpackEntry& entry, std::string& target) {
      if (strncasecmp(entry.Name.c_str(), "data\\", 5) == 0) return -1;
      if (!IsSafeEntryName(entry.Name)) throw KxError("Unsafe entry name " + entry.Name);
      target = package.TempPath + entry.Name;
      if (!ForceFolders(target.substr(0, target.find_last_of('\\')))) throw KxError(target);
      return 1;
    });
    if (!extracted) return false;
    package.Prepared = true;
  }
  return true;
}

// Stub: package databases cannot be read before deciphering exists; the run cannot go on.
bool ReadPackageDatabase(TkxPackage& package) {
  ShowErrorBox(Format("Can't read the database of package \"%s\": not supported yet.",
                      package.FileName.c_str()));
  return false;
}

// Stub: see ReadPackageDatabase.
bool LoadProjectDatabase(const TkxPackage& mainPackage) { return false; }

// Stub: locales are not enumerated yet.
std::string UserLanguageAbbreviation() { return ""; }

// Stub: the language files are not read yet; only the choice is recorded.
void SetLanguage(const std::string& abbreviation) {
  SetVariable("LangID", abbreviation);
  MessageBoxSettings().applicationName = GetVariable("AppName", "Application");
  Broadcast(EV_LANGUAGECHANGED, 0, 0, true);
}

// Stub: packages carry no plug-ins yet.
bool LoadPlugins(int packageIndex) { return true; }

void UnloadPlugins() {}

// Stub: there are no install types or features yet.
void PreselectInstallType() {}

// Stub: no launch checks yet; every system passes.
bool RunLaunchChecks() { return true; }

// Stub: components carry no applications yet.
bool RunApplicationsBeforeDialogs() { return true; }

// Stub: no components yet, so there is nothing to resolve.
bool ResolveChoices() { return true; }

// Stub: nothing can be installed yet; a run that got here must not report success.
bool RunInstallation() {
  ShowErrorBox("The installation run is not supported yet.");
  return false;
}

// Stub: no run is ever suspended yet.
void RegisterResume() {}

// Stub: no action is recorded yet, so there is nothing to undo.
void Rollback() {}

bool HasRecordedActions() { return false; }

// Stub: a suspended run cannot be saved yet, so none can be loaded.
bool LoadRunState(const std::string& folder) { return false; }
