// Stand-ins for the operations that the driver calls but that other subsystems will provide: the
// package container, the main window, the plug-in host, the launch checks and the installation
// run. Each does the least that lets a run go on and says so in one line; each is replaced, under
// the same name, by the subsystem that owns it. Main thread only.
#pragma once

#include <cstdint>
#include <string>

class TkxPackage;

// Event numbers the driver sends.
enum TDriverEvent : int32_t {
  EV_START = 4,
  EV_FINISH = 5,
  EV_SHOWDIALOGS = 6,
  EV_BEFOREINSTALL = 8,
  EV_AFTERINSTALL = 9,
  EV_BEFOREPROCESSITEMS = 10,
  EV_AFTERPROCESSITEMS = 11,
  EV_QUERYREBOOT = 22,
};

// The install log of the previous run, which repair mode reads to remove old references.
std::string& PreviousLogPath();
bool CreateMainWindow();
void DestroyMainWindow();
bool CheckPackage(TkxPackage& package);
bool PreparePackages();
bool ReadPackageDatabase(TkxPackage& package);
bool LoadProjectDatabase(const TkxPackage& mainPackage);
bool LoadPlugins(int packageIndex);
void UnloadPlugins();
bool RunLaunchChecks();
bool RunApplicationsBeforeDialogs();
bool ResolveChoices();
bool RunInstallation();
void RegisterResume();
void Rollback();
bool HasRecordedActions();
bool LoadRunState(const std::string& folder);
