// Log: the install log, the INI-format file from which the uninstaller removes the application,
// and what else the uninstaller and the system's list of programs need: the uninstaller's
// language settings, the deployment of "Uninstall.exe", the uninstall entry, the silent-settings
// file for repair, and the removal of a previous installation's references.
//
// The log is written through the INI-by-name cache only while logging is on (the project's
// "Uninstall" is true and the log path is not empty); otherwise every helper does nothing and a
// key reads as absent. Main thread, except the shared-file records that the worker writes while
// the main thread only dispatches.
#pragma once

#include <string>

class TXMLObject;

// The twelve sections, by the codes the engine uses for them.
enum class TLogSection {
  CopyFiles,
  AddReg,
  AddIni,
  Shortcuts,
  CreateDirs,
  CreateKeys,
  RegServers,
  RegFonts,
  SharedFiles,
  PreRunApp,
  RunApp,
  SharedAssemblies
};
const char* LogSectionName(TLogSection section);

// Where the log goes and whether it is written; set by the installation run at its start.
struct TLogSettings {
  std::string Path;  // full path of the install log
  bool On = false;   // "Uninstall" is true (the path is tested by LoggingOn)
};
TLogSettings& LogSettings();
bool LoggingOn();

// The first package's temporary folder with a trailing backslash, "" before it exists: where the
// uninstaller and "gacutil.exe" come from.
std::string FirstPackageFolder();

void WriteLogRecord(TLogSection section, const std::string& key, const std::string& value = "");
// A key whose read with the default "=" gives back "=" is absent.
bool LogKeyExists(TLogSection section, const std::string& key);
void WriteLogRecord(const std::string& section, const std::string& key, const std::string& value);

// CM_ADDLOGRECORD: section and a "name=value" record, both expanded in context (the sender's
// database), split at the first "=" (no "=": the whole record is the key, the value empty).
void AddPluginLogRecord(const TXMLObject* context, const std::string& section,
                        const std::string& record);

// The uninstaller's settings: Strings/AppID, Display/Charset and DialogTitleFont, and every
// "Uninstall." section of the engine's language file, expanded.
void WriteUninstallerSettings();
// Copies "Uninstall.exe" (not logged) and then "gacutil.exe" (logged) from the first package's
// temporary folder into installFolder, recording both (the folders first, so that a rollback
// removes them after the files); a file missing from the package is passed over. False after
// the error box.
bool DeployUninstaller(const std::string& installFolder);
// The uninstall entry under HKLM (HKCU without the rights), the silent settings unless
// "DisableRepair", then the log records of every action. The entry's keys and values are
// recorded too, unlogged, so that a run failing after it removes the entry. An empty "AppID"
// counts as "App": the entry must never be the uninstall key itself.
void RegisterApplication(const std::string& installFolder);
// Reads the previous install log at the log path: backs up and deletes its shortcuts, removes
// its empty folders (links are left alone), deletes its uninstall entries (only keys below the
// uninstall key, never that key itself).
void RemoveOldReferences();
