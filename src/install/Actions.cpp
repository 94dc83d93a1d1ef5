#include "install/Actions.h"

#include <exception>

#include "expressions/Common.h"
#include "install/Log.h"
#include "os/os.h"
#include "support/DiagnosticLog.h"
#include "support/Errors.h"
#include "support/WinVersion.h"
#include "support/zrFileUtils.h"
#include "support/zrRegIni.h"
#include "support/zrShell.h"
#include "support/zrStrUtils.h"
#include "support/zrUtils.h"

// clang-format off

KX_XML_PROPERTIES(TInstallAction, TXMLObject,
    Prop("Log", &TInstallAction::Log),
    Prop("Existed", &TInstallAction::Existed))

// PendingFile is bound so that a font's hand-over record is still known as one after a resumed
// run loads the list; IsPending is not, since the pending moves are scheduled before a reboot.
KX_XML_PROPERTIES(TInstallFile, TInstallAction,
    Prop("FileName", &TInstallFile::FileName),
    Prop("BackupFileName", &TInstallFile::BackupFileName),
    Prop("FontName", &TInstallFile::FontName),
    Prop("IsServer", &TInstallFile::IsServer),
    Prop("IsFont", &TInstallFile::IsFont),
    Prop("SharedFile", &TInstallFile::SharedFile),
    Prop("PendingFile", &TInstallFile::PendingFile),
    Prop("Removed", &TInstallFile::Removed),
    Prop("ServerRegistered", &TInstallFile::ServerRegistered))

KX_XML_PROPERTIES(TInstallReg, TInstallAction,
    Prop("Key", &TInstallReg::Key),
    Prop("Param", &TInstallReg::Param),
    Prop("OldType", &TInstallReg::OldType),
    Prop("OldValue", &TInstallReg::OldValue))

KX_XML_PROPERTIES(TInstallIni, TInstallAction,
    Prop("IniFile", &TInstallIni::IniFile),
    Prop("Section", &TInstallIni::Section),
    Prop("Param", &TInstallIni::Param),
    Prop("OldValue", &TInstallIni::OldValue))

KX_XML_PROPERTIES(TInstallShortcut, TInstallAction,
    Prop("LinkFile", &TInstallShortcut::LinkFile))

KX_XML_PROPERTIES(TInstallFolder, TInstallAction,
    Prop("Folder", &TInstallFolder::Folder))

KX_XML_PROPERTIES(TInstallRegKey, TInstallAction,
    Prop("Key", &TInstallRegKey::Key))

KX_XML_PROPERTIES(TInstallActions, TXMLObjectList)

// clang-format on

namespace {

// The element names of the saved list. A resumed run must be able to undo everything the run
// did before the reboot, created keys included.
struct TActionElement {
  const char* Name;
  const TXMLClassInfo& (*Class)();
};
const TActionElement kActionElements[] = {
    {"file", &TInstallFile::StaticClassInfo},     {"reg", &TInstallReg::StaticClassInfo},
    {"ini", &TInstallIni::StaticClassInfo},       {"shortcut", &TInstallShortcut::StaticClassInfo},
    {"folder", &TInstallFolder::StaticClassInfo}, {"regkey", &TInstallRegKey::StaticClassInfo},
};

const char* RootName(os::RegRoot root) {
  switch (root) {
    case os::RegRoot::kClassesRoot:
      return "HKCR";
    case os::RegRoot::kLocalMachine:
      return "HKLM";
    case os::RegRoot::kUsers:
      return "HKU";
    case os::RegRoot::kCurrentUser:
    default:
      return "HKCU";
  }
}

// Copies path into the backup folder; the backup's path, "" when it could not be made (a partial
// copy is removed).
std::string BackUp(const std::string& path) {
  const std::string folder = MainDatabase().TempBackupPath;
  // Without the run's backup folder the copy would land in the current folder.
  if (folder.empty()) return "";
  std::string backup;
  try {
    backup = WithTrailingBackslash(folder) + UniqueName(folder, "", "", false);
  } catch (const KxError&) {
    return "";
  }
  if (CopyFileWithProgress(path, backup, nullptr, false)) return backup;
  DeleteFileForced(backup);
  return "";
}

// Deletes path, keeping its attributes when it stays (a file in use keeps being read-only).
bool DeleteKeepingAttributes(const std::string& path) {
  const uint32_t attributes = os::GetFileAttributes(path);
  if (DeleteFileForced(path)) return true;
  if (attributes != os::kInvalidAttributes) os::SetFileAttributes(path, attributes);
  return false;
}

// Undoes one action; rollback goes on whatever an undo raises.
void UndoSafely(TInstallAction& action) noexcept {
  try {
    action.Undo();
  } catch (const std::exception& error) {
    try {
      ShowErrorBox(error.what());
    } catch (...) {
    }
  } catch (...) {
  }
}

// A font handed over to the font phase: its contents wait in the run's font folder. Its target
// and any registration of that name are not the run's to remove: a font the phase installed has
// a record of its own (with the backup of a replaced file), undone before this one.
bool IsFontHandOver(const TInstallFile& file) {
  const std::string& fonts = MainDatabase().TempFontsPath;
  return file.IsFont && !fonts.empty() && StartsText(file.PendingFile, fonts);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The actions

void TInstallFile::Undo() {
  if (IsFontHandOver(*this)) {
    DeleteFileForced(PendingFile);
    return;
  }
  if (IsPending) {
    if (!PendingFile.empty()) DeleteFileForced(PendingFile);
    // The old server stays where it was, but clearing the way unregistered it.
    if (IsServer) RegisterServer(FileName);
  } else {
    if (IsServer && ServerRegistered) UnregisterServer(FileName);
    if (IsFont && !Existed) {
      os::UnloadFontResource(FileName);
      if (!FontName.empty()) RegDeleteValue(FontsKey(), FontName);
      os::NotifyFontChange();
    }
    if (!FileName.empty() && os::GetFileAttributes(FileName) != os::kInvalidAttributes &&
        !DeleteFileForced(FileName)) {
      ShowErrorBox("Cannot delete " + FileName);
    }
    if (Existed && !BackupFileName.empty()) {
      ForceFolders(ExtractFilePath(FileName));
      if (!CopyFileWithProgress(BackupFileName, FileName, nullptr, false)) {
        ShowErrorBox(
            Format("Cannot copy \"%s\" to \"%s\"", BackupFileName.c_str(), FileName.c_str()));
      } else if (IsServer) {
        RegisterServer(FileName);
      }
    }
  }
  if (!BackupFileName.empty()) DeleteFileForced(BackupFileName);
}

namespace {

// The uninstaller keeps a file whose write time moved on since: the user changed it.
void RecordFileTime(const std::string& file) {
  const int64_t written = FileTime(file);
  if (written != 0) ::WriteLogRecord("FileTimes", file, std::to_string(written));
}

}  // namespace

void TInstallFile::WriteLogRecord() {
  ::WriteLogRecord(TLogSection::CopyFiles, FileName);
  RecordFileTime(FileName);
  if (IsFont && !FontName.empty()) ::WriteLogRecord(TLogSection::RegFonts, FontName, FileName);
  if (IsServer) ::WriteLogRecord(TLogSection::RegServers, FileName);
}

void TInstallFile::MarkRemoved() {
  Removed = true;
  if (!IsPending || PendingFile.empty()) return;
  DeleteFileForced(PendingFile);
  PendingFile.clear();
}

void TInstallReg::Undo() {
  RegDeleteValue(Key, Param);
  if (!Existed) return;
  // The general writer stores both string types as plain strings; an expandable one (a PATH)
  // would come back unexpandable.
  if (OldType == os::kRegExpandString) {
    RegWrite(Key, Param, os::kRegExpandString, OldValue.c_str(), OldValue.size() + 1);
  } else {
    RegWriteByType(Key, Param, static_cast<uint32_t>(OldType), OldValue);
  }
}

void TInstallReg::WriteLogRecord() {
  ::WriteLogRecord(TLogSection::AddReg,
                   Format("%s'%s'", WithTrailingBackslash(Key).c_str(), Param.c_str()));
}

void TInstallIni::Undo() {}

void TInstallIni::WriteLogRecord() {
  ::WriteLogRecord(TLogSection::AddIni,
                   Format("'%s','%s','%s'", IniFile.c_str(), Section.c_str(), Param.c_str()));
}

void TInstallShortcut::Undo() {}

void TInstallShortcut::WriteLogRecord() { ::WriteLogRecord(TLogSection::Shortcuts, LinkFile); }

void TInstallFolder::Undo() { os::RemoveDir(Folder); }

void TInstallFolder::WriteLogRecord() { ::WriteLogRecord(TLogSection::CreateDirs, Folder); }

void TInstallRegKey::Undo() { RegDeleteKeyPath(Key, false); }

void TInstallRegKey::WriteLogRecord() { ::WriteLogRecord(TLogSection::CreateKeys, Key); }

// ---------------------------------------------------------------------------------------------
// The list

TInstallAction* TInstallActions::Action(int index) const {
  return dynamic_cast<TInstallAction*>(Items(index));
}

TInstallFile* TInstallActions::AddFile(const std::string& path, TkxFlags flags, bool clear) {
  TInstallFile* file = AddAction<TInstallFile>();
  file->FileName = path;
  file->IsServer = flags.Has(TkxFlag::reg_server);
  file->IsFont = flags.Has(TkxFlag::reg_font);
  file->SharedFile = flags.Has(TkxFlag::shared);
  file->Log = !flags.Has(TkxFlag::dont_log);
  if (!FileExists(path)) return file;
  file->Existed = true;
  file->BackupFileName = BackUp(path);
  // Without a backup the old file could never come back: it must stay as it is, and the
  // caller must not overwrite it.
  if (file->BackupFileName.empty()) {
    Remove(file);
    ShowErrorBox(Format("Cannot copy \"%s\" to \"%s\"", path.c_str(),
                        MainDatabase().TempBackupPath.c_str()));
    return nullptr;
  }
  if (!clear) return file;
  if (file->IsServer) UnregisterServer(path);
  if (file->IsFont) {
    os::UnloadFontResource(path);
    os::NotifyFontChange();
  }
  if (DeleteKeepingAttributes(path)) return file;
  file->IsPending = true;
  file->PendingFile = os::CreateTempFile(ExtractFilePath(path), "kx");
  if (file->PendingFile.empty()) {
    // Nowhere to put the new contents: the old file stays, and so does its registration.
    const std::string message = "Cannot delete " + path;
    if (file->IsServer) RegisterServer(path);
    DeleteFileForced(file->BackupFileName);
    Remove(file);
    ShowErrorBox(message);
    return nullptr;
  }
  SetVariable(&MainDatabase(), "Reboot", "1");
  return file;
}

TInstallFile* TInstallActions::AddRemoval(const std::string& path, TkxFlags flags) {
  TInstallFile* removal = AddFile(path, flags, true);
  if (removal) removal->MarkRemoved();
  return removal;
}

TInstallReg* TInstallActions::AddRegValue(const std::string& key, const std::string& name) {
  auto* action = AddAction<TInstallReg>();
  action->Key = key;
  action->Param = name;
  if (RegValueExists(key, name)) {
    action->Existed = true;
    action->OldType = static_cast<int32_t>(RegValueType(key, name));
    action->OldValue = RegReadText(key, name, "");
  }
  return action;
}

TInstallFile* TInstallActions::FindFile(const std::string& path) const {
  for (int i = 0; i < Count(); ++i) {
    auto* file = dynamic_cast<TInstallFile*>(Items(i));
    if (file && SameText(file->FileName, path)) return file;
  }
  return nullptr;
}

bool TInstallActions::CreateFolders(const std::string& folder, bool record) {
  const std::string target = WithoutTrailingBackslash(folder);
  // Most files go into a folder that an earlier file made: one test instead of one per parent.
  if (FolderExists(target)) return true;
  // The drive ("C:") or the share ("\\server\share") is where the chain starts.
  size_t next = target.find('\\', 0);
  if (target.rfind("\\\\", 0) == 0) next = target.find('\\', target.find('\\', 2) + 1);
  while (next != std::string::npos) {
    next = target.find('\\', next + 1);
    const std::string part = target.substr(0, next);
    if (FolderExists(part)) continue;
    const os::CreateResult result = os::CreateDir(part);
    if (result == os::CreateResult::kFailed) return false;
    if (result == os::CreateResult::kCreated && record) {
      AddAction<TInstallFolder>()->Folder = part;
    }
  }
  return FolderExists(target);
}

bool TInstallActions::CreateRegKeys(const std::string& key, bool record) {
  os::RegRoot root;
  std::string subkey;
  SplitKeyPath(WithoutTrailingBackslash(key), root, subkey);
  if (subkey.empty()) return false;
  const std::string rootName = RootName(root);
  size_t end = 0;
  while (end != std::string::npos) {
    end = subkey.find('\\', end + 1);
    const std::string part = subkey.substr(0, end);
    const std::string path = rootName + "\\" + part;
    if (RegKeyExists(path)) continue;
    if (!os::RegKey::Create(root, part).IsOpen()) return false;
    if (record) AddAction<TInstallRegKey>()->Key = path;
  }
  return RegKeyExists(rootName + "\\" + subkey);
}

// The last action first: a file replaced twice comes back in its first state, and folders and
// keys are emptied of what the run put in them before they are removed.
namespace {

// One action as the diagnostic log shows it: its kind, what it changed, and how.
std::string Described(const TInstallAction& action) {
  std::string kind = action.ClassInfo().Name().substr(std::string("TInstall").size());
  std::string text = kind + " " + action.Target();
  if (action.Existed) text += " (was there before)";
  if (!action.Log) text += " (not for the uninstaller)";
  if (const auto* file = dynamic_cast<const TInstallFile*>(&action); file && file->IsPending) {
    text += " (at the next start of the system)";
  }
  return text;
}

}  // namespace

void TInstallActions::Rollback() {
  if (diag::IsOpen()) diag::Linef("rollback of %d actions, the last first", Count());
  while (Count() > 0) {
    const int last = Count() - 1;
    if (TInstallAction* action = Action(last)) {
      if (diag::IsOpen()) diag::Line("undo " + Described(*action));
      UndoSafely(*action);
    }
    Delete(last);
  }
}

void TInstallActions::LogRecords() const {
  if (!diag::IsOpen()) return;
  diag::Linef("recorded actions: %d", Count());
  for (int i = 0; i < Count(); ++i) {
    if (const TInstallAction* action = Action(i)) diag::Line("  " + Described(*action));
  }
}

void TInstallActions::WriteLog() {
  for (int i = 0; i < Count(); ++i) {
    TInstallAction* action = Action(i);
    if (action && action->Log && !action->Existed) action->WriteLogRecord();
    // A file of an earlier installation into the same folder that this run wrote again (a
    // repair) gets its new time, or the uninstaller would take it for one the user changed.
    auto* file = dynamic_cast<TInstallFile*>(action);
    if (file && file->Log && file->Existed &&
        LogKeyExists(TLogSection::CopyFiles, file->FileName)) {
      RecordFileTime(file->FileName);
    }
  }
}

void TInstallActions::ApplyPendingFiles() {
  for (int i = 0; i < Count(); ++i) {
    auto* file = dynamic_cast<TInstallFile*>(Items(i));
    if (!file || !file->IsPending) continue;
    if (file->PendingFile.empty()) {
      DeleteAtReboot(file->FileName);
    } else {
      ReplaceAtReboot(file->PendingFile, file->FileName);
    }
  }
}

const TXMLClassInfo* TInstallActions::ItemClass(const std::string& elementName) const {
  for (const TActionElement& element : kActionElements) {
    if (SameText(elementName, element.Name)) return &element.Class();
  }
  return nullptr;
}

std::string TInstallActions::ItemElementName(const TXMLClassInfo& itemClass) const {
  for (const TActionElement& element : kActionElements) {
    if (&itemClass == &element.Class()) return element.Name;
  }
  return "";
}

TInstallActions& InstallActions() {
  static TInstallActions* actions = new TInstallActions();
  return *actions;
}
