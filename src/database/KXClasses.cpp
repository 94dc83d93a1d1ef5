#include "database/KXClasses.h"

#include "support/zrStrUtils.h"

namespace {

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && UpperCaseText(a) == UpperCaseText(b);
}

}  // namespace

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

bool TkxConditionObject::ConditionHolds() const {
  if (Condition.empty()) return true;
  TkxMainDatabase* database = MainDatabaseOf(*this);
  if (!database || !database->ConditionEvaluator) return true;
  return database->ConditionEvaluator(Condition);
}

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
