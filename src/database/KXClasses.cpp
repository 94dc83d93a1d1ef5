#include "database/KXClasses.h"

#include <algorithm>

#include "support/Errors.h"
#include "support/zrFileUtils.h"
#include "support/zrRegIni.h"
#include "support/zrShell.h"
#include "support/zrStrUtils.h"

// ---------------------------------------------------------------------------------------------
// Property tables: one line per bound property, in declared order (the binding sorts them).
// clang-format off

KX_XML_PROPERTIES(TkxConditionObject, TXMLObject,
    Prop("Condition", &TkxConditionObject::Condition))

KX_XML_PROPERTIES(TkxActionObject, TkxConditionObject,
    Prop("Flags", &TkxActionObject::Flags),
    Prop("Action", &TkxActionObject::Action))

KX_XML_PROPERTIES(TkxFile, TkxActionObject,
    Prop("Src", &TkxFile::Src),
    Prop("Dst", &TkxFile::Dst))

KX_XML_PROPERTIES(TkxReg, TkxActionObject,
    Prop("Key", &TkxReg::Key),
    Prop("Param", &TkxReg::Param),
    Prop("Value", &TkxReg::Value),
    Prop("ParamType", &TkxReg::ParamType))

KX_XML_PROPERTIES(TkxIni, TkxActionObject,
    Prop("IniFile", &TkxIni::IniFile),
    Prop("Section", &TkxIni::Section),
    Prop("Param", &TkxIni::Param),
    Prop("Value", &TkxIni::Value))

KX_XML_PROPERTIES(TkxShortcut, TkxActionObject,
    Prop("Name", &TkxShortcut::Name),
    Prop("CmdLine", &TkxShortcut::CmdLine),
    Prop("Arg", &TkxShortcut::Arg),
    Prop("WorkDir", &TkxShortcut::WorkDir),
    Prop("ShowCmd", &TkxShortcut::ShowCmd),
    Prop("IconFile", &TkxShortcut::IconFile),
    Prop("Icon", &TkxShortcut::Icon),
    Prop("Hotkey", &TkxShortcut::Hotkey),
    Prop("Description", &TkxShortcut::Description))

KX_XML_PROPERTIES(TkxRunApp, TkxActionObject,
    Prop("CmdLine", &TkxRunApp::CmdLine),
    Prop("Arg", &TkxRunApp::Arg),
    Prop("WorkDir", &TkxRunApp::WorkDir),
    Prop("ShowCmd", &TkxRunApp::ShowCmd),
    Prop("Msg", &TkxRunApp::Msg),
    Prop("WhenStart", &TkxRunApp::WhenStart))

KX_XML_PROPERTIES(TkxFiles, TXMLObjectList)
KX_XML_PROPERTIES(TkxRegistry, TXMLObjectList)
KX_XML_PROPERTIES(TkxIniFiles, TXMLObjectList)
KX_XML_PROPERTIES(TkxShortcuts, TXMLObjectList)
KX_XML_PROPERTIES(TkxRunApps, TXMLObjectList)

KX_XML_PROPERTIES(TkxComponent, TkxConditionObject,
    Prop("ID", &TkxComponent::ID, &TkxComponent::SetID),
    Prop("Name", &TkxComponent::Name),
    Prop("Package", &TkxComponent::Package),
    Prop("Files", &TkxComponent::Files),
    Prop("Registry", &TkxComponent::Registry),
    Prop("IniFiles", &TkxComponent::IniFiles),
    Prop("Shortcuts", &TkxComponent::Shortcuts),
    Prop("RunApps", &TkxComponent::RunApps))

KX_XML_PROPERTIES(TkxComponents, TXMLObjectList)
KX_XML_PROPERTIES(TkxFeatures, TXMLObjectList)

KX_XML_PROPERTIES(TkxFeature, TkxConditionObject,
    Prop("ID", &TkxFeature::ID),
    Prop("Name", &TkxFeature::Name),
    Prop("Description", &TkxFeature::Description),
    Prop("Required", &TkxFeature::Required),
    Prop("Features", &TkxFeature::Features),
    Prop("Depends", &TkxFeature::Depends),
    Prop("Components", &TkxFeature::Components))

KX_XML_PROPERTIES(TkxInstallType, TkxConditionObject,
    Prop("ID", &TkxInstallType::ID),
    Prop("Name", &TkxInstallType::Name),
    Prop("Description", &TkxInstallType::Description),
    Prop("Features", &TkxInstallType::Features),
    Prop("Default", &TkxInstallType::Default),
    Prop("Custom", &TkxInstallType::Custom))

KX_XML_PROPERTIES(TkxInstallTypes, TXMLObjectList)

KX_XML_PROPERTIES(TkxVariable, TkxConditionObject,
    Prop("Name", &TkxVariable::Name),
    Prop("Value", &TkxVariable::Value),
    Prop("DefValue", &TkxVariable::DefValue),
    Prop("RegKey", &TkxVariable::RegKey),
    Prop("RegParam", &TkxVariable::RegParam),
    Prop("IniFile", &TkxVariable::IniFile),
    Prop("IniSection", &TkxVariable::IniSection),
    Prop("IniParam", &TkxVariable::IniParam),
    Prop("VarType", &TkxVariable::VarType))

KX_XML_PROPERTIES(TkxVariables, TXMLParamList)

KX_XML_PROPERTIES(TkxLaunchCondition, TkxConditionObject,
    Prop("Msg", &TkxLaunchCondition::Msg))

KX_XML_PROPERTIES(TkxLaunchConditions, TXMLObjectList)

KX_XML_PROPERTIES(TkxFileInfo, TXMLObject,
    Prop("Name", &TkxFileInfo::Name),
    Prop("Size", &TkxFileInfo::Size),
    Prop("Version", &TkxFileInfo::Version),
    Prop("FontName", &TkxFileInfo::FontName),
    Prop("AssemblyData", &TkxFileInfo::AssemblyData))

KX_XML_PROPERTIES(TkxFileInfos, TXMLObjectList)

KX_XML_PROPERTIES(TkxParam, TXMLObject,
    Prop("Name", &TkxParam::Name),
    Prop("Value", &TkxParam::Value))

KX_XML_PROPERTIES(TkxParamGroup, TXMLObjectList,
    Prop("Name", &TkxParamGroup::Name))

KX_XML_PROPERTIES(TkxPluginSimpleConfig, TXMLObjectList,
    Prop("ParamGroup", &TkxPluginSimpleConfig::ParamGroup))

KX_XML_PROPERTIES(TkxPlugin, TkxConditionObject,
    Prop("ID", &TkxPlugin::ID),
    Prop("ConfigFile", &TkxPlugin::ConfigFile),
    Prop("DebugDll", &TkxPlugin::DebugDll),
    Prop("Config", &TkxPlugin::Config),
    Prop("CustomConfig", &TkxPlugin::CustomConfig))

KX_XML_PROPERTIES(TkxPlugins, TXMLObjectList)

KX_XML_PROPERTIES(TkxPackage, TXMLObject,
    Prop("FileName", &TkxPackage::FileName),
    Prop("Components", &TkxPackage::Components),
    Prop("Plugins", &TkxPackage::Plugins),
    Prop("Variables", &TkxPackage::Variables),
    Prop("FileInfos", &TkxPackage::FileInfos),
    Prop("TempPath", &TkxPackage::TempPath),
    Prop("FullFileName", &TkxPackage::FullFileName),
    Prop("Needed", &TkxPackage::Needed),
    Prop("Prepared", &TkxPackage::Prepared),
    Prop("PresetupSize", &TkxPackage::PresetupSize),
    Prop("DataSize", &TkxPackage::DataSize))

KX_XML_PROPERTIES(TkxPackages, TXMLObjectList)

KX_XML_PROPERTIES(TkxMainDatabase, TXMLObject,
    Prop("Version", &TkxMainDatabase::Version),
    Prop("Variables", &TkxMainDatabase::Variables),
    Prop("Packages", &TkxMainDatabase::Packages),
    Prop("Components", &TkxMainDatabase::Components),
    Prop("Features", &TkxMainDatabase::Features),
    Prop("InstallTypes", &TkxMainDatabase::InstallTypes),
    Prop("LaunchConditions", &TkxMainDatabase::LaunchConditions),
    Prop("TempFontsPath", &TkxMainDatabase::TempFontsPath),
    Prop("TempGACPath", &TkxMainDatabase::TempGACPath),
    Prop("TempBackupPath", &TkxMainDatabase::TempBackupPath),
    Prop("InstallState", &TkxMainDatabase::InstallState),
    Prop("InstallStateData", &TkxMainDatabase::InstallStateData),
    Prop("ActiveInstallType", &TkxMainDatabase::ActiveInstallType),
    Prop("RebootOnFinish", &TkxMainDatabase::RebootOnFinish))

KX_XML_PROPERTIES(TkxSilentSettings, TXMLObject,
    Prop("Variables", &TkxSilentSettings::Variables),
    Prop("Features", &TkxSilentSettings::Features),
    Prop("ActiveInstallType", &TkxSilentSettings::ActiveInstallType))

// clang-format on

// ---------------------------------------------------------------------------------------------
// Behaviour

TkxMainDatabase* MainDatabaseOf(const TXMLObject& object) {
  for (const TXMLObject* o = &object; o; o = o->Owner) {
    if (auto* database = dynamic_cast<const TkxMainDatabase*>(o)) {
      return const_cast<TkxMainDatabase*>(database);
    }
  }
  return nullptr;
}

bool TkxConditionObject::ConditionHolds() const { return CheckCondition(*this); }

std::string TkxReg::PropertyNameOf(const std::string& xmlName, bool isElement) const {
  if (!isElement && SameText(xmlName, "type")) return "ParamType";
  return xmlName;
}
std::string TkxReg::XMLNameOf(const std::string& propertyName, bool isElement) const {
  if (!isElement && SameText(propertyName, "ParamType")) return "type";
  return propertyName;
}

std::string TkxIni::PropertyNameOf(const std::string& xmlName, bool isElement) const {
  if (!isElement && SameText(xmlName, "file")) return "IniFile";
  return xmlName;
}
std::string TkxIni::XMLNameOf(const std::string& propertyName, bool isElement) const {
  if (!isElement && SameText(propertyName, "IniFile")) return "file";
  return propertyName;
}

std::string TkxShortcut::EnumPrefix(const std::string& propertyName) const {
  return SameText(propertyName, "ShowCmd") ? "sc" : "";
}
std::string TkxRunApp::EnumPrefix(const std::string& propertyName) const {
  return SameText(propertyName, "ShowCmd") ? "sc" : "";
}

void TkxComponent::SetID(const std::string& id) {
  if (id == id_) return;
  if (Name.empty()) Name = id;
  id_ = id;
}

void TkxInstallTypes::Clear() {
  Active = nullptr;
  TkxListOf::Clear();
}

std::string TkxVariable::PropertyNameOf(const std::string& xmlName, bool isElement) const {
  if (!isElement && SameText(xmlName, "type")) return "VarType";
  return xmlName;
}
std::string TkxVariable::XMLNameOf(const std::string& propertyName, bool isElement) const {
  if (!isElement && SameText(propertyName, "VarType")) return "type";
  return propertyName;
}
std::string TkxVariable::EnumPrefix(const std::string& propertyName) const {
  return SameText(propertyName, "VarType") ? "vt" : "";
}
bool TkxVariable::CanSave(const TXMLTag&) const { return !IsRuntime; }

bool TkxVariables::SameItem(const TXMLObject& newItem, const TXMLObject& oldItem) const {
  auto* a = dynamic_cast<const TkxVariable*>(&newItem);
  auto* b = dynamic_cast<const TkxVariable*>(&oldItem);
  return a && b && SameText(a->Name, b->Name) && a->Condition == b->Condition;
}

const TXMLClassInfo& TkxVariables::DefaultItemClass() const {
  return TkxVariable::StaticClassInfo();
}

TkxVariable* TkxVariables::FindByName(const std::string& name) const {
  for (int i = 0; i < Count(); ++i) {
    TkxVariable* variable = Items(i);
    if (variable && SameText(variable->Name, name) && variable->ConditionHolds()) return variable;
  }
  return nullptr;
}

TkxFileInfo* TkxFileInfos::FindByName(const std::string& name) const {
  return dynamic_cast<TkxFileInfo*>(FindByProperty("Name", name, false));
}

TkxPackage* TkxPackages::FindByFileName(const std::string& name) const {
  return dynamic_cast<TkxPackage*>(FindByProperty("FileName", name, false));
}

const TkxParamGroup* TkxPluginSimpleConfig::FindGroup(const std::string& groupName) const {
  for (int i = 0; i < Count(); ++i) {
    const TkxParamGroup* group = Items(i);
    if (group && SameText(group->Name, groupName)) return group;
  }
  return nullptr;
}

std::string TkxPluginSimpleConfig::GetParam(const std::string& groupName,
                                            const std::string& paramName,
                                            const std::string& defaultValue) const {
  const TkxParamGroup* group = FindGroup(groupName);
  if (!group) return defaultValue;
  for (int i = 0; i < group->Count(); ++i) {
    const TkxParam* param = group->Items(i);
    if (param && SameText(param->Name, paramName)) return param->Value;
  }
  return defaultValue;
}

std::vector<std::string> TkxPluginSimpleConfig::GetGroupNames() const {
  std::vector<std::string> names;
  for (int i = 0; i < Count(); ++i) {
    if (const TkxParamGroup* group = Items(i)) names.push_back(group->Name);
  }
  return names;
}

std::vector<std::string> TkxPluginSimpleConfig::GetParamNames(const std::string& groupName) const {
  std::vector<std::string> names;
  const TkxParamGroup* group = FindGroup(groupName);
  if (!group) return names;
  for (int i = 0; i < group->Count(); ++i) {
    if (const TkxParam* param = group->Items(i)) names.push_back(param->Name);
  }
  return names;
}

// ---------------------------------------------------------------------------------------------
// Services: conditions

std::atomic<bool> ConditionsEnabled{false};
std::function<bool(const std::string& condition)> ConditionHook;

bool CheckCondition(const TkxConditionObject& object) {
  if (!ConditionsEnabled || object.Condition.empty() || !ConditionHook) return true;
  return ConditionHook(object.Condition);
}

// ---------------------------------------------------------------------------------------------
// Services: variables and text expansion

namespace {

constexpr int32_t kMaxExpansionDepth = 100;

// The nesting of ExpandText on this thread. Per thread, because the worker thread of the file
// phase expands destinations while the main thread may be in the middle of an expansion of its
// own (a plug-in asking for a text while it shows progress); one shared counter would let the
// two nestings add up to a false "infinite reference".
thread_local int32_t ExpansionDepth = 0;

// Counts one level for the life of one ExpandText call, whichever way the call ends.
class ExpansionLevel {
 public:
  ExpansionLevel() { ++ExpansionDepth; }
  ~ExpansionLevel() { --ExpansionDepth; }
  ExpansionLevel(const ExpansionLevel&) = delete;
  ExpansionLevel& operator=(const ExpansionLevel&) = delete;
};

// A context resolved into the package (none for a main database) and the main database behind
// it (none for a package that belongs to no database).
struct VariableScope {
  TkxPackage* package = nullptr;
  TkxMainDatabase* database = nullptr;
};

VariableScope ScopeOf(const TXMLObject* context) {
  if (!context) throw KxError("Package database was not assigned.");
  VariableScope scope;
  if (auto* database = dynamic_cast<const TkxMainDatabase*>(context)) {
    scope.database = const_cast<TkxMainDatabase*>(database);
  } else if (auto* package = dynamic_cast<const TkxPackage*>(context)) {
    scope.package = const_cast<TkxPackage*>(package);
    // The package's list belongs to the main database.
    if (package->Owner) scope.database = dynamic_cast<TkxMainDatabase*>(package->Owner->Owner);
  } else {
    throw KxError("Wrong class has been specified.");
  }
  return scope;
}

TkxVariable* FindVariable(const VariableScope& scope, const std::string& name) {
  if (scope.package && scope.package->Variables) {
    if (TkxVariable* variable = scope.package->Variables->FindByName(name)) return variable;
  }
  if (scope.database && scope.database->Variables) {
    return scope.database->Variables->FindByName(name);
  }
  return nullptr;
}

}  // namespace

std::string ExpandText(const TXMLObject* context, const std::string& text) {
  ExpansionLevel level;
  if (ExpansionDepth > kMaxExpansionDepth) {
    throw KxError(Format("Infinite reference in the string \"%s\".", text.c_str()));
  }
  std::string output;
  size_t position = 0;
  while (position < text.size()) {
    size_t open = text.find('%', position);
    if (open == std::string::npos) break;
    output.append(text, position, open - position);
    if (open + 1 < text.size() && text[open + 1] == '%') {
      output += '%';
      position = open + 2;
      continue;
    }
    size_t close = text.find('%', open + 1);
    if (close == std::string::npos) {
      // A lone "%" is an ordinary character.
      position = open;
      break;
    }
    std::string name = text.substr(open + 1, close - open - 1);
    output += GetVariable(context, name, "%" + name + "%");
    position = close + 1;
  }
  if (position < text.size()) output.append(text, position, std::string::npos);
  return ReplaceAll(output, "||", "\r\n");
}

std::string GetVariable(const TXMLObject* context, const std::string& name,
                        const std::string& defaultValue) {
  if (name.empty()) return "";
  const VariableScope scope = ScopeOf(context);
  TkxVariable* variable = FindVariable(scope, name);
  std::string result = variable ? ValueOf(*variable) : defaultValue;
  // A value that is its own reference stays as it is rather than looping.
  if (SameText(result, "%" + name + "%")) return result;
  return ExpandText(context, result);
}

std::string ValueOf(const TkxVariable& variable) {
  // References in the source fields belong to the list's owner: the database or the package.
  const TXMLObject* context = variable.Owner ? variable.Owner->Owner : nullptr;
  switch (variable.VarType) {
    case TkxVarType::vtReg:
      return RegReadText(ExpandText(context, variable.RegKey),
                         ExpandText(context, variable.RegParam), variable.DefValue);
    case TkxVarType::vtIni:
      return IniReadString(ExpandText(context, variable.IniFile),
                           ExpandText(context, variable.IniSection),
                           ExpandText(context, variable.IniParam), variable.DefValue);
    case TkxVarType::vtNormal:
      break;
  }
  return variable.Value;
}

void SetVariable(TXMLObject* context, const std::string& name, const std::string& value) {
  if (name.empty()) return;
  const VariableScope scope = ScopeOf(context);
  if (TkxVariable* variable = FindVariable(scope, name)) {
    variable->Value = value;
    return;
  }
  // A package cut off from its database has nowhere to keep a new variable; failing loudly
  // beats a value that silently vanishes.
  if (!scope.database || !scope.database->Variables) {
    throw KxError("Package database was not assigned.");
  }
  TkxVariable& variable = scope.database->Variables->AddNew();
  variable.Name = name;
  variable.Value = value;
}

int32_t GetVariableInt(const TXMLObject* context, const std::string& name, int32_t defaultValue) {
  return ReadInt(GetVariable(context, name, std::to_string(defaultValue)), defaultValue);
}

bool GetVariableBool(const TXMLObject* context, const std::string& name, bool defaultValue) {
  return GetVariableInt(context, name, defaultValue ? 1 : 0) != 0;
}

void SetVariableInt(TXMLObject* context, const std::string& name, int32_t value) {
  SetVariable(context, name, std::to_string(value));
}

void SetVariableBool(TXMLObject* context, const std::string& name, bool value) {
  SetVariableInt(context, name, value ? 1 : 0);
}

void SetVariablePath(TXMLObject* context, const std::string& name, const std::string& path) {
  SetVariable(context, name, WithoutTrailingBackslash(Trim(path)));
}

namespace {

void MarkRuntime(TkxMainDatabase& database, const std::string& name) {
  if (!database.Variables) return;
  if (TkxVariable* variable = database.Variables->FindByName(name)) variable->IsRuntime = true;
}

}  // namespace

void SetRuntimeVariable(TkxMainDatabase& database, const std::string& name,
                        const std::string& value) {
  if (name.empty()) return;
  SetVariable(&database, name, value);
  MarkRuntime(database, name);
}

void SetRuntimePath(TkxMainDatabase& database, const std::string& name, const std::string& path) {
  if (name.empty()) return;
  SetVariablePath(&database, name, path);
  MarkRuntime(database, name);
}

// ---------------------------------------------------------------------------------------------
// Services: predefined variables

namespace {

struct ShellFolderRow {
  const char* name;
  int csidl;
  int fallback;  // -1: none
};

// CSIDL numbers of the Windows shell.
constexpr ShellFolderRow kShellFolderRows[] = {
    {"Desktop", 16, -1},
    {"Fonts", 20, -1},
    {"NetHood", 19, -1},
    {"Personal", 5, -1},
    {"ProgramsMenu", 2, -1},
    {"Recent", 8, -1},
    {"SendTo", 9, -1},
    {"StartMenu", 11, -1},
    {"StartupMenu", 7, -1},
    {"Templates", 21, -1},
    {"CommonStartMenu", 22, 11},
    {"CommonProgramsMenu", 23, 2},
    {"CommonStartupMenu", 24, 7},
    {"CommonDesktop", 25, 16},
};

struct RegistryFolderRow {
  const char* name;
  const char* key;
  const char* value;
  const char* defaultValue;  // kept unexpanded: expanded at each read
};

constexpr RegistryFolderRow kRegistryFolderRows[] = {
    {"ProgramFiles", "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\", "ProgramFilesDir",
     "%BootDrive%\\Program Files"},
    {"CommonFiles", "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\", "CommonFilesDir",
     "%ProgramFiles%\\Common Files"},
    {"ApplicationData",
     "HKCU\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders\\", "AppData",
     "%Windows%\\Application Data"},
    {"Office97", "HKLM\\SOFTWARE\\Microsoft\\Office\\8.0\\Common\\InstallRoot\\", "OfficeBin",
     "%ProgramFiles%\\Microsoft Office\\Office"},
    {"Office2000", "HKLM\\SOFTWARE\\Microsoft\\Office\\9.0\\Common\\InstallRoot\\", "Path",
     "%ProgramFiles%\\Microsoft Office\\Office"},
};

constexpr char kDelphiKey[] = "HKLM\\SOFTWARE\\Borland\\Delphi";
constexpr char kVirtualRootsKey[] =
    "HKLM\\SYSTEM\\CurrentControlSet\\Services\\W3SVC\\Parameters\\Virtual Roots\\";

// The drive of a path: "C:" of "C:\...", "\\server\share" of a UNC path, "" otherwise.
std::string DrivePart(const std::string& path) {
  if (path.size() >= 2 && path[1] == ':') return path.substr(0, 2);
  if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') {
    size_t server = path.find('\\', 2);
    if (server == std::string::npos) return path;
    size_t share = path.find('\\', server + 1);
    return share == std::string::npos ? path : path.substr(0, share);
  }
  return "";
}

std::string DelphiRoot() {
  std::vector<std::string> versions;
  RegListSubkeys(kDelphiKey, versions);
  if (versions.empty()) return "C:";
  std::sort(versions.begin(), versions.end(), [](const std::string& a, const std::string& b) {
    return os::CompareTextIgnoreCase(a, b) < 0;
  });
  return RegReadText(std::string(kDelphiKey) + "\\" + versions.back(), "RootDir", "");
}

}  // namespace

void AddFolderVariables(TkxMainDatabase& database) {
  SetRuntimeVariable(
      database, "BootDrive",
      DrivePart(
          RegReadText("HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Setup", "BootDir", "")));
  SetRuntimePath(database, "Windows", os::WindowsDir());
  SetRuntimePath(database, "System", os::SystemDir());

  for (const ShellFolderRow& row : kShellFolderRows) {
    std::string path = os::GetSpecialFolder(row.csidl);
    if (path.empty() && row.fallback >= 0) path = os::GetSpecialFolder(row.fallback);
    SetRuntimePath(database, row.name, path);
  }
  for (const RegistryFolderRow& row : kRegistryFolderRows) {
    SetRuntimePath(database, row.name, RegReadText(row.key, row.value, row.defaultValue));
  }

  std::string bde =
      TextBefore(RegReadText("HKLM\\SOFTWARE\\Borland\\Database Engine", "DLLPATH", ""), ';');
  if (bde.empty()) bde = "%CommonFiles%\\Borland Shared\\BDE";
  SetRuntimePath(database, "BDE", bde);
  SetRuntimePath(database, "Delphi", DelphiRoot());
  SetRuntimeVariable(database, "Date", os::ShortDateText(os::LocalTime()));
  SetRuntimePath(database, "IIS-WWWRoot",
                 TextBefore(RegReadText(kVirtualRootsKey, "/", "%BootDrive%\\wwwroot"), ','));
  SetRuntimePath(
      database, "IIS-Scripts",
      TextBefore(RegReadText(kVirtualRootsKey, "/Scripts", "%IIS-WWWRoot%\\scripts"), ','));
}

void AddEnvironmentVariables(TkxMainDatabase& database) {
  std::vector<std::string> lines;
  EnvironmentStrings(lines);
  // Sorted by name so that, where a system lists a name twice in different case, the choice of
  // the one that counts does not depend on the block's order.
  std::stable_sort(lines.begin(), lines.end(), [](const std::string& a, const std::string& b) {
    return os::CompareTextIgnoreCase(TextBefore(a, '='), TextBefore(b, '=')) < 0;
  });
  for (const std::string& line : lines) {
    // Windows keeps the current folders of drives as "=C:=C:\..." entries: no name, skipped.
    std::string name = TextBefore(line, '=');
    if (name.empty()) continue;
    if (database.Variables && database.Variables->FindByName(name)) continue;
    SetRuntimeVariable(database, name, TextAfter(line, '='));
  }
}

// ---------------------------------------------------------------------------------------------
// Services: features

namespace {

void NotifyFeatureState(TkxFeature& feature) {
  TkxMainDatabase* database = MainDatabaseOf(feature);
  if (database && database->OnFeatureStateChanged) database->OnFeatureStateChanged(&feature);
}

bool HasSubFeatures(const TkxFeature& feature) {
  return feature.Features && feature.Features->Count() > 0;
}

}  // namespace

int FeatureState(const TkxFeature& feature) {
  if (!feature.Selected) return 0;
  return feature.Partial ? 2 : 1;
}

void SetFeatureSelected(TkxFeature& feature, bool value) {
  if (!CheckCondition(feature)) return;
  const int old = FeatureState(feature);
  if (feature.Required) value = true;
  feature.Selected = value;
  feature.Partial = false;
  if (FeatureState(feature) != old) NotifyFeatureState(feature);
  if (!feature.Features) return;
  for (int i = 0; i < feature.Features->Count(); ++i) {
    if (TkxFeature* sub = feature.Features->Items(i)) SetFeatureSelected(*sub, value);
  }
}

int UpdateFeatureState(TkxFeature& feature) {
  if (!CheckCondition(feature)) return 0;
  if (HasSubFeatures(feature)) {
    const int old = FeatureState(feature);
    const int state = UpdateFeaturesState(*feature.Features);
    feature.Selected = state != 0;
    feature.Partial = state == 2;
    if (FeatureState(feature) != old) NotifyFeatureState(feature);
  }
  return FeatureState(feature);
}

int UpdateFeaturesState(TkxFeatures& features) {
  int combined = 0;
  int first = -1;
  for (int i = 0; i < features.Count(); ++i) {
    TkxFeature* feature = features.Items(i);
    const int state = feature ? UpdateFeatureState(*feature) : 0;
    if (first < 0) {
      first = state;
      combined = state;
    } else if (state == 2 || state != first) {
      combined = 2;
    }
  }
  return combined;
}

TkxFeature* FirstAvailable(const TkxFeatures& features, int from) {
  for (int i = std::max(from, 0); i < features.Count(); ++i) {
    TkxFeature* feature = features.Items(i);
    if (feature && CheckCondition(*feature)) return feature;
  }
  return nullptr;
}

TkxFeature* FindFeature(const TkxFeatures& features, const std::string& id, TkxFeature*& parent,
                        TkxFeature*& next) {
  next = nullptr;
  if (features.Count() == 0) return nullptr;
  std::string wanted = id;
  if (wanted.empty()) {
    TkxFeature* first = FirstAvailable(features, 0);
    if (!first) return nullptr;
    wanted = first->ID;
  }
  for (int i = 0; i < features.Count(); ++i) {
    TkxFeature* item = features.Items(i);
    if (!item || !CheckCondition(*item)) continue;
    TkxFeature* found = nullptr;
    if (SameText(item->ID, wanted)) {
      found = item;
      if (HasSubFeatures(*item)) next = FirstAvailable(*item->Features, 0);
    } else if (HasSubFeatures(*item)) {
      TkxFeature* subParent = item;
      TkxFeature* subNext = nullptr;
      found = FindFeature(*item->Features, wanted, subParent, subNext);
      if (found) {
        parent = subParent;
        next = subNext;
      }
    }
    if (found) {
      // The last of a sub-list continues with its parent's next sibling.
      if (!next) next = FirstAvailable(features, i + 1);
      return found;
    }
  }
  return nullptr;
}

bool SelectFeature(TkxMainDatabase& database, const std::string& id, bool value) {
  if (!database.Features) return false;
  TkxFeature* parent = nullptr;
  TkxFeature* next = nullptr;
  TkxFeature* feature = FindFeature(*database.Features, id, parent, next);
  if (!feature) return false;
  SetFeatureSelected(*feature, value);
  UpdateFeaturesState(*database.Features);
  return feature->Selected == value;
}

// ---------------------------------------------------------------------------------------------
// Services: install types

TkxInstallType* FindInstallType(const TkxInstallTypes& installTypes, const std::string& id,
                                TkxInstallType*& next) {
  next = nullptr;
  const int count = installTypes.Count();
  auto available = [&](int index) {
    TkxInstallType* type = installTypes.Items(index);
    return type && CheckCondition(*type) ? type : nullptr;
  };
  std::string wanted = id;
  if (wanted.empty()) {
    int i = 0;
    while (i < count && !available(i)) ++i;
    if (i == count) return nullptr;
    wanted = installTypes.Items(i)->ID;
  }
  for (int i = 0; i < count; ++i) {
    TkxInstallType* type = available(i);
    if (!type || !SameText(type->ID, wanted)) continue;
    for (int j = i + 1; j < count && !next; ++j) next = available(j);
    return type;
  }
  return nullptr;
}

bool ApplyInstallType(TkxMainDatabase& database, const std::string& id) {
  if (!database.InstallTypes) return false;
  auto* type = dynamic_cast<TkxInstallType*>(database.InstallTypes->FindByID(id));
  if (!type || !CheckCondition(*type)) return false;
  database.InstallTypes->Active = type;
  database.ActiveInstallType = type->ID;
  if (database.Features) {
    TkxFeatures& features = *database.Features;
    for (int i = 0; i < features.Count(); ++i) {
      if (TkxFeature* feature = features.Items(i)) SetFeatureSelected(*feature, false);
    }
    if (type->Features) {
      for (int i = 0; i < type->Features->Count(); ++i) {
        TkxFeature* reference = type->Features->Items(i);
        if (!reference) continue;
        TkxFeature* parent = nullptr;
        TkxFeature* next = nullptr;
        if (TkxFeature* found = FindFeature(features, reference->ID, parent, next)) {
          SetFeatureSelected(*found, true);
        }
      }
    }
    UpdateFeaturesState(features);
  }
  if (database.OnInstallTypeChanged) database.OnInstallTypeChanged(type);
  return true;
}
