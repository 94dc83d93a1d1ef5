#include "install/Programs.h"

#include "expressions/Common.h"
#include "install/Actions.h"
#include "install/Install.h"
#include "install/Log.h"
#include "os/os.h"
#include "plugins/PlugImpl.h"
#include "support/Errors.h"
#include "support/RunState.h"
#include "support/WinVersion.h"
#include "support/zrFileUtils.h"
#include "support/zrRegIni.h"
#include "support/zrShell.h"
#include "support/zrStrUtils.h"
#include "support/zrUtils.h"

const char kRunOnceKey[] = "HKCU\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

namespace {

constexpr char kRunKey[] = "HKCU\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kDatabaseFile[] = "MainDB";
constexpr char kDatabaseRoot[] = "kx2project";
constexpr char kActionsFile[] = "InstallActions";
constexpr char kActionsRoot[] = "installactions";

std::string registeredValue;

struct TProgramTexts {
  std::string CmdLine, Arg, WorkDir, Msg;
};

TProgramTexts ExpandProgram(const TXMLObject* context, const TkxRunApp& item) {
  return {ExpandText(context, item.CmdLine), ExpandText(context, item.Arg),
          ExpandText(context, item.WorkDir), ExpandText(context, item.Msg)};
}

// The plug-ins' codes: the two installation moments are swapped against their declaration order.
uint32_t MomentCode(TkxWhenStart moment) {
  switch (moment) {
    case TkxWhenStart::before_install:
      return 0;
    case TkxWhenStart::after_install:
      return 1;
    case TkxWhenStart::before_uninstall:
      return 2;
    case TkxWhenStart::after_uninstall:
      return 3;
    case TkxWhenStart::before_dialogs:
      return 4;
  }
  return 0;
}

uint32_t RecordShowMode(TkxShowCmd show) {
  switch (show) {
    case TkxShowCmd::scMin:
      return 1;
    case TkxShowCmd::scMax:
      return 2;
    case TkxShowCmd::scHide:
      return 3;
    case TkxShowCmd::scNormal:
      break;
  }
  return 0;
}

// The show commands of the system's process start.
int StartShowCommand(TkxShowCmd show) {
  switch (show) {
    case TkxShowCmd::scMin:
      return 7;  // minimized, not activated
    case TkxShowCmd::scMax:
      return 3;
    case TkxShowCmd::scHide:
      return 0;
    case TkxShowCmd::scNormal:
      break;
  }
  return 1;
}

// The uninstaller's codes, which differ from the plug-ins' ones: 3 is minimized, 2 maximized.
int UninstallShowCode(TkxShowCmd show) {
  switch (show) {
    case TkxShowCmd::scMin:
      return 3;
    case TkxShowCmd::scMax:
      return 2;
    case TkxShowCmd::scHide:
      return 0;
    case TkxShowCmd::scNormal:
      break;
  }
  return 1;
}

KxProgramRecord ProgramRecord(const TProgramTexts& texts, const TkxRunApp& item,
                              TkxWhenStart moment) {
  KxProgramRecord record{};
  record.cmdLine = reinterpret_cast<kx_ptr>(texts.CmdLine.c_str());
  record.arg = reinterpret_cast<kx_ptr>(texts.Arg.c_str());
  record.workDir = reinterpret_cast<kx_ptr>(texts.WorkDir.c_str());
  record.showMode = RecordShowMode(item.ShowCmd);
  record.msg = reinterpret_cast<kx_ptr>(texts.Msg.c_str());
  record.moment = MomentCode(moment);
  return record;
}

void WriteUninstallRecord(const TProgramTexts& texts, const TkxRunApp& item, TkxWhenStart moment,
                          int& number) {
  const std::string value = Format(
      "'%s','%s','%s',%d,'%s',%d,%d", texts.CmdLine.c_str(), texts.Arg.c_str(),
      texts.WorkDir.c_str(), UninstallShowCode(item.ShowCmd), texts.Msg.c_str(),
      item.Flags.Has(TkxFlag::dont_wait) ? 0 : 1, item.Flags.Has(TkxFlag::check_exitcode) ? 1 : 0);
  const TLogSection section =
      moment == TkxWhenStart::before_uninstall ? TLogSection::PreRunApp : TLogSection::RunApp;
  WriteLogRecord(section, std::to_string(number++), value);
}

TkxInstallState RunningState(TkxWhenStart moment) {
  switch (moment) {
    case TkxWhenStart::after_install:
      return TkxInstallState::isRunAppAfterInstall;
    case TkxWhenStart::before_install:
      return TkxInstallState::isRunAppBeforeInstall;
    default:
      return TkxInstallState::isRunAppBeforeDialogs;
  }
}

// While a program runs the database names it, so that a session ending meanwhile is saved with
// it; the names go when the program has ended, on every path, unless the run was suspended.
class TRunningProgram {
 public:
  TRunningProgram(TkxWhenStart moment, const std::string& componentID, int index) {
    MainDatabase().InstallState = RunningState(moment);
    MainDatabase().InstallStateData = Format("%s,%d", componentID.c_str(), index);
  }
  ~TRunningProgram() {
    if (RunState().InstallSuspended) return;
    MainDatabase().InstallState = TkxInstallState::isUnknown;
    MainDatabase().InstallStateData.clear();
  }
  TRunningProgram(const TRunningProgram&) = delete;
  TRunningProgram& operator=(const TRunningProgram&) = delete;
};

// The program's exit code; -1 when it could not be started. A program not waited for counts as
// succeeded once the shell accepted it.
int StartProgram(const TProgramTexts& texts, const TkxRunApp& item) {
  const int show = StartShowCommand(item.ShowCmd);
  if (item.Flags.Has(TkxFlag::dont_wait)) {
    bool started = false;
    os::ShellExecute(os::MainWindow(), texts.CmdLine, texts.Arg, texts.WorkDir, show, started);
    return started ? 0 : -1;
  }
  return RunAndWait(os::MainWindow(), texts.CmdLine, texts.Arg, show, texts.WorkDir);
}

// One program item of the moment; false when it has check_exitcode and failed.
bool RunProgramItem(const TXMLObject* context, const TkxComponent& component, int index,
                    const TkxRunApp& item, TkxWhenStart moment, int* recordNumber) {
  TProgramTexts texts = ExpandProgram(context, item);
  // An empty command would have the shell open whatever it takes for no file at all.
  if (Trim(texts.CmdLine).empty()) return true;
  KxProgramRecord record = ProgramRecord(texts, item, moment);
  if (!BeforeProcessItem(KX_LIST_PROGRAMS, &record)) return true;
  if (moment == TkxWhenStart::before_uninstall || moment == TkxWhenStart::after_uninstall) {
    int unused = 0;
    WriteUninstallRecord(texts, item, moment, recordNumber ? *recordNumber : unused);
    AfterProcessItem(KX_LIST_PROGRAMS, &record);
    return true;
  }
  {
    TRunningProgram running(moment, component.ID(), index);
    const int result = StartProgram(texts, item);
    if (item.Flags.Has(TkxFlag::check_exitcode) && result != 0) return false;
  }
  if (RunState().InstallSuspended) return true;
  // A folder opens in a window of the shell's own; it is given a moment to appear first.
  if (FolderExists(texts.CmdLine)) WaitDispatching(os::TickCount(), 500);
  AfterProcessItem(KX_LIST_PROGRAMS, &record);
  return true;
}

// The index of the program that was running when the session ended, when component is the one
// the saved state names; -1 when it is not. The number follows the last comma, since an ID may
// hold commas itself.
int ResumedIndex(const TkxComponent& component, const std::string& data) {
  const size_t comma = data.rfind(',');
  const std::string id = comma == std::string::npos ? data : data.substr(0, comma);
  if (id != component.ID()) return -1;
  if (comma == std::string::npos) return 0;
  return TextToInt(data.substr(comma + 1)).value_or(0);
}

bool IsEnvironmentVariable(const TkxVariable& variable) {
  return variable.Name.size() >= 4 && SameText(variable.Name.substr(0, 4), "SET ");
}

void RecordUninstallProgramsAt(TkxWhenStart moment, int& number) {
  if (!BeforeProcessItems(KX_LIST_PROGRAMS)) return;
  ForEachComponent([moment, &number](TkxPackage* package, TkxComponent& component) {
    return RunComponentPrograms(package, component, moment, &number);
  });
  AfterProcessItems(KX_LIST_PROGRAMS);
}

}  // namespace

bool RunComponentPrograms(TkxPackage* package, TkxComponent& component, TkxWhenStart moment,
                          int* recordNumber) {
  if (!component.RunApps) return true;
  TkxMainDatabase& database = MainDatabase();
  int resumeAt = -1;
  if (!database.InstallStateData.empty()) {
    resumeAt = ResumedIndex(component, database.InstallStateData);
    if (resumeAt < 0) return true;  // completed before the restart
  }
  const TXMLObject* context = ContextOf(package);
  for (int index = 0; index < component.RunApps->Count(); ++index) {
    if (resumeAt >= 0) {
      // The program that was running when the session ended is not started again.
      if (index == resumeAt) {
        database.InstallStateData.clear();
        resumeAt = -1;
      }
      continue;
    }
    const TkxRunApp* item = component.RunApps->Items(index);
    if (!item || item->WhenStart != moment || !CheckCondition(*item)) continue;
    if (!RunProgramItem(context, component, index, *item, moment, recordNumber)) return false;
    if (RunState().InstallSuspended) return true;
  }
  return true;
}

bool RunProgramsAt(TkxWhenStart moment) {
  return ForEachComponent([moment](TkxPackage* package, TkxComponent& component) {
    return RunComponentPrograms(package, component, moment);
  });
}

bool RunApplicationsBeforeDialogs() {
  return ForEachMainPackageComponent(
      [](TkxPackage* package, TkxComponent& component, void*) {
        return RunComponentPrograms(package, component, TkxWhenStart::before_dialogs);
      },
      nullptr);
}

void RecordUninstallPrograms() {
  int number = 0;
  RecordUninstallProgramsAt(TkxWhenStart::before_uninstall, number);
  RecordUninstallProgramsAt(TkxWhenStart::after_uninstall, number);
}

bool SaveRunState() {
  const std::string& folder = RunState().SetupTempPath;
  // Without its temporary folder a run has nowhere to keep its state; the current folder is not
  // one the resume command would look in.
  if (folder.empty()) return false;
  return MainDatabase().SaveToFile(folder + kDatabaseFile, kDatabaseRoot) &&
         InstallActions().SaveToFile(folder + kActionsFile, kActionsRoot);
}

bool LoadRunState(const std::string& folder) {
  const std::string path = WithTrailingBackslash(folder);
  return MainDatabase().LoadFromFile(path + kDatabaseFile, kDatabaseRoot) &&
         InstallActions().LoadFromFile(path + kActionsFile, kActionsRoot);
}

void SuspendRun(TkxInstallState state, const std::string& data) {
  TkxMainDatabase& database = MainDatabase();
  database.InstallState = state;
  database.InstallStateData = data;
  registeredValue.clear();  // each suspend is resumed by a value of its own
  // A state that cannot be saved still suspends: the run must not go on past the point where
  // the machine has to restart.
  SaveRunState();
  RunState().InstallSuspended = true;
}

void RegisterResume() {
  InstallActions().ApplyPendingFiles();
  const TRunState& state = RunState();
  if (!state.InstallSuspended || !registeredValue.empty()) return;
  // Unique against the Run key as well, so that the value never shadows a program started at
  // every logon.
  std::string name;
  do {
    name = RegUniqueValueName(kRunKey, "kx");
  } while (RegValueExists(kRunOnceKey, name));
  const std::string command =
      Format("\"%s\" /resume:\"%s\"", state.SetupFileName.c_str(), state.SetupTempPath.c_str());
  if (RegWriteString(kRunOnceKey, name, command)) registeredValue = name;
}

const std::string& RegisteredResumeValue() { return registeredValue; }

bool EnvironmentPhase() {
  TkxMainDatabase& database = MainDatabase();
  bool changed = false;
  const TkxVariables* variables = database.Variables.get();
  for (int index = 0; variables && index < variables->Count(); ++index) {
    const TkxVariable* variable = variables->Items(index);
    if (!variable || !IsEnvironmentVariable(*variable)) continue;
    const std::string name = Trim(variable->Name.substr(4));
    // A run that fails later must not leave the user's environment changed: the old value is
    // recorded for rollback. A variable the run made is the uninstaller's to remove; one it
    // changed stays, as registry values do.
    if (!name.empty() && !IsPlatform9x()) {
      TInstallReg* action = InstallActions().AddRegValue(kUserEnvironmentKey, name);
      action->Log = !action->Existed;
    }
    if (!SetEnvironmentVariable(name, variable->Value)) return false;
    SetVariable(&database, "Reboot", "1");
    changed = true;
  }
  // The start-up batch file of the 9x platform is read at the restart; the shell of NT reads the
  // registry again when told.
  if (changed && !IsPlatform9x()) os::NotifyEnvironmentChange();
  return true;
}
