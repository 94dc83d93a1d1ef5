#include "install/Install.h"

#include <cmath>
#include <iterator>
#include <thread>

#include "database/KXClasses.h"
#include "expressions/Common.h"
#include "install/Actions.h"
#include "install/FileInstall.h"
#include "install/Fonts.h"
#include "install/Log.h"
#include "install/Programs.h"
#include "install/Servers.h"
#include "install/Shortcuts.h"
#include "os/os.h"
#include "plugins/PlugImpl.h"
#include "support/DiagnosticLog.h"
#include "support/Errors.h"
#include "support/RunState.h"
#include "support/zrFileUtils.h"
#include "support/zrIniFile.h"
#include "support/zrRegIni.h"
#include "support/zrStrUtils.h"
#include "support/zrUtils.h"

namespace {

std::string installFolder;

int32_t ListWord(TItemList list) { return list << 16; }

const char* ListName(TItemList list) {
  static const char* const names[] = {"files",   "registry values", "INI values", "shortcuts",
                                      "servers", "fonts",           "programs"};
  return list >= 0 && list < static_cast<int>(std::size(names)) ? names[list] : "items";
}

// Rounded to the nearest whole percent, halves to even; a total of 0 is complete.
intptr_t Percent(int64_t done, int64_t total) {
  if (total <= 0) return 100;
  return static_cast<intptr_t>(std::nearbyint(100.0 * static_cast<double>(done) / total));
}

// --- Registry values -------------------------------------------------------------------------

struct TRegTexts {
  std::string Key, Param, Value;
};

TRegTexts ExpandReg(const TXMLObject* context, const TkxReg& item) {
  return {ExpandText(context, item.Key), ExpandText(context, item.Param),
          ExpandText(context, item.Value)};
}

KxRegistryRecord RegRecord(const TRegTexts& texts, const TkxReg& item) {
  KxRegistryRecord record{};
  record.key = reinterpret_cast<kx_ptr>(texts.Key.c_str());
  record.name = reinterpret_cast<kx_ptr>(texts.Param.c_str());
  record.value = reinterpret_cast<kx_ptr>(texts.Value.c_str());
  record.kind = static_cast<uint32_t>(item.ParamType);
  record.removal = item.Action == TkxAction::remove ? 1 : 0;
  return record;
}

bool WriteRegValue(const TRegTexts& texts, TkxRegType type) {
  switch (type) {
    case TkxRegType::int_:
      return RegWriteNumber(texts.Key, texts.Param,
                            static_cast<uint32_t>(TextToInt(texts.Value).value_or(0)));
    case TkxRegType::bin:
      return RegWriteBinaryText(texts.Key, texts.Param, texts.Value);
    case TkxRegType::mstr:
      return RegWriteMultiStringText(texts.Key, texts.Param, texts.Value);
    case TkxRegType::str:
      break;
  }
  return RegWriteString(texts.Key, texts.Param, texts.Value);
}

void RemoveRegItem(const TRegTexts& texts) {
  if (!texts.Param.empty()) {
    if (!RegValueExists(texts.Key, texts.Param)) return;
    // Kept out of the install log (the uninstaller has nothing to remove), but a failed run
    // must bring the value back.
    InstallActions().AddRegValue(texts.Key, texts.Param)->Log = false;
    RegDeleteValue(texts.Key, texts.Param);
  } else if (RegKeyExists(texts.Key)) {
    RegDeleteKeyPath(texts.Key, false);
  }
}

// One registry item; false when its value could not be written (the run fails).
bool ProcessRegItem(const TXMLObject* context, const TkxReg& item) {
  TRegTexts texts = ExpandReg(context, item);
  KxRegistryRecord record = RegRecord(texts, item);
  if (!BeforeProcessItem(KX_LIST_REGISTRY, &record)) return true;
  texts = ExpandReg(context, item);  // a plug-in may have changed what the texts use
  record = RegRecord(texts, item);
  if (item.Action == TkxAction::remove) {
    RemoveRegItem(texts);
    AfterProcessItem(KX_LIST_REGISTRY, &record);
    return true;
  }
  if (item.Flags.Has(TkxFlag::dont_overwrite) && RegValueExists(texts.Key, texts.Param)) {
    return true;
  }
  const bool logged = !item.Flags.Has(TkxFlag::dont_log);
  InstallActions().CreateRegKeys(texts.Key, logged);
  // Recorded before the write with what it replaces, so that rollback restores it whatever the
  // write leaves behind.
  InstallActions().AddRegValue(texts.Key, texts.Param)->Log = logged;
  if (!WriteRegValue(texts, item.ParamType)) {
    ErrorBox("Registry error", "Error changing registry data.");
    return false;
  }
  AfterProcessItem(KX_LIST_REGISTRY, &record);
  return true;
}

bool RegistryHandler(TkxPackage* package, TkxComponent& component) {
  if (!component.Registry) return true;
  const TXMLObject* context = ContextOf(package);
  for (int index = 0; index < component.Registry->Count(); ++index) {
    const TkxReg* item = component.Registry->Items(index);
    if (!item || !CheckCondition(*item)) continue;
    if (!ProcessRegItem(context, *item)) return false;
  }
  return true;
}

// --- INI values ------------------------------------------------------------------------------

struct TIniTexts {
  std::string File, Section, Param, Value;
};

TIniTexts ExpandIni(const TXMLObject* context, const TkxIni& item) {
  return {ExpandText(context, item.IniFile), ExpandText(context, item.Section),
          ExpandText(context, item.Param), ExpandText(context, item.Value)};
}

KxIniRecord IniRecord(const TIniTexts& texts, const TkxIni& item) {
  KxIniRecord record{};
  record.file = reinterpret_cast<kx_ptr>(texts.File.c_str());
  record.section = reinterpret_cast<kx_ptr>(texts.Section.c_str());
  record.key = reinterpret_cast<kx_ptr>(texts.Param.c_str());
  record.value = reinterpret_cast<kx_ptr>(texts.Value.c_str());
  record.removal = item.Action == TkxAction::remove ? 1 : 0;
  return record;
}

// The current date and time as text: a default no INI file is expected to hold, so that a read
// that gives it back tells that the key is missing.
std::string AbsentMarker() {
  const os::LocalDateTime now = os::LocalTime();
  return Format("%04d-%02d-%02d %02d:%02d:%02d.%03d", now.year, now.month, now.day, now.hour,
                now.minute, now.second, now.millisecond);
}

// Records the INI file before its first change in the run, so that rollback restores (or removes)
// it; false when it could not be backed up (it must not be changed unprotected). A removal
// leaves the file to the user: it is recorded for rollback only, and only when it exists.
bool ProtectIniFile(const std::string& file, TkxFlags flags, bool removal) {
  const std::string fullName = IniFullName(file);
  if (InstallActions().FindFile(fullName)) return true;
  if (removal) {
    if (!FileExists(fullName)) return true;
    flags.Include(TkxFlag::dont_log);
  }
  // The cache holds the file open for writing, which keeps the backup from reading it; nothing
  // of the run is in it yet, since every change comes after this record.
  IniClose(file);
  return InstallActions().AddFile(fullName, flags, false) != nullptr;
}

bool ProcessIniItem(const TXMLObject* context, const TkxIni& item) {
  TIniTexts texts = ExpandIni(context, item);
  KxIniRecord record = IniRecord(texts, item);
  if (!BeforeProcessItem(KX_LIST_INI, &record)) return true;
  texts = ExpandIni(context, item);
  record = IniRecord(texts, item);
  if (item.Action == TkxAction::remove) {
    if (!ProtectIniFile(texts.File, item.Flags, true)) return false;
    IniDeleteKey(texts.File, texts.Section, texts.Param);
    AfterProcessItem(KX_LIST_INI, &record);
    return true;
  }
  const std::string marker = AbsentMarker();
  std::string oldValue = IniReadString(texts.File, texts.Section, texts.Param, marker);
  const bool existed = oldValue != marker;
  if (!existed) oldValue.clear();
  if (existed && item.Flags.Has(TkxFlag::dont_overwrite)) return true;
  if (!ProtectIniFile(texts.File, item.Flags, false)) return false;
  if (!IniWriteString(texts.File, texts.Section, texts.Param, texts.Value)) {
    ErrorBox("Ini-file error", Format("Error changing ini-file \"%s\".", texts.File.c_str()));
    return false;
  }
  TInstallIni* action = InstallActions().AddAction<TInstallIni>();
  action->IniFile = texts.File;
  action->Section = texts.Section;
  action->Param = texts.Param;
  action->OldValue = oldValue;
  // A key that was there before is the user's: the uninstaller must not delete it.
  action->Existed = existed;
  action->Log = !item.Flags.Has(TkxFlag::dont_log);
  AfterProcessItem(KX_LIST_INI, &record);
  return true;
}

bool IniHandler(TkxPackage* package, TkxComponent& component) {
  if (!component.IniFiles) return true;
  const TXMLObject* context = ContextOf(package);
  bool result = true;
  for (int index = 0; result && index < component.IniFiles->Count(); ++index) {
    const TkxIni* item = component.IniFiles->Items(index);
    if (item && CheckCondition(*item)) result = ProcessIniItem(context, *item);
  }
  // Every changed file reaches the disk once per component, the install log among them.
  IniCloseAll();
  return result;
}

// --- Phases of other item kinds --------------------------------------------------------------

// Step 7 and step 11: the programs of a moment, resumed at its recorded state. A session that
// ends while one runs leaves the state recorded for the restart.
bool ProgramPhase(TkxWhenStart moment) {
  diag::Phase phase(moment == TkxWhenStart::before_install ? "programs before the installation"
                                                           : "programs after the installation");
  TkxMainDatabase& database = MainDatabase();
  database.InstallState = TkxInstallState::isUnknown;
  RunState().ResumeMode = false;
  bool result = true;
  if (BeforeProcessItems(KX_LIST_PROGRAMS)) {
    result = RunProgramsAt(moment);
    if (RunState().InstallSuspended) {
      diag::Line("the run is suspended for a restart");
      return phase.Ended(result);
    }
    AfterProcessItems(KX_LIST_PROGRAMS);
  }
  database.InstallStateData.clear();
  return phase.Ended(result);
}

// --- The worker thread -----------------------------------------------------------------------

// The file phase on a thread of its own, while the main thread dispatches the events the worker
// sends it; the worker's answer once it has ended.
bool RunWorker() {
  constexpr int kStillActive = 259;
  std::atomic<int> exitCode{kStillActive};
  std::thread worker([&exitCode] {
    const os::ComScope com;  // the after-file handlers may use COM objects
    bool copied = false;
    try {
      copied = CopyPackages();
    } catch (const std::exception& error) {
      // The worker cannot carry an error across; it is shown from here and the phase fails.
      ShowErrorBox(error.what());
    }
    exitCode = copied ? 1 : 0;
  });
  while (exitCode == kStillActive) {
    os::PumpMessages();
    os::Sleep(1);
  }
  worker.join();
  return exitCode == 1;
}

// Step 8: files, unless the plug-ins refuse the list; the uninstaller once they are in place.
bool FilePhase(bool logging) {
  diag::Phase phase("files");
  if (!BeforeProcessItems(KX_LIST_FILES)) return phase.Ended(true);
  bool result = ForEachComponent(RemoveFiles);
  if (result) result = RunWorker();
  if (result && logging) result = DeployUninstaller(installFolder);
  AfterProcessItems(KX_LIST_FILES);
  return phase.Ended(result);
}

bool ListPhase(TItemList list, const TComponentHandler& handler) {
  diag::Phase phase(ListName(list));
  if (!BeforeProcessItems(list)) return phase.Ended(true);
  const bool result = ForEachComponent(handler);
  AfterProcessItems(list);
  return phase.Ended(result);
}

// Steps 9 and 10: what follows the files, each while the run goes well.
bool ItemPhases(bool& result) {
  TRunState& state = RunState();
  TkxMainDatabase& database = MainDatabase();
  if (result && (!state.ResumeMode || database.InstallState == TkxInstallState::isRegServers)) {
    database.InstallState = TkxInstallState::isUnknown;
    state.ResumeMode = false;
    diag::Phase phase("servers");
    ServerPhase();
    phase.Ended(true);
  }
  if (state.ResumeMode) return result;
  if (result) result = ListPhase(KX_LIST_REGISTRY, RegistryHandler);
  if (result) result = ListPhase(KX_LIST_INI, IniHandler);
  if (result) {
    diag::Phase phase("fonts");
    if (BeforeProcessItems(KX_LIST_FONTS)) {
      result = InstallFonts();
      AfterProcessItems(KX_LIST_FONTS);
    }
    phase.Ended(result);
  }
  if (result) result = ListPhase(KX_LIST_SHORTCUTS, ShortcutHandler);
  if (result) {
    diag::Phase phase("environment variables");
    result = phase.Ended(EnvironmentPhase());
  }
  return result;
}

// Steps 2 to 6: the install folder, the log and whether it is written; false when an existing
// log could not be backed up (the run must not change it unprotected).
bool PrepareLog(bool resuming) {
  TkxMainDatabase& database = MainDatabase();
  installFolder = WithTrailingBackslash(
      ExpandText(&database, GetVariable(&database, "InstallPath", "%Windows%")));
  const bool uninstall = GetVariableBool(&database, "Uninstall", false);
  if (ExpandText(&database, GetVariable(&database, "LogFile", "")).empty()) {
    SetVariable(&database, "LogFile", installFolder + "install.log");
  }
  TLogSettings& log = LogSettings();
  log.Path = ExpandText(&database, GetVariable(&database, "LogFile", ""));
  log.On = false;
  if (!resuming) {
    InstallActions().CreateFolders(ExtractFilePath(log.Path), true);
    TkxFlags flags;
    flags.Include(TkxFlag::dont_log);
    if (!InstallActions().AddFile(log.Path, flags, false)) return false;
  }
  log.On = uninstall;
  if (uninstall && LoggingOn() && !resuming) WriteUninstallerSettings();
  return true;
}

// Step 12: what the uninstaller needs, once everything is in place.
void RegisterForMaintenance() {
  diag::Phase phase("registration for maintenance and removal");
  RecordUninstallPrograms();
  RegisterApplication(installFolder);
}

// Steps 7 to 12; the INI files are closed by the caller whatever happens here.
bool RunPhases() {
  TRunState& state = RunState();
  TkxMainDatabase& database = MainDatabase();
  const bool logging = GetVariableBool(&database, "Uninstall", false) && LoggingOn();
  bool result = true;
  if (!state.ResumeMode || database.InstallState == TkxInstallState::isRunAppBeforeInstall) {
    result = ProgramPhase(TkxWhenStart::before_install);
    if (state.InstallSuspended) return result;
  }
  if (!state.ResumeMode && result) {
    if (GetVariableBool(&database, "RemoveOldReferences", false) &&
        FileExists(LogSettings().Path)) {
      BroadcastNamed("CM_SHOWSTATUSTEXT", reinterpret_cast<intptr_t>(GetMessage(16).c_str()), 750,
                     false);
      diag::Phase phase("removal of the previous version's references");
      RemoveOldReferences();
      phase.Ended(true);
      BroadcastNamed("CM_HIDESTATUSTEXT", 0, 0, false);
    }
    result = FilePhase(logging);
    // A file in use waits for the next start of the system: what follows may need it, so the
    // run goes on only after the restart.
    if (result && GetVariableBool(&database, "Reboot", false)) {
      diag::Line("a file in use waits for the restart: the run is suspended");
      SuspendRun(TkxInstallState::isRegServers, "");
      return true;
    }
  }
  ItemPhases(result);
  if (result &&
      (!state.ResumeMode || database.InstallState == TkxInstallState::isRunAppAfterInstall)) {
    result = ProgramPhase(TkxWhenStart::after_install);
    if (state.InstallSuspended) return result;
  }
  if (result && logging) RegisterForMaintenance();
  return result;
}

}  // namespace

TInstallProgress& InstallProgress() {
  static TInstallProgress progress;
  return progress;
}

const std::string& InstallFolder() { return installFolder; }

const TXMLObject* ContextOf(TkxPackage* package) {
  return package ? static_cast<const TXMLObject*>(package) : &MainDatabase();
}

void ReportFileProgress(int64_t bytes) {
  TInstallProgress& progress = InstallProgress();
  progress.CurrentFileDone += bytes;
  progress.BytesDone += bytes;
  // A plug-in holds the copying still between two reports, never inside one.
  while (RunState().WorkerPaused && !RunState().AbortRequested) os::Sleep(10);
  Broadcast(EV_FILEINSTALLPROGRESS, Percent(progress.CurrentFileDone, progress.CurrentFileSize),
            Percent(progress.BytesDone, progress.TotalBytes), true);
}

bool ForEachComponent(const TComponentHandler& handler) {
  return ::ForEachComponent([&handler](TkxPackage* package, TkxComponent& component,
                                       void*) { return handler(package, component); },
                            nullptr);
}

bool BeforeProcessItems(TItemList list) {
  return Broadcast(EV_BEFOREPROCESSITEMS, ListWord(list), 0, false) == 0;
}

void AfterProcessItems(TItemList list) { Broadcast(EV_AFTERPROCESSITEMS, ListWord(list), 0, true); }

bool BeforeProcessItem(TItemList list, const void* record) {
  return Broadcast(EV_BEFOREPROCESSITEM, ListWord(list), reinterpret_cast<intptr_t>(record),
                   false) == 0;
}

void AfterProcessItem(TItemList list, const void* record) {
  Broadcast(EV_AFTERPROCESSITEM, ListWord(list), reinterpret_cast<intptr_t>(record), true);
}

bool RunInstallation() {
  TRunState& state = RunState();
  state.AbortRequested = false;
  if (!PrepareLog(state.ResumeMode)) return false;
  bool result = false;
  try {
    result = RunPhases();
  } catch (...) {
    InstallActions().LogRecords();
    IniCloseAll();
    throw;
  }
  IniCloseAll();
  InstallActions().LogRecords();
  return result;
}
