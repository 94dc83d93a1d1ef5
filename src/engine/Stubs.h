// Stand-ins for the operations and objects that the driver calls but that other subsystems will
// provide: the project database, its variables and packages, the plug-in host, the language
// set-up, the launch checks and the installation run. Each does the least that lets a run go on
// and says so in one line; each is replaced, under the same name, by the subsystem that owns it.
// Main thread only.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "support/zrStrUtils.h"

struct TkxPackage {
  std::string FullFileName;
  std::string FileName;
  std::string TempPath;
  uint32_t PresetupSize = 0;
  uint32_t DataSize = 0;
  bool Needed = false;
  bool Prepared = false;
};

struct TextLessNoCase {
  bool operator()(const std::string& a, const std::string& b) const;
};

struct TkxMainDatabase {
  std::string TempFontsPath;
  std::string TempGACPath;
  std::string TempBackupPath;
  bool RebootOnFinish = false;
  std::vector<TkxPackage> Packages;
  std::map<std::string, std::string, TextLessNoCase> Variables;
};

TkxMainDatabase& MainDatabase();
void ResetMainDatabase();

std::string GetVariable(const std::string& name, const std::string& defaultValue);
void SetVariable(const std::string& name, const std::string& value);
int GetVariableInt(const std::string& name, int defaultValue);
bool GetVariableBool(const std::string& name, bool defaultValue);

// Event numbers the driver sends.
enum TEvent : int {
  EV_START = 4,
  EV_FINISH = 5,
  EV_SHOWDIALOGS = 6,
  EV_LANGUAGECHANGED = 7,
  EV_BEFOREINSTALL = 8,
  EV_AFTERINSTALL = 9,
  EV_BEFOREPROCESSITEMS = 10,
  EV_AFTERPROCESSITEMS = 11,
  EV_QUERYREBOOT = 22,
};

int32_t Broadcast(int event, intptr_t first, intptr_t second, bool toAll);

void SetXMLKeepValueSpaces(bool keep);
struct TLocale {
  std::string Abbreviation;
  std::string Name;
};
std::vector<TLocale> InstalledLocales();
std::string LanguageNameFromFile(const std::string& fileName, const std::string& defaultName);
bool ResumedBeforeDialogs();
void ClearInstallStateData();
void SelectSilentFeatures();
std::string ExpandText(const std::string& text);
// The install log of the previous run, which repair mode reads to remove old references.
std::string& PreviousLogPath();
void SetConditionsEnabled(bool enabled);
bool CreateMainWindow();
void DestroyMainWindow();
void LoadSilentSettings(const std::string& fileName);
void ApplySilentVariables();
void InitRuntimeVariables();
bool CheckPackage(TkxPackage& package);
bool PreparePackages();
bool ReadPackageDatabase(TkxPackage& package);
bool LoadProjectDatabase(const TkxPackage& mainPackage);
std::string UserLanguageAbbreviation();
void SetLanguage(const std::string& abbreviation);
bool LoadPlugins(int packageIndex);
void UnloadPlugins();
void PreselectInstallType();
bool RunLaunchChecks();
bool RunApplicationsBeforeDialogs();
bool ResolveChoices();
bool RunInstallation();
void RegisterResume();
void Rollback();
bool HasRecordedActions();
bool LoadRunState(const std::string& folder);
