// KXClasses: the project database schema. The classes that describe one installation (packages,
// components and their items, features, install types, variables, launch conditions,
// plug-ins), the silent-settings answers, and the XML names they load from and save to through
// the object binding (database/zrXMLObject.h).
//
// One TkxMainDatabase exists per run; every object's Owner chain ends at it (or at a
// TkxSilentSettings, or at a copy made without owner). Main thread only, like the binding.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "database/zrXMLObject.h"

// Root element names of the files in this format.
inline constexpr char kProjectRootName[] = "kx2project";
inline constexpr char kSilentSettingsRootName[] = "silentsettings";
inline constexpr char kInstallActionsRootName[] = "installactions";

// ---------------------------------------------------------------------------------------------
// Enumerations and sets. The names tables give the enumerator names in ordinal order; XML texts
// are these names, lower-cased, without the property's prefix.

enum class TkxAction : uint8_t { add, remove };
inline constexpr const char* kTkxActionNames[] = {"add", "remove"};
inline std::span<const char* const> XMLEnumNames(TkxAction) { return kTkxActionNames; }

// int_: the C++ keyword takes the plain name.
enum class TkxRegType : uint8_t { str, int_, bin, mstr };
inline constexpr const char* kTkxRegTypeNames[] = {"str", "int", "bin", "mstr"};
inline std::span<const char* const> XMLEnumNames(TkxRegType) { return kTkxRegTypeNames; }

enum class TkxShowCmd : uint8_t { scNormal, scMin, scMax, scHide };
inline constexpr const char* kTkxShowCmdNames[] = {"scNormal", "scMin", "scMax", "scHide"};
inline std::span<const char* const> XMLEnumNames(TkxShowCmd) { return kTkxShowCmdNames; }

enum class TkxWhenStart : uint8_t {
  after_install,
  before_install,
  before_uninstall,
  after_uninstall,
  before_dialogs
};
inline constexpr const char* kTkxWhenStartNames[] = {
    "after_install", "before_install", "before_uninstall", "after_uninstall", "before_dialogs"};
inline std::span<const char* const> XMLEnumNames(TkxWhenStart) { return kTkxWhenStartNames; }

enum class TkxVarType : uint8_t { vtNormal, vtReg, vtIni };
inline constexpr const char* kTkxVarTypeNames[] = {"vtNormal", "vtReg", "vtIni"};
inline std::span<const char* const> XMLEnumNames(TkxVarType) { return kTkxVarTypeNames; }

enum class TkxInstallState : uint8_t {
  isUnknown,
  isRunAppBeforeDialogs,
  isRunAppBeforeInstall,
  isRegServers,
  isRunAppAfterInstall
};
inline constexpr const char* kTkxInstallStateNames[] = {"isUnknown", "isRunAppBeforeDialogs",
                                                        "isRunAppBeforeInstall", "isRegServers",
                                                        "isRunAppAfterInstall"};
inline std::span<const char* const> XMLEnumNames(TkxInstallState) { return kTkxInstallStateNames; }

enum class TkxFlag : uint8_t {
  dont_log,
  no_version,
  reg_server,
  reg_font,
  dont_ask,
  dont_overwrite,
  external,
  shared,
  dont_wait,
  check_exitcode
};
inline constexpr const char* kTkxFlagNames[] = {
    "dont_log",       "no_version", "reg_server", "reg_font",  "dont_ask",
    "dont_overwrite", "external",   "shared",     "dont_wait", "check_exitcode"};
inline std::span<const char* const> XMLEnumNames(TkxFlag) { return kTkxFlagNames; }

using TkxFlags = TXMLSet<TkxFlag>;

// ---------------------------------------------------------------------------------------------
// Lists that map one element name to one item class, both ways.

template <class Item, const char* Element, class Base = TXMLObjectList>
class TkxListOf : public Base {
 public:
  TkxListOf(TXMLObject* owner, TXMLDeferInit defer) : Base(owner, defer) {}

  // The item at index as its class; nullptr when someone added an object of another class.
  Item* Items(int index) const { return dynamic_cast<Item*>(Base::Items(index)); }

  // Appends a new item with default values, owned by this list.
  Item& AddNew() {
    auto item = std::make_unique<Item>(this);
    Item& added = *item;
    Base::Add(std::move(item));
    return added;
  }

  const TXMLClassInfo* ItemClass(const std::string& elementName) const override {
    return elementName == Element ? &Item::StaticClassInfo() : nullptr;
  }
  std::string ItemElementName(const TXMLClassInfo& itemClass) const override {
    return &itemClass == &Item::StaticClassInfo() ? std::string(Element) : std::string();
  }
};

inline constexpr char kFileElement[] = "file";
inline constexpr char kRegElement[] = "reg";
inline constexpr char kIniElement[] = "ini";
inline constexpr char kShortcutElement[] = "shortcut";
inline constexpr char kRunAppElement[] = "runapp";
inline constexpr char kComponentElement[] = "component";
inline constexpr char kFeatureElement[] = "feature";
inline constexpr char kInstallTypeElement[] = "installtype";
inline constexpr char kVariableElement[] = "var";
inline constexpr char kLaunchConditionElement[] = "launchcondition";
inline constexpr char kPackageElement[] = "package";
inline constexpr char kFileInfoElement[] = "fileinfo";
inline constexpr char kPluginElement[] = "plugin";
inline constexpr char kParamGroupElement[] = "paramgroup";
inline constexpr char kParamElement[] = "param";

// ---------------------------------------------------------------------------------------------
// Common bases

class TkxConditionObject : public TXMLObject {
  KX_XML_CLASS(TkxConditionObject, TXMLObject)

  std::string Condition;  // empty: always true

  // CheckCondition(*this).
  bool ConditionHolds() const;
};

class TkxActionObject : public TkxConditionObject {
  KX_XML_CLASS(TkxActionObject, TkxConditionObject)

  TkxFlags Flags;
  TkxAction Action = TkxAction::add;
};

// ---------------------------------------------------------------------------------------------
// Items of a component

class TkxFile : public TkxActionObject {
  KX_XML_CLASS(TkxFile, TkxActionObject)

  std::string Src;
  std::string Dst;
};

class TkxReg : public TkxActionObject {
  KX_XML_CLASS(TkxReg, TkxActionObject)

  std::string Key;
  std::string Param;
  std::string Value;
  TkxRegType ParamType = TkxRegType::str;  // attribute "type"

  std::string PropertyNameOf(const std::string& xmlName, bool isElement) const override;
  std::string XMLNameOf(const std::string& propertyName, bool isElement) const override;
};

class TkxIni : public TkxActionObject {
  KX_XML_CLASS(TkxIni, TkxActionObject)

  std::string IniFile;  // attribute "file"
  std::string Section;
  std::string Param;
  std::string Value;

  std::string PropertyNameOf(const std::string& xmlName, bool isElement) const override;
  std::string XMLNameOf(const std::string& propertyName, bool isElement) const override;
};

class TkxShortcut : public TkxActionObject {
  KX_XML_CLASS(TkxShortcut, TkxActionObject)

  std::string Name;
  std::string CmdLine;
  std::string Arg;
  std::string WorkDir;
  TkxShowCmd ShowCmd = TkxShowCmd::scNormal;  // prefix "sc"
  std::string IconFile;
  int32_t Icon = 0;
  int32_t Hotkey = 0;
  std::string Description;

  std::string EnumPrefix(const std::string& propertyName) const override;
};

class TkxRunApp : public TkxActionObject {
  KX_XML_CLASS(TkxRunApp, TkxActionObject)

  std::string CmdLine;
  std::string Arg;
  std::string WorkDir;
  TkxShowCmd ShowCmd = TkxShowCmd::scNormal;  // prefix "sc"
  std::string Msg;
  TkxWhenStart WhenStart = TkxWhenStart::after_install;

  std::string EnumPrefix(const std::string& propertyName) const override;
};

class TkxFiles : public TkxListOf<TkxFile, kFileElement> {
  KX_XML_CLASS(TkxFiles, TkxListOf)
};
class TkxRegistry : public TkxListOf<TkxReg, kRegElement> {
  KX_XML_CLASS(TkxRegistry, TkxListOf)
};
class TkxIniFiles : public TkxListOf<TkxIni, kIniElement> {
  KX_XML_CLASS(TkxIniFiles, TkxListOf)
};
class TkxShortcuts : public TkxListOf<TkxShortcut, kShortcutElement> {
  KX_XML_CLASS(TkxShortcuts, TkxListOf)
};
class TkxRunApps : public TkxListOf<TkxRunApp, kRunAppElement> {
  KX_XML_CLASS(TkxRunApps, TkxListOf)
};

// ---------------------------------------------------------------------------------------------
// Components, features, install types

class TkxComponent : public TkxConditionObject {
  KX_XML_CLASS(TkxComponent, TkxConditionObject)

  // A new ID becomes the Name too while the Name is empty.
  const std::string& ID() const { return id_; }
  void SetID(const std::string& id);

  std::string Name;
  std::string Package;  // FileName of the package with the full definition
  std::unique_ptr<TkxFiles> Files;
  std::unique_ptr<TkxRegistry> Registry;
  std::unique_ptr<TkxIniFiles> IniFiles;
  std::unique_ptr<TkxShortcuts> Shortcuts;
  std::unique_ptr<TkxRunApps> RunApps;

  // Not bound: chosen for installation by the driver, read by the installation run.
  bool Selected = false;
  bool Install = false;

 private:
  std::string id_;
};

class TkxComponents : public TkxListOf<TkxComponent, kComponentElement> {
  KX_XML_CLASS(TkxComponents, TkxListOf)
};

class TkxFeature;
class TkxFeatures : public TkxListOf<TkxFeature, kFeatureElement> {
  KX_XML_CLASS(TkxFeatures, TkxListOf)
};

class TkxFeature : public TkxConditionObject {
  KX_XML_CLASS(TkxFeature, TkxConditionObject)

  std::string ID;
  std::string Name;
  std::string Description;
  bool Required = false;
  std::unique_ptr<TkxFeatures> Features;
  std::unique_ptr<TkxFeatures> Depends;
  std::unique_ptr<TkxComponents> Components;

  // Not bound: selection state.
  bool Selected = false;
  bool Partial = false;
};

class TkxInstallType : public TkxConditionObject {
  KX_XML_CLASS(TkxInstallType, TkxConditionObject)

  std::string ID;
  std::string Name;
  std::string Description;
  std::unique_ptr<TkxFeatures> Features;
  bool Default = false;
  bool Custom = false;
};

class TkxInstallTypes : public TkxListOf<TkxInstallType, kInstallTypeElement> {
  KX_XML_CLASS(TkxInstallTypes, TkxListOf)

  TkxInstallType* Active = nullptr;  // not bound: the install type applied last
  void Clear() override;
};

// ---------------------------------------------------------------------------------------------
// Variables and launch conditions

class TkxVariable : public TkxConditionObject {
  KX_XML_CLASS(TkxVariable, TkxConditionObject)

  std::string Name;
  std::string Value;
  std::string DefValue;
  std::string RegKey;
  std::string RegParam;
  std::string IniFile;
  std::string IniSection;
  std::string IniParam;
  TkxVarType VarType = TkxVarType::vtNormal;  // attribute "type", prefix "vt"

  // Not bound: a predefined variable of the run; never saved.
  bool IsRuntime = false;

  std::string PropertyNameOf(const std::string& xmlName, bool isElement) const override;
  std::string XMLNameOf(const std::string& propertyName, bool isElement) const override;
  std::string EnumPrefix(const std::string& propertyName) const override;
  bool CanSave(const TXMLTag& tag) const override;
};

// Variables of one name may repeat with different conditions; an element with the name and
// condition of a present variable replaces that variable's content.
class TkxVariables : public TkxListOf<TkxVariable, kVariableElement, TXMLParamList> {
  KX_XML_CLASS_INFO()
  explicit TkxVariables(TXMLObject* owner = nullptr) : TkxVariables(owner, TXMLDeferInit{}) {
    FinishCreate();
  }
  TkxVariables(TXMLObject* owner, TXMLDeferInit defer) : TkxListOf(owner, defer) {
    AllowDuplicates = false;
  }

  bool SameItem(const TXMLObject& newItem, const TXMLObject& oldItem) const override;
  const TXMLClassInfo& DefaultItemClass() const override;
  // The first variable of that name (case ignored) whose condition holds.
  TkxVariable* FindByName(const std::string& name) const override;
};

class TkxLaunchCondition : public TkxConditionObject {
  KX_XML_CLASS(TkxLaunchCondition, TkxConditionObject)

  std::string Msg;
};

class TkxLaunchConditions : public TkxListOf<TkxLaunchCondition, kLaunchConditionElement> {
  KX_XML_CLASS(TkxLaunchConditions, TkxListOf)
};

// ---------------------------------------------------------------------------------------------
// Packages and plug-ins

class TkxFileInfo : public TXMLObject {
  KX_XML_CLASS(TkxFileInfo, TXMLObject)

  std::string Name;
  int32_t Size = 0;
  std::string Version;
  std::string FontName;
  std::string AssemblyData;
};

class TkxFileInfos : public TkxListOf<TkxFileInfo, kFileInfoElement> {
  KX_XML_CLASS(TkxFileInfos, TkxListOf)

  // The first file information whose Name equals name (case ignored).
  TkxFileInfo* FindByName(const std::string& name) const;
};

class TkxParam : public TXMLObject {
  KX_XML_CLASS(TkxParam, TXMLObject)

  std::string Name;
  std::string Value;
};

class TkxParamGroup : public TkxListOf<TkxParam, kParamElement> {
  KX_XML_CLASS(TkxParamGroup, TkxListOf)

  std::string Name;
};

class TkxPluginSimpleConfig : public TkxListOf<TkxParamGroup, kParamGroupElement> {
  KX_XML_CLASS(TkxPluginSimpleConfig, TkxListOf)

  // Declared and kept empty: a list reads and writes only its items.
  std::unique_ptr<TkxParamGroup> ParamGroup;

  // The Value of parameter paramName in group groupName (both case ignored, the first of each
  // name); defaultValue when either is missing.
  std::string GetParam(const std::string& groupName, const std::string& paramName,
                       const std::string& defaultValue) const;
  std::vector<std::string> GetGroupNames() const;
  // Empty when there is no such group.
  std::vector<std::string> GetParamNames(const std::string& groupName) const;

 private:
  const TkxParamGroup* FindGroup(const std::string& groupName) const;
};

class TkxPlugin : public TkxConditionObject {
  KX_XML_CLASS(TkxPlugin, TkxConditionObject)

  std::string ID;
  std::string ConfigFile;
  std::string DebugDll;
  std::unique_ptr<TkxPluginSimpleConfig> Config;
  std::unique_ptr<TXMLTag> CustomConfig;  // any element, as a structural copy
};

class TkxPlugins : public TkxListOf<TkxPlugin, kPluginElement> {
  KX_XML_CLASS(TkxPlugins, TkxListOf)
};

class TkxPackage : public TXMLObject {
  KX_XML_CLASS(TkxPackage, TXMLObject)

  std::string FileName;
  std::unique_ptr<TkxComponents> Components;
  std::unique_ptr<TkxPlugins> Plugins;
  std::unique_ptr<TkxVariables> Variables;
  std::unique_ptr<TkxFileInfos> FileInfos;
  std::string TempPath;
  std::string FullFileName;
  bool Needed = false;
  bool Prepared = false;
  int32_t PresetupSize = 0;
  int32_t DataSize = 0;
};

class TkxPackages : public TkxListOf<TkxPackage, kPackageElement> {
  KX_XML_CLASS(TkxPackages, TkxListOf)

  // The first package whose FileName equals name (case ignored).
  TkxPackage* FindByFileName(const std::string& name) const;
};

// ---------------------------------------------------------------------------------------------
// Roots

class TkxMainDatabase : public TXMLObject {
  KX_XML_CLASS(TkxMainDatabase, TXMLObject)

  std::string Version;
  std::unique_ptr<TkxVariables> Variables;
  std::unique_ptr<TkxPackages> Packages;
  std::unique_ptr<TkxComponents> Components;
  std::unique_ptr<TkxFeatures> Features;
  std::unique_ptr<TkxInstallTypes> InstallTypes;
  std::unique_ptr<TkxLaunchConditions> LaunchConditions;
  std::string TempFontsPath;
  std::string TempGACPath;
  std::string TempBackupPath;
  TkxInstallState InstallState = TkxInstallState::isUnknown;
  std::string InstallStateData;
  std::string ActiveInstallType;
  bool RebootOnFinish = false;

  // Not bound: notifications of the selection operations (none until the run wires them).
  std::function<void(TkxInstallType*)> OnInstallTypeChanged;
  std::function<void(TkxFeature*)> OnFeatureStateChanged;
};

class TkxSilentSettings : public TXMLObject {
  KX_XML_CLASS(TkxSilentSettings, TXMLObject)

  std::unique_ptr<TkxVariables> Variables;
  std::unique_ptr<TkxFeatures> Features;
  std::string ActiveInstallType;
};

// The main database at the end of object's Owner chain (object itself included), or nullptr.
TkxMainDatabase* MainDatabaseOf(const TXMLObject& object);

// ---------------------------------------------------------------------------------------------
// Services: conditions, variables and text expansion, features, install types.
//
// A context is a TkxMainDatabase or a TkxPackage; a package falls back to the main database that
// owns it. Nothing here is locked: the services run on the main thread and, while files are
// copied, on the worker thread (which expands destinations) while the main thread only
// dispatches messages.

// While false, every condition holds; the driver switches it on once the evaluator is ready.
extern std::atomic<bool> ConditionsEnabled;
// Evaluates a condition text; installed at start-up with the evaluator's truth test.
extern std::function<bool(const std::string& condition)> ConditionHook;

// True when conditions are off, the object's Condition is empty or no hook is installed;
// otherwise the hook's answer. Errors of the evaluation pass to the caller.
bool CheckCondition(const TkxConditionObject& object);

// Every %Name% replaced by the variable's value (expanded in turn), "%%" by "%", "||" by CR LF.
// Throws KxError "Infinite reference in the string ..." when nested more than 100 deep (the
// depth is counted per thread).
std::string ExpandText(const TXMLObject* context, const std::string& text);
// The variable's value expanded; defaultValue (expanded unless it is "%name%") when the name is
// unknown. An empty name gives "". Throws KxError without a context or with one of another class.
std::string GetVariable(const TXMLObject* context, const std::string& name,
                        const std::string& defaultValue);
// The unexpanded value by the variable's source: its Value, a registry value or an INI entry.
std::string ValueOf(const TkxVariable& variable);
// Sets the Value of the variable found (a registry or INI variable keeps reading its source), or
// appends a new variable to the main database.
void SetVariable(TXMLObject* context, const std::string& name, const std::string& value);

int32_t GetVariableInt(const TXMLObject* context, const std::string& name, int32_t defaultValue);
bool GetVariableBool(const TXMLObject* context, const std::string& name, bool defaultValue);
void SetVariableInt(TXMLObject* context, const std::string& name, int32_t value);
void SetVariableBool(TXMLObject* context, const std::string& name, bool value);
// The path trimmed and without one trailing backslash.
void SetVariablePath(TXMLObject* context, const std::string& name, const std::string& path);
// SetVariable / SetVariablePath, the variable then marked IsRuntime (never saved).
void SetRuntimeVariable(TkxMainDatabase& database, const std::string& name,
                        const std::string& value);
void SetRuntimePath(TkxMainDatabase& database, const std::string& name, const std::string& path);

// The predefined folder variables (BootDrive, Windows, System, the shell folders, the registry
// folders, BDE, Delphi, Date, IIS-WWWRoot, IIS-Scripts).
void AddFolderVariables(TkxMainDatabase& database);
// The process environment, for names that no variable has yet.
void AddEnvironmentVariables(TkxMainDatabase& database);

// 0 unselected, 1 selected, 2 selected in part.
int FeatureState(const TkxFeature& feature);
void SetFeatureSelected(TkxFeature& feature, bool value);
int UpdateFeatureState(TkxFeature& feature);
int UpdateFeaturesState(TkxFeatures& features);
TkxFeature* FirstAvailable(const TkxFeatures& features, int from);
// Depth-first search by ID (case ignored; the first available feature for an empty id). parent
// receives the found feature's parent (the incoming value at the top), next its successor in a
// pre-order walk of the available features.
TkxFeature* FindFeature(const TkxFeatures& features, const std::string& id, TkxFeature*& parent,
                        TkxFeature*& next);
// Whether the feature's selection now equals value; false when there is no such feature.
bool SelectFeature(TkxMainDatabase& database, const std::string& id, bool value);

TkxInstallType* FindInstallType(const TkxInstallTypes& installTypes, const std::string& id,
                                TkxInstallType*& next);
bool ApplyInstallType(TkxMainDatabase& database, const std::string& id);
