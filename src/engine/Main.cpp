// The run wrapper and the main driver. The driver is one sequence of phases; from the moment the
// silent settings are read, every exit, by result or by exception, passes the clean-up block,
// so that rollback, EV_FINISH and the unloading of plug-ins happen before any error is shown.
#include "engine/Main.h"

#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <set>

#include "database/KXClasses.h"
#include "database/zrXMLParser.h"
#include "engine/LaunchChecks.h"
#include "engine/MainWnd.h"
#include "engine/Packages.h"
#include "install/Install.h"
#include "expressions/Common.h"
#include "expressions/PluginChannel.h"
#include "install/Actions.h"
#include "install/Programs.h"
#include "os/os.h"
#include "plugins/CtrlHandler.h"
#include "plugins/KXPlugins.h"
#include "plugins/PlugImpl.h"
#include "support/DiagnosticLog.h"
#include "support/Errors.h"
#include "support/RunState.h"
#include "support/SafeNames.h"
#include "support/WinVersion.h"
#include "support/zrFileUtils.h"
#include "support/zrIniFile.h"
#include "support/zrRegIni.h"
#include "support/zrShell.h"
#include "support/zrStrUtils.h"
#include "support/zrUtils.h"

namespace {

constexpr char kUnpackLibraryName[] = "unpack.dll";
constexpr char kDefaultLanguage[] = "ENU=English (USA)";
constexpr intptr_t kRunningApplicationsList = intptr_t{6} << 16;

// The main window, with the program icon it loads, belongs to the driver from its first steps to
// its end.
class DriverWindows {
 public:
  ~DriverWindows() {
    if (windowCreated_) DestroyMainWindow();
  }
  // Events raised on other threads reach the plug-ins through the window, on the main thread.
  bool CreateWindow() { return windowCreated_ = CreateMainWindow(DeliverCrossThreadRecord); }

 private:
  bool windowCreated_ = false;
};

// What the clean-up block needs to know of the phases that ran.
struct DriverProgress {
  bool startSent = false;  // EV_FINISH is owed once EV_START went out
};

bool Aborted() { return RunState().AbortRequested; }

// The driver's variables live in the main database.
std::string Variable(const std::string& name, const std::string& defaultValue) {
  return GetVariable(&MainDatabase(), name, defaultValue);
}
bool VariableBool(const std::string& name, bool defaultValue) {
  return GetVariableBool(&MainDatabase(), name, defaultValue);
}
void SetDriverVariable(const std::string& name, const std::string& value) {
  SetVariable(&MainDatabase(), name, value);
}

// A missing or unreadable file leaves the silent settings empty: the run is then interactive.
void LoadSilentSettings(const std::string& fileName) {
  TkxSilentSettings& settings = SilentSettings();
  settings.Clear();
  if (!FileExists(fileName)) return;
  try {
    if (!settings.LoadFromFile(fileName, kSilentSettingsRootName)) settings.Clear();
  } catch (const KxError&) {
    settings.Clear();
  }
}

// Repair selects what the first installation chose: each remembered feature with its
// sub-features.
void SelectSilentFeatures() {
  TkxMainDatabase& database = MainDatabase();
  const TkxFeatures& remembered = *SilentSettings().Features;
  for (int index = 0; index < remembered.Count(); ++index) {
    const TkxFeature* feature = remembered.Items(index);
    if (!feature) continue;
    TkxFeature* parent = nullptr;
    TkxFeature* next = nullptr;
    if (TkxFeature* found = FindFeature(*database.Features, feature->ID, parent, next)) {
      SetFeatureSelected(*found, true);
    }
  }
}

// The name a language file in folder gives its language; the abbreviation itself without one.
// The abbreviation comes from the project database: only a plain file name is looked up.
std::string LanguageNameFromFile(const std::string& folder, const std::string& abbreviation) {
  const std::string fileName = folder + abbreviation + ".lng";
  if (!IsSafeFileName(abbreviation + ".lng") || !FileExists(fileName)) return abbreviation;
  const TIniDefaults& defaults = IniDefaults();
  TzrIniFile file(fileName, true, defaults.SkipComments, defaults.SkipNoEquals, defaults.TrimEquals,
                  defaults.Unquote);
  return file.ReadString("Strings", "LanguageName", abbreviation);
}

// The resume switch names the folder of the suspended run: its text after "/resume:".
bool ResumeFolderFromCommandLine(std::string& folder) {
  int index = 0;
  if (!SwitchMatch("resume:*", index)) return false;
  std::string parameter = ParamStr(index);
  std::string named = parameter.size() > 8 ? parameter.substr(8) : std::string();
  if (named.size() >= 2 && named.front() == '"' && named.back() == '"') {
    named = named.substr(1, named.size() - 2);
  }
  folder = WithTrailingBackslash(named);
  return true;
}

// A folder from the command line is deleted only when it can be one of ours: a unique name
// directly in the temporary path. Anything else ("/resume:C:\") is left alone.
bool IsOwnTempFolder(const std::string& folder) {
  std::string path = WithoutTrailingBackslash(folder);
  std::string name = ExtractFileName(path);
  if (!SameText(ExtractFilePath(path), TemporaryPath())) return false;
  if (name.size() != 8) return false;
  for (char c : name) {
    char upper = static_cast<char>(UpperChar(static_cast<unsigned char>(c)));
    if (!((upper >= '0' && upper <= '9') || (upper >= 'A' && upper <= 'V'))) return false;
  }
  return true;
}

// The run's temporary folder as far as removing it is concerned: "" until it exists, and for a
// folder named on the command line that cannot be one of ours. Guarded, since a stop request
// removes it from a thread of its own.
class TTempFolderGuard {
 public:
  // Runs create, which makes the folder and names it in SetupTempPath, with the lock held, so
  // that a stop request waits until the new folder is known; a folder made halfway is known too.
  void Create(const std::function<void()>& create) {
    std::lock_guard<std::mutex> lock(mutex_);
    try {
      create();
    } catch (...) {
      folder_ = RunState().SetupTempPath;
      throw;
    }
    folder_ = RunState().SetupTempPath;
  }
  // After a fault, the folder goes unless the faulting code was the one holding the lock.
  void RemoveAfterCrash() {
    std::unique_lock<std::mutex> lock(mutex_, std::try_to_lock);
    if (!lock.owns_lock() || folder_.empty() || RunState().InstallSuspended) return;
    DeleteTree(folder_, true);
  }
  // A folder named on the command line: removed only when it can be one of ours.
  void Adopt(const std::string& folder) {
    std::lock_guard<std::mutex> lock(mutex_);
    RunState().SetupTempPath = folder;
    folder_ = IsOwnTempFolder(folder) ? folder : std::string();
  }
  // Removes the folder unless the run is suspended (it then holds the state to resume from).
  // With retry, the tree is deleted again while it is still there: a stop request deletes it
  // while the main thread may still be writing into it.
  void Remove(bool retry) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (folder_.empty() || RunState().InstallSuspended) return;
    for (int attempt = 0; !DeleteTree(folder_, true) && retry && attempt < 50; ++attempt) {
      if (!FolderExists(folder_)) break;
      os::Sleep(10);
    }
    folder_.clear();
  }

 private:
  std::mutex mutex_;
  std::string folder_;
};

TTempFolderGuard& TempFolderGuard() {
  static TTempFolderGuard guard;
  return guard;
}

// Stopped from outside, the run is abandoned; its temporary folder must not outlive it.
void RemoveTempFolderOnStop() { TempFolderGuard().Remove(true); }

// A fault nobody handled: the user learns whose it was, and the run leaves nothing behind in the
// temporary folder. Most such faults come from plug-ins, which are not ours to trust.
void ReportCrash(const char* fault) {
  const char* library = PluginLibraryInCall();
  ShowErrorBox(
      library ? Format("The plug-in \"%s\" has failed (%s). Setup cannot continue.", library, fault)
              : Format("Setup has failed (%s) and cannot continue.", fault));
  ReleaseLibrariesAfterCrash();
  TempFolderGuard().RemoveAfterCrash();
}

}  // namespace

bool LoadProjectDatabase(const TkxPackage& mainPackage) {
  TXMLTag tree;
  ReadDatabaseTree(
      mainPackage.TempPath + "main.pdb",
      Format("project database of \"%s\"", ExtractFileName(mainPackage.FullFileName).c_str()),
      tree);
  TkxMainDatabase& database = MainDatabase();
  database.Variables->Clear();
  // Laid over what is there: package 0 and the temporary folders stay.
  database.MergeFrom(tree);
  return true;
}

namespace {

bool PrepareMainPackage() {
  TkxMainDatabase& database = MainDatabase();
  TkxPackage& package = database.Packages->AddNew();
  package.FullFileName = RunState().SetupFileName;
  package.Needed = true;
  if (!CheckPackage(package)) return false;
  if (!PreparePackages()) {
    ShowErrorBox("Can't prepare main package!");
    return false;
  }
  if (!ReadPackageDatabase(package)) return false;
  if (!LoadProjectDatabase(package)) return false;
  ApplySilentVariables();
  InitRuntimeVariables();
  database.RebootOnFinish = VariableBool("Reboot", false);
  return true;
}

bool PrepareRepair() {
  std::string id = Variable("AppID", "App");
  // The ID follows the switch; a diagnostic log asked for anywhere does not move it.
  const std::vector<std::string> params = diag::ParamsWithoutLog(os::CommandLine());
  if (params.size() >= 3 && params[2] != id) {
    ShowErrorBox("Cannot repair application!");
    return false;
  }
  // The installation run finds the previous install log at this same path when it removes the
  // old references.
  diag::Linef("repair: the previous install log is %s",
              ExpandText(&MainDatabase(), Variable("LogFile", "")).c_str());
  const std::string uninstallKey = "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
  std::string settings =
      RegReadText(Format("HKLM%s%s", uninstallKey.c_str(), id.c_str()), "SilentSettings", "");
  if (settings.empty()) {
    settings =
        RegReadText(Format("HKCU%s%s", uninstallKey.c_str(), id.c_str()), "SilentSettings", "");
  }
  if (settings.empty() || !FileExists(settings)) {
    ShowErrorBox("Cannot repair application!");
    return false;
  }
  LoadSilentSettings(settings);
  ApplySilentVariables();
  SetDriverVariable("SilentMode", "2");
  SelectSilentFeatures();
  return true;
}

// The applications that run before the dialogs; a run resumed at this point continues from here
// as an ordinary run.
bool RunApplicationsPhase() {
  TRunState& state = RunState();
  TkxMainDatabase& database = MainDatabase();
  if (state.ResumeMode && database.InstallState != TkxInstallState::isRunAppBeforeDialogs) {
    return true;
  }
  database.InstallState = TkxInstallState::isUnknown;
  state.ResumeMode = false;
  bool succeeded = true;
  if (Broadcast(EV_BEFOREPROCESSITEMS, kRunningApplicationsList, 0, false) == 0) {
    succeeded = RunApplicationsBeforeDialogs();
    if (state.InstallSuspended) return false;
    Broadcast(EV_AFTERPROCESSITEMS, kRunningApplicationsList, 0, true);
  }
  database.InstallStateData.clear();
  return succeeded && !Aborted();
}

bool RunDialogsAndResolve() {
  if (Broadcast(EV_SHOWDIALOGS, 0, 0, false) != 0 || Aborted()) return false;
  if (!ResolveChoices() || !PrepareFurtherPackages()) return false;
  MergePackageComponents();
  return true;
}

void ChooseComponent(TkxComponent& component) {
  component.Selected = true;
  component.Install = true;
}

// The components that the selected features name; false after a message when one names a
// component the project does not have.
bool ChooseComponentsOfFeatures(TkxMainDatabase& database) {
  // The walk goes by ID from one feature to its successor; a repeated ID would lead back to its
  // first holder, so a feature met twice ends the walk.
  std::set<const TkxFeature*> visited;
  TkxFeature* parent = nullptr;
  TkxFeature* next = nullptr;
  for (TkxFeature* feature = FindFeature(*database.Features, "", parent, next);
       feature && visited.insert(feature).second;
       feature = next ? FindFeature(*database.Features, next->ID, parent = nullptr, next)
                      : nullptr) {
    if (!feature->Selected) continue;
    const TkxComponents& references = *feature->Components;
    for (int index = 0; index < references.Count(); ++index) {
      const TkxComponent* reference = references.Items(index);
      if (!reference) continue;
      auto* component = dynamic_cast<TkxComponent*>(database.Components->FindByID(reference->ID()));
      if (!component) {
        ErrorBox("Component not found",
                 Format("Component ID=\"%s\" not found!", reference->ID().c_str()));
        return false;
      }
      if (CheckCondition(*component)) ChooseComponent(*component);
    }
  }
  return true;
}

// The plug-ins of the package at index; true when there is no such package.
bool LoadPackagePlugins(int index) {
  TkxPackages& packages = *MainDatabase().Packages;
  TkxPackage* package = index < packages.Count() ? packages.Items(index) : nullptr;
  return !package || LoadPlugins(*package);
}

TkxPackage* PackageNamed(const std::string& name) {
  return MainDatabase().Packages->FindByFileName(name);
}

bool InstallAndConclude() {
  TRunState& state = RunState();
  for (int index = 1; index < MainDatabase().Packages->Count(); ++index) {
    LoadPackagePlugins(index);  // a further package's plug-ins are optional
  }
  if (Aborted()) return false;
  if (!state.ResumeMode && (Broadcast(EV_BEFOREINSTALL, 0, 0, false) != 0 || Aborted())) {
    return false;
  }
  bool result = RunInstallation();
  if (!state.InstallSuspended && result) {
    Broadcast(EV_AFTERINSTALL, 0, 0, true);
    result = !Aborted();
    if (result) result = Broadcast(EV_SHOWDIALOGS, 1, 0, false) == 0 && !Aborted();
  }
  if (result && !state.SessionEnding) {
    if (MainDatabase().RebootOnFinish && !state.ResumeMode) SetDriverVariable("Reboot", "1");
    if (VariableBool("Reboot", false)) {
      Broadcast(EV_QUERYREBOOT, 0, 0, false);
      result = !Aborted();
    }
  }
  if (result) RegisterResume();
  return result;
}

// The phases after the silent settings, in their order; false at the first failure.
bool RunPhases(DriverProgress& progress) {
  TRunState& state = RunState();
  state.RepairMode = SwitchPresent("repair");
  LoadSilentSettings(ChangeFileExt(state.SetupFileName, ".sss"));
  if (!state.ResumeMode) ApplySilentVariables();
  InitRuntimeVariables();
  if (!state.ResumeMode) {
    diag::Phase phase("preparation of the main package");
    if (!phase.Ended(PrepareMainPackage())) return false;
  }
  SetDriverVariable("Reboot", "0");
  state.RollbackDisabled = VariableBool("DisableRollback", false);
  if (state.RepairMode && !PrepareRepair()) return false;
  BuildLanguageList();
  ChooseLanguage();
  diag::Linef("languages offered: %s; chosen: %s", Variable("Languages", "ENU").c_str(),
              Variable("LangID", "").c_str());
  if (!LoadPackagePlugins(0) || Aborted()) return false;
  PreselectInstallType();
  if (!state.ResumeMode) {
    diag::Phase phase("launch checks");
    if (!phase.Ended(RunLaunchChecks() && !Aborted())) return false;
  }
  Broadcast(EV_START, 0, 0, true);
  progress.startSent = true;
  if (Aborted()) return false;
  if (!RunApplicationsPhase()) return false;
  if (!state.ResumeMode) {
    diag::Phase phase("dialogs and the choice of components");
    if (!phase.Ended(RunDialogsAndResolve())) return false;
  }
  diag::Phase phase("installation");
  return phase.Ended(InstallAndConclude());
}

// Runs one step of the clean-up block. The block runs while an error may be on its way out, so
// nothing escapes it, and a step that fails must not keep the later ones (the plug-ins'
// unloading, the database's release) from running; its message is shown and the run has failed.
bool CleanUpStep(const std::function<void()>& step) noexcept {
  try {
    step();
    return true;
  } catch (const std::exception& error) {
    try {
      ShowErrorBox(error.what());
    } catch (...) {
    }
  } catch (...) {
  }
  return false;
}

// The clean-up block; false when a step of it failed.
bool CleanUp(bool result, const DriverProgress& progress, const std::string& savedDir) noexcept {
  TRunState& state = RunState();
  bool clean = true;
  if (!result) {
    state.InstallSuspended = false;
    clean &= CleanUpStep([] { SetDriverVariable("Reboot", "0"); });
    clean &= CleanUpStep([&state] {
      if (!state.RollbackDisabled && HasRecordedActions()) Rollback();
    });
  }
  if (progress.startSent && !state.InstallSuspended) {
    clean &= CleanUpStep([result] { Broadcast(EV_FINISH, result ? 1 : 0, 0, true); });
  }
  state.RebootAtExit = false;
  clean &= CleanUpStep([&state] { state.RebootAtExit = VariableBool("Reboot", false); });
  clean &= CleanUpStep(UnloadPlugins);
  os::SetCurrentDir(savedDir);
  clean &= CleanUpStep(IniCloseAll);
  clean &= CleanUpStep([] {
    LanguageList().clear();
    MainDatabase().Clear();
  });
  return clean;
}

}  // namespace

bool HasRecordedActions() { return InstallActions().Count() > 0; }

void Rollback() {
  const std::string text = GetMessage(18);
  BroadcastNamed("CM_SHOWSTATUSTEXT", reinterpret_cast<intptr_t>(text.c_str()), 750, false);
  try {
    InstallActions().Rollback();
  } catch (...) {
    BroadcastNamed("CM_HIDESTATUSTEXT", 0, 0, false);
    throw;
  }
  BroadcastNamed("CM_HIDESTATUSTEXT", 0, 0, false);
}

std::vector<std::string>& LanguageList() {
  static std::vector<std::string> list;
  return list;
}

void CreateTempFolders() {
  TRunState& state = RunState();
  state.SetupTempPath = CreateUniqueFolder(TemporaryPath(), true);
  TkxMainDatabase& database = MainDatabase();
  database.TempFontsPath = CreateUniqueFolder(state.SetupTempPath, true);
  database.TempGACPath = CreateUniqueFolder(state.SetupTempPath, true);
  database.TempBackupPath = CreateUniqueFolder(state.SetupTempPath, true);
  diag::Line("temporary folder: " + state.SetupTempPath);
}

bool WriteUnpackLibrary(const std::string& folder) {
  auto resource = os::FindResource("RCDATA", "UNPACK");
  if (!resource) {
    ShowErrorBox("Can't extract UNPACK.DLL");
    return false;
  }
  os::File file = os::File::Open(folder + kUnpackLibraryName, os::File::Mode::kCreate);
  if (!file.IsOpen() || !file.Write(resource->data(), resource->size())) {
    ShowErrorBox("Can't extract UNPACK.DLL");
    return false;
  }
  return true;
}

void BuildLanguageList() {
  std::vector<std::string>& list = LanguageList();
  list.clear();
  const CharSet comma(",");
  std::string offered = Variable("Languages", "ENU");
  std::vector<std::string> names;
  for (int n = 1, count = CountWords(offered, comma); n <= count; ++n) {
    std::string name = UpperCaseText(Trim(GetWord(n, offered, comma)));
    if (!name.empty()) names.push_back(name);
  }
  std::vector<std::string> displayNames(names.size());
  for (uint32_t locale : os::InstalledLocaleIds()) {
    std::string abbreviation = UpperCaseText(os::LocaleLanguageAbbreviation(locale));
    for (size_t i = 0; i < names.size(); ++i) {
      if (names[i] == abbreviation) displayNames[i] = os::LocaleLanguageName(locale).substr(0, 255);
    }
  }
  const TkxPackages& packages = *MainDatabase().Packages;
  std::string lngFolder =
      packages.Count() && packages.Items(0) ? packages.Items(0)->TempPath + "lng\\" : std::string();
  for (size_t i = 0; i < names.size(); ++i) {
    if (displayNames[i].empty()) {
      displayNames[i] = LanguageNameFromFile(lngFolder, names[i]);
    }
    list.push_back(Format("%s=%s", names[i].c_str(), displayNames[i].c_str()));
  }
  if (list.empty()) list.push_back(kDefaultLanguage);
}

void ChooseLanguage() {
  if (!Variable("LangID", "").empty()) return;
  const std::vector<std::string>& list = LanguageList();
  auto positionOf = [&list](const std::string& name) -> int {
    for (size_t i = 0; i < list.size(); ++i) {
      if (NameOf(list[i]) == name) return static_cast<int>(i);
    }
    return -1;
  };
  int index = 0;
  std::string userLanguage =
      UpperCaseText(os::LocaleLanguageAbbreviation(os::UserDefaultLocaleId()));
  if (VariableBool("AutoSelectLanguage", true) && !userLanguage.empty()) {
    index = positionOf(userLanguage);
    if (index < 0) index = positionOf("ENU");
    if (index < 0) index = 0;
  }
  SetLanguage(NameOf(list[static_cast<size_t>(index)]));
}

bool ResolveChoices() {
  TkxMainDatabase& database = MainDatabase();
  TkxComponents& components = *database.Components;
  if (database.Features->Count() == 0) {
    for (int index = 0; index < components.Count(); ++index) {
      TkxComponent* component = components.Items(index);
      if (component && CheckCondition(*component)) ChooseComponent(*component);
    }
  } else if (!ChooseComponentsOfFeatures(database)) {
    return false;
  }
  const std::string mainName = ChangeFileExt(ExtractFileName(RunState().SetupFileName), "");
  for (int index = components.Count() - 1; index >= 0; --index) {
    TkxComponent* component = components.Items(index);
    if (!component || !component->Selected) {
      components.Delete(index);
    } else if (component->Package.empty()) {
      component->Package = mainName;
    }
  }
  for (int index = 0; index < components.Count(); ++index) {
    const std::string& name = components.Items(index)->Package;
    TkxPackage* package = PackageNamed(name);
    if (!package) {
      ErrorBox("Package not found",
               Format("Can't find package \"%s\" in main database!", name.c_str()));
      return false;
    }
    package->Needed = true;
  }
  TkxPackages& packages = *database.Packages;
  for (int index = packages.Count() - 1; index >= 1; --index) {
    if (!packages.Items(index) || !packages.Items(index)->Needed) packages.Delete(index);
  }
  return true;
}

bool PrepareFurtherPackages() {
  TkxPackages& packages = *MainDatabase().Packages;
  const std::string folder = WithTrailingBackslash(os::GetCurrentDir());
  for (int index = 1; index < packages.Count(); ++index) {
    TkxPackage& package = *packages.Items(index);
    // The name comes from the project database and becomes the package's folder under ours.
    const std::string fileName = package.FileName + ".kxp";
    if (!IsSafeFileName(fileName)) return ReportUnsafeName(*packages.Items(0), fileName);
    package.FullFileName = folder + fileName;
    package.Prepared = false;  // whatever the database says, this run has not unpacked it
    if (!CheckPackage(package)) return false;
  }
  if (!PreparePackages()) {
    ErrorBox("Packages preparing error", "Can't prepare packages!");
    return false;
  }
  for (int index = 1; index < packages.Count(); ++index) {
    if (!ReadPackageDatabase(*packages.Items(index))) return false;
  }
  return true;
}

void MergePackageComponents() {
  TkxComponents& components = *MainDatabase().Components;
  for (int index = 0; index < components.Count(); ++index) {
    TkxComponent* component = components.Items(index);
    TkxPackage* package = component ? PackageNamed(component->Package) : nullptr;
    if (!package) continue;
    auto* full = dynamic_cast<TkxComponent*>(package->Components->FindByID(component->ID()));
    if (!full) continue;
    full->Package = component->Package;
    component->Assign(*full);
  }
}

void PreselectInstallType() {
  TkxMainDatabase& database = MainDatabase();
  TkxInstallTypes& types = *database.InstallTypes;
  const TRunState& state = RunState();
  if (state.RepairMode || state.ResumeMode) {
    const std::string& id =
        state.RepairMode ? SilentSettings().ActiveInstallType : database.ActiveInstallType;
    types.Active = dynamic_cast<TkxInstallType*>(types.FindByID(id));
    return;
  }
  if (types.Count() > 0) {
    const TkxInstallType* chosen = types.Items(0);
    for (int index = 0; index < types.Count(); ++index) {
      const TkxInstallType* type = types.Items(index);
      if (type && type->Default && CheckCondition(*type)) {
        chosen = type;
        break;
      }
    }
    if (chosen) ApplyInstallType(database, chosen->ID);
    return;
  }
  TkxFeatures& features = *database.Features;
  for (int index = 0; index < features.Count(); ++index) {
    TkxFeature* feature = features.Items(index);
    if (feature && CheckCondition(*feature)) SetFeatureSelected(*feature, true);
  }
}

bool MainDriver() {
  TRunState& state = RunState();
  os::InitCommonControls();
  IniDefaults().Unquote = false;
  state.SetupFileName = os::ModuleFileName();
  MessageBoxSettings().setForeground = true;
  DriverWindows windows;
  ConditionsEnabled = true;
  if (!windows.CreateWindow()) {
    ShowErrorBox("Can't create main window!");
    return false;
  }
  if (!state.ResumeMode && !WriteUnpackLibrary(state.SetupTempPath)) return false;
  LanguageList().clear();
  SetOfferedLanguages(&LanguageList());
  std::string savedDir = os::GetCurrentDir();
  os::SetCurrentDir(ExtractFilePath(state.SetupFileName));

  DriverProgress progress;
  bool result = false;
  try {
    result = RunPhases(progress);
  } catch (...) {
    CleanUp(false, progress, savedDir);
    throw;
  }
  return CleanUp(result, progress, savedDir) && result;
}

namespace {

// The diagnostic log, when the command line asks for one, opened with what the run starts from.
void StartDiagnosticLog() {
  const std::string path = diag::LogPathIn(os::CommandLine());
  if (path.empty()) return;
  if (!diag::Open(FullPath(path))) {
    ShowWarningBox(Format("Cannot create the log file \"%s\": %s", path.c_str(),
                          os::LastErrorMessage().c_str()));
    return;
  }
  diag::Line("command line: " + os::CommandLine());
  diag::Line("engine: " + os::ModuleFileName());
  diag::Line("Windows: " + WinVersion().Description);
  diag::Linef("user's locale: %04X; current folder: %s", os::UserDefaultLocaleId(),
              os::GetCurrentDir().c_str());
}

}  // namespace

int RunSetup() {
  // The shell-link object of the shortcut phase, and the other COM objects, live on this thread.
  const os::ComScope com;
  TRunState& state = RunState();
  XMLSettings().KeepValueSpaces = true;
  bool result = false;
  os::OnStopRequest(RemoveTempFolderOnStop, -1);
  os::OnCrash(ReportCrash, -1);
  StartDiagnosticLog();
  try {
    std::string resumeFolder;
    if (ResumeFolderFromCommandLine(resumeFolder)) {
      diag::Line("resuming the run saved in " + resumeFolder);
      state.ResumeMode = true;
      TempFolderGuard().Adopt(resumeFolder);
      if (!LoadRunState(resumeFolder))
        ShowErrorBox("Cannot resume installation.");
      else
        result = MainDriver();
    } else {
      TempFolderGuard().Create(CreateTempFolders);
      result = MainDriver();
    }
  } catch (const std::exception& error) {
    ShowErrorBox(error.what());
    result = false;
  }
  TempFolderGuard().Remove(false);
  if (result && state.RebootAtExit) {
    diag::Line("the system restarts");
    RestartWindows(false);
  }
  const int exitCode = result ? 0 : -1;
  diag::Close(Format("exit code %d", exitCode));
  return exitCode;
}
