#include "uninstall/Uninstaller.h"

#include <algorithm>
#include <set>

#include "os/os.h"
#include "support/DiagnosticLog.h"
#include "support/Errors.h"
#include "support/zrFileUtils.h"
#include "support/zrRegIni.h"
#include "support/zrShell.h"
#include "support/zrStrUtils.h"

namespace {

constexpr char kUninstallKey[] = "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

// The show commands of the system's process start, from the record's show code.
int ShowCommand(int code) {
  switch (code) {
    case 0:
      return 0;  // hidden
    case 2:
      return 3;  // maximized
    case 3:
      return 7;  // minimized, not activated
    default:
      return 1;
  }
}

// Subfolders before their folders, subkeys before their keys.
std::vector<std::string> ReverseSorted(std::vector<std::string> list) {
  SortIgnoringCase(list);
  std::reverse(list.begin(), list.end());
  return list;
}

// Paths as Windows compares them, for the lookups of every file.
std::set<std::string> UpperCaseSet(const std::vector<std::string>& list) {
  std::set<std::string> set;
  for (const std::string& entry : list) set.insert(UpperCaseText(entry));
  return set;
}

bool Exists(const std::string& path) {
  return os::GetFileAttributes(path) != os::kInvalidAttributes;
}

// The uninstall entry of the application whose UninstallString names this log: under HKLM, else
// under HKCU. Another installation of the same application ID (in another folder) keeps its own.
std::string FindEntry(const std::string& appID, const std::string& logPath) {
  for (const char* root : {"HKLM", "HKCU"}) {
    const std::string key = Format("%s%s%s", root, kUninstallKey, appID.c_str());
    const std::string command = UpperCaseText(RegReadText(key, "UninstallString", ""));
    if (command.find(UpperCaseText(logPath)) != std::string::npos) return key;
  }
  return "";
}

}  // namespace

TUninstaller::TUninstaller(std::string logPath, TInstallLogRecords records)
    : logPath_(std::move(logPath)),
      records_(std::move(records)),
      installed_(UpperCaseSet(records_.Files)),
      shared_(UpperCaseSet(records_.SharedFiles)) {
  entryKey_ = FindEntry(records_.AppID, logPath_);
}

bool TUninstaller::IsKept(const std::string& file) const {
  return kept_.count(UpperCaseText(file)) != 0;
}

bool TUninstaller::IsShared(const std::string& file) const {
  return shared_.count(UpperCaseText(file)) != 0;
}

std::string TUninstaller::DisplayName() const {
  const std::string name = entryKey_.empty() ? "" : RegReadText(entryKey_, "DisplayName", "");
  return name.empty() ? records_.AppID : name;
}

void TUninstaller::Fail(const std::string& what) {
  diag::Line("failed: " + what);
  diag::RecentFailures();
  report_.Failures.push_back(what);
}

TUninstallReport TUninstaller::Run() {
  {
    diag::Phase phase("programs before the removal");
    if (!phase.Ended(RunPrograms(records_.ProgramsBefore))) {
      report_.Stopped = true;
      return report_;
    }
  }
  // Whether each file stays is decided before anything changes: removing an INI file's keys
  // would otherwise make it look changed by the user.
  for (const std::string& file : records_.Files) {
    const int64_t recorded = records_.RecordedTime(file);
    if (recorded != 0 && FileTime(file) > recorded) {
      report_.KeptChanged.push_back(file);
      kept_.insert(UpperCaseText(file));
    }
  }
  RemoveShortcuts();
  RemoveFonts();
  RemoveIniKeys();
  RemoveValues();
  UnregisterServers();
  RemoveAssemblies();
  RemoveFiles();
  RemoveKeys();
  RemoveEntryAndLog();
  RemoveFolders();
  diag::Phase phase("programs after the removal");
  phase.Ended(RunPrograms(records_.ProgramsAfter));
  return report_;
}

bool TUninstaller::RunPrograms(const std::vector<TLoggedProgram>& programs) {
  for (const TLoggedProgram& program : programs) {
    const int show = ShowCommand(program.ShowCode);
    int code = 0;
    diag::Line("run " + program.CommandLine + " " + program.Arguments);
    if (program.Wait) {
      code =
          RunAndWait(nullptr, program.CommandLine, program.Arguments, show, program.WorkingFolder);
    } else {
      bool started = false;
      os::ShellExecute(nullptr, program.CommandLine, program.Arguments, program.WorkingFolder, show,
                       started);
      code = started ? 0 : -1;
    }
    diag::Linef("exit code %d", code);
    if (code == -1 || (program.CheckExitCode && code != 0)) {
      Fail(Format("The program \"%s\" failed (exit code %d).", program.CommandLine.c_str(), code));
      if (program.CheckExitCode) return false;
    }
  }
  return true;
}

void TUninstaller::RemoveShortcuts() {
  diag::Phase phase("shortcuts");
  for (const std::string& link : records_.Shortcuts) {
    for (const std::string& file : {link, ChangeFileExt(link, ".pif")}) {
      if (Exists(file) && !DeleteFileForced(file)) Fail("Cannot delete " + file);
    }
  }
  phase.Ended(true);
}

void TUninstaller::RemoveFonts() {
  diag::Phase phase("fonts");
  for (const TLoggedFont& font : records_.Fonts) {
    if (IsKept(font.File)) continue;
    os::UnloadFontResource(font.File);
    if (RegValueExists(FontsKey(), font.Name) && !RegDeleteValue(FontsKey(), font.Name)) {
      Fail("Cannot remove the font " + font.Name);
    }
  }
  if (!records_.Fonts.empty()) os::NotifyFontChange();
  phase.Ended(true);
}

void TUninstaller::RemoveIniKeys() {
  diag::Phase phase("INI values");
  std::set<std::string> edited;
  for (const TLoggedIniKey& key : records_.IniKeys) {
    // A file the installation made goes as a whole, unless the user changed it since.
    const bool goesWhole = installed_.count(UpperCaseText(key.File)) != 0 && !IsKept(key.File);
    if (goesWhole || !FileExists(key.File)) continue;
    IniDeleteKey(key.File, key.Section, key.Key);
    edited.insert(key.File);
  }
  for (const std::string& file : edited) IniClose(file);
  phase.Ended(true);
}

void TUninstaller::RemoveValues() {
  diag::Phase phase("registry values and environment variables");
  bool environment = false;
  for (const TLoggedValue& value : records_.Values) {
    if (!RegValueExists(value.Key, value.Name)) continue;
    if (!RegDeleteValue(value.Key, value.Name)) {
      Fail(Format("Cannot delete the value \"%s\" of %s", value.Name.c_str(), value.Key.c_str()));
    }
    environment |= SameText(value.Key, kUserEnvironmentKey);
  }
  if (environment) os::NotifyEnvironmentChange();
  phase.Ended(true);
}

bool TUninstaller::IsSharedAndStillUsed(const std::string& file) {
  const uint32_t count = RegReadNumber(kSharedDllsKey, file, 0);
  if (count > 1) {
    RegWriteNumber(kSharedDllsKey, file, count - 1);
    diag::Linef("%s: still used by %u installations", file.c_str(), count - 1);
    return true;
  }
  RegDeleteValue(kSharedDllsKey, file);
  return false;
}

void TUninstaller::UnregisterServers() {
  diag::Phase phase("COM servers");
  for (const std::string& server : records_.Servers) {
    if (IsKept(server) || !FileExists(server)) continue;
    // A shared server that another installation still counts stays registered.
    if (IsShared(server) && RegReadNumber(kSharedDllsKey, server, 0) > 1) {
      continue;
    }
    if (!UnregisterServer(server)) Fail("Cannot unregister " + server);
  }
  phase.Ended(true);
}

void TUninstaller::RemoveAssemblies() {
  diag::Phase phase("shared assemblies");
  const std::string gacutil = ExtractFilePath(os::ModuleFileName()) + "gacutil.exe";
  for (const std::string& assembly : records_.Assemblies) {
    if (RunAndWait(nullptr, gacutil, "/ur " + assembly, 0, "") != 0) {
      Fail("Cannot remove the assembly " + assembly);
    }
  }
  phase.Ended(true);
}

void TUninstaller::RemoveFile(const std::string& file) {
  if (DeleteFileForced(file)) return;
  if (os::MoveFileAtReboot(file, "")) {
    diag::Line(file + ": in use, deleted at the next start of Windows");
    report_.AtRestart.push_back(file);
  } else {
    Fail("Cannot delete " + file);
  }
}

void TUninstaller::RemoveFiles() {
  diag::Phase phase("files");
  for (const std::string& file : records_.Files) {
    if (IsShared(file)) continue;  // counted below
    if (IsKept(file)) {
      diag::Line(file + ": changed since the installation, kept");
    } else if (Exists(file)) {
      RemoveFile(file);
    }
  }
  // A shared file loses this installation's count; it goes with the last one. (One that was
  // there before the installation counted at least twice.)
  for (const std::string& file : records_.SharedFiles) {
    if (IsSharedAndStillUsed(file) || !Exists(file)) continue;
    if (IsKept(file)) {
      diag::Line(file + ": changed since the installation, kept");
    } else {
      RemoveFile(file);
    }
  }
  phase.Ended(true);
}

void TUninstaller::RemoveKeys() {
  diag::Phase phase("registry keys");
  for (const std::string& key : ReverseSorted(records_.Keys)) {
    if (SameText(key, entryKey_) || !RegKeyExists(key)) continue;
    std::vector<std::string> inside;
    RegListValues(key, inside);
    if (!inside.empty()) continue;
    RegListSubkeys(key, inside);
    if (inside.empty() && !RegDeleteKeyPath(key, false)) Fail("Cannot delete the key " + key);
  }
  phase.Ended(true);
}

void TUninstaller::RemoveEntryAndLog() {
  diag::Phase phase("uninstall entry and install log");
  const std::string settings = ChangeFileExt(logPath_, ".sss");
  if (FileExists(settings) && !DeleteFileForced(settings)) Fail("Cannot delete " + settings);
  if (!entryKey_.empty() && !RegDeleteKeyPath(entryKey_, true)) {
    Fail("Cannot delete the key " + entryKey_);
  }
  if (!DeleteFileForced(logPath_)) Fail("Cannot delete " + logPath_);
  phase.Ended(true);
}

void TUninstaller::RemoveFolders() {
  diag::Phase phase("folders");
  for (const std::string& folder : ReverseSorted(records_.Folders)) {
    const uint32_t attributes = os::GetFileAttributes(folder);
    // A link to a folder is never followed; a folder with anything left in it stays.
    if (attributes == os::kInvalidAttributes || (attributes & os::kAttrReparsePoint)) continue;
    os::RemoveDir(folder);
  }
  phase.Ended(true);
}
