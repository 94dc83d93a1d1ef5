// Test stand-ins: the least of the action list, the install log and the installation run that
// file installation calls, until those modules are linked in their place. Each does what its
// header promises for the cases the file tests reach; nothing here is engine code.
#include <atomic>

#include "database/KXClasses.h"
#include "TestSupport.h"
#include "expressions/Common.h"
#include "install/Actions.h"
#include "install/Install.h"
#include "install/Log.h"
#include "plugins/PlugImpl.h"
#include "support/zrFileUtils.h"
#include "support/zrRegIni.h"
#include "support/zrStrUtils.h"

KX_XML_PROPERTIES(TInstallAction, TXMLObject)
KX_XML_PROPERTIES(TInstallFile, TInstallAction)
KX_XML_PROPERTIES(TInstallReg, TInstallAction)
KX_XML_PROPERTIES(TInstallFolder, TInstallAction)
KX_XML_PROPERTIES(TInstallActions, TXMLObjectList)

void TInstallFile::Undo() {}
void TInstallFile::WriteLogRecord() {}
void TInstallReg::Undo() {}
void TInstallReg::WriteLogRecord() {}
void TInstallFolder::Undo() {}
void TInstallFolder::WriteLogRecord() {}

TInstallAction* TInstallActions::Action(int index) const {
  return dynamic_cast<TInstallAction*>(Items(index));
}

TInstallFile* TInstallActions::AddFile(const std::string& path, TkxFlags flags, bool clear) {
  TInstallFile* action = AddAction<TInstallFile>();
  action->FileName = path;
  action->SharedFile = flags.Has(TkxFlag::shared);
  action->Log = !flags.Has(TkxFlag::dont_log);
  if (!FileExists(path)) return action;
  action->Existed = true;
  const std::string backups = WithTrailingBackslash(MainDatabase().TempBackupPath);
  ForceFolders(backups);
  action->BackupFileName = backups + UniqueName(backups, "", ".bak", false);
  if (!CopyFileWithProgress(path, action->BackupFileName, {}, false) || !clear) return action;
  if (DeleteFileForced(path)) return action;
  action->IsPending = true;
  action->PendingFile =
      ExtractFilePath(path) + UniqueName(ExtractFilePath(path), "kx", ".tmp", false);
  WriteFileText(action->PendingFile, "");
  SetVariable(&MainDatabase(), "Reboot", "1");
  return action;
}

TInstallFile* TInstallActions::FindFile(const std::string& path) const {
  for (int index = 0; index < Count(); ++index) {
    auto* file = dynamic_cast<TInstallFile*>(Items(index));
    if (file && SameText(file->FileName, path)) return file;
  }
  return nullptr;
}

bool TInstallActions::CreateFolders(const std::string& folder, bool record) {
  const std::string path = WithoutTrailingBackslash(folder);
  if (FolderExists(path)) return true;
  if (!CreateFolders(ExtractFilePath(path), record)) return false;
  if (os::CreateDir(path) == os::CreateResult::kFailed) return false;
  if (record) AddAction<TInstallFolder>()->Folder = path;
  return true;
}

const TXMLClassInfo* TInstallActions::ItemClass(const std::string&) const { return nullptr; }
std::string TInstallActions::ItemElementName(const TXMLClassInfo&) const { return ""; }

TInstallActions& InstallActions() {
  static TInstallActions* actions = new TInstallActions();
  return *actions;
}

TLogSettings& LogSettings() {
  static TLogSettings settings;
  return settings;
}

bool LoggingOn() { return LogSettings().On && !LogSettings().Path.empty(); }

const char* LogSectionName(TLogSection section) {
  static const char* const kNames[] = {
      "CopyFiles",  "AddReg",   "AddIni",      "Shortcuts", "CreateDirs", "CreateKeys",
      "RegServers", "RegFonts", "SharedFiles", "PreRunApp", "RunApp",     "SharedAssemblies"};
  return kNames[static_cast<int>(section)];
}

void WriteLogRecord(TLogSection section, const std::string& key, const std::string& value) {
  if (LoggingOn()) IniWriteString(LogSettings().Path, LogSectionName(section), key, value);
}

bool LogKeyExists(TLogSection section, const std::string& key) {
  return LoggingOn() && IniReadString(LogSettings().Path, LogSectionName(section), key, "=") != "=";
}

TInstallProgress& InstallProgress() {
  static TInstallProgress progress;
  return progress;
}

void ReportFileProgress(int64_t bytes) {
  InstallProgress().CurrentFileDone += bytes;
  InstallProgress().BytesDone += bytes;
}

bool BeforeProcessItem(TItemList list, const void* record) {
  return Broadcast(EV_BEFOREPROCESSITEM, static_cast<intptr_t>(list) << 16,
                   reinterpret_cast<intptr_t>(record), false) == 0;
}

void AfterProcessItem(TItemList list, const void* record) {
  Broadcast(EV_AFTERPROCESSITEM, static_cast<intptr_t>(list) << 16,
            reinterpret_cast<intptr_t>(record), true);
}
