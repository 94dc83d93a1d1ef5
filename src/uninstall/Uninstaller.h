// The removal of an installed application from what its install log lists, in the reverse of the
// installation's order: the programs to run first, shortcuts, fonts, INI keys, registry values,
// COM servers (before their files go), assemblies, files, created keys, the silent settings, the
// uninstall entry, the install log, created folders, and the programs to run last. Only what the
// log lists is touched, and a file the user changed after the installation is kept. What cannot
// be removed now (a file in use) is left for the next start of Windows.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "uninstall/InstallLog.h"

struct TUninstallReport {
  std::vector<std::string> KeptChanged;  // files the user changed after the installation
  std::vector<std::string> AtRestart;    // files in use, deleted at the next start of Windows
  std::vector<std::string> Failures;     // what could not be removed, with the reason
  bool Stopped = false;                  // a program before the removal failed: nothing removed
};

class TUninstaller {
 public:
  TUninstaller(std::string logPath, TInstallLogRecords records);

  // The name the uninstall entry shows, else the application ID.
  std::string DisplayName() const;
  // Runs the whole removal; the report says what was kept, deferred or failed.
  TUninstallReport Run();

 private:
  bool RunPrograms(const std::vector<TLoggedProgram>& programs);
  void RemoveShortcuts();
  void RemoveFonts();
  void RemoveIniKeys();
  void RemoveValues();
  void UnregisterServers();
  void RemoveAssemblies();
  void RemoveFiles();
  void RemoveKeys();
  void RemoveEntryAndLog();
  void RemoveFolders();

  bool IsSharedAndStillUsed(const std::string& file);
  bool IsKept(const std::string& file) const;
  bool IsShared(const std::string& file) const;
  void RemoveFile(const std::string& file);
  void Fail(const std::string& what);

  std::string logPath_;
  TInstallLogRecords records_;
  std::set<std::string> installed_;  // the log's files, upper case
  std::set<std::string> shared_;     // its shared files, upper case
  std::set<std::string> kept_;       // the files the user changed, upper case
  std::string entryKey_;             // the uninstall entry, "" when none names this log
  TUninstallReport report_;
};
