#include "engine/Stubs.h"

#include <strings.h>

#include "database/KXClasses.h"
#include "expressions/Common.h"
#include "package/Unpacker.h"
#include "support/Errors.h"
#include "support/RunState.h"
#include "support/zrFileUtils.h"
#include "support/zrIniFile.h"
#include "support/zrUtils.h"

std::string& PreviousLogPath() {
  static std::string path;
  return path;
}

// Stub: no main window yet; message boxes have no owner.
bool CreateMainWindow() { return true; }

void DestroyMainWindow() {}

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
  TkxPackages& packages = *MainDatabase().Packages;
  for (int index = 0; index < packages.Count(); ++index) {
    TkxPackage* item = packages.Items(index);
    if (!item || item->Prepared) continue;
    TkxPackage& package = *item;
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

// Stub: packages carry no plug-ins yet.
bool LoadPlugins(int packageIndex) { return true; }

void UnloadPlugins() {}

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
