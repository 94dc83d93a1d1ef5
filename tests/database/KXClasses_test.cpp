// The project database schema: a full project file round trip, the renamed attributes and
// prefixed enumerations, the component ID rule, variables (merging, look-up, run-time ones),
// the look-ups of packages, file information and plug-in configurations, silent settings.
#include "database/KXClasses.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace {

using Strings = std::vector<std::string>;

// The fixture beside this source, in the Windows form that both OS layers map ("Z:\" is "/").
std::string FixturePath(const std::string& name) {
  std::string path = __FILE__;
  path = path.substr(0, path.find_last_of("/\\") + 1) + "fixtures/" + name;
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::unique_ptr<TXMLTag> ParseXML(const std::string& text) {
  auto tag = std::make_unique<TXMLTag>();
  tag->Parse(text);
  return tag;
}

std::string SavedXML(const TXMLObject& object, const std::string& rootName) {
  TXMLTag tag;
  tag.SetName(rootName);
  object.AssignTo(tag);
  return tag.GetXML();
}

// The child elements that have names: text and comments, and the unnamed elements that copies
// make of them, left out.
std::vector<const TXMLTag*> Elements(const TXMLTag& tag) {
  std::vector<const TXMLTag*> elements;
  for (const auto& child : tag.Children) {
    if (child->Kind == TXMLTagKind::Element && !child->Name.empty())
      elements.push_back(child.get());
  }
  return elements;
}

// Loads one item element into a fresh object of the class and returns it.
template <class T>
std::unique_ptr<T> LoadItem(const std::string& xml) {
  auto item = std::make_unique<T>();
  item->Assign(*ParseXML(xml));
  return item;
}

template <class T>
Strings SavedAttributes(const T& object) {
  TXMLTag tag;
  tag.SetName("x");
  object.AssignTo(tag);
  return tag.Attributes;
}

// Every object below root, root included, depth first.
void ForEachObject(const TXMLObject& root, const std::function<void(const TXMLObject&)>& visit) {
  visit(root);
  for (const TXMLPropInfo* property : root.ClassInfo().Properties()) {
    if (property->Kind != TXMLPropKind::Object) continue;
    if (const TXMLObject* child = property->GetObject(root)) ForEachObject(*child, visit);
  }
  if (auto* list = dynamic_cast<const TXMLObjectList*>(&root)) {
    for (int i = 0; i < list->Count(); ++i) ForEachObject(*list->Items(i), visit);
  }
}

class FullProjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    text_ = ReadFileText(FixturePath("full_project.xml"));
    ASSERT_FALSE(text_.empty()) << FixturePath("full_project.xml");
    ASSERT_TRUE(db_.LoadFromFile(FixturePath("full_project.xml"), kProjectRootName));
  }
  const TkxComponent& Core() const { return *db_.Components->Items(0); }

  std::string text_;
  TkxMainDatabase db_;
};

TEST_F(FullProjectTest, SavesBackByteForByte) { EXPECT_EQ(SavedXML(db_, kProjectRootName), text_); }

TEST_F(FullProjectTest, CopyByAssignSavesTheSame) {
  TkxMainDatabase copy;
  copy.Assign(db_);
  EXPECT_EQ(SavedXML(copy, kProjectRootName), text_);
}

// Guards the fixture itself: every bound simple property of every class is written somewhere,
// so the byte-for-byte test covers the whole schema.
TEST_F(FullProjectTest, FixtureSetsEverySimplePropertyOfEveryClass) {
  std::map<std::string, std::set<std::string>> seen;
  std::map<std::string, const TXMLClassInfo*> classes;
  ForEachObject(db_, [&](const TXMLObject& object) {
    const TXMLClassInfo& info = object.ClassInfo();
    classes[info.Name()] = &info;
    TXMLTag tag;
    object.WriteAttributes(tag);
    for (const std::string& entry : tag.Attributes) {
      seen[info.Name()].insert(entry.substr(0, entry.find('=')));
    }
  });
  const Strings expectedClasses = {"TkxMainDatabase",
                                   "TkxVariables",
                                   "TkxVariable",
                                   "TkxPackages",
                                   "TkxPackage",
                                   "TkxComponents",
                                   "TkxComponent",
                                   "TkxFiles",
                                   "TkxFile",
                                   "TkxRegistry",
                                   "TkxReg",
                                   "TkxIniFiles",
                                   "TkxIni",
                                   "TkxShortcuts",
                                   "TkxShortcut",
                                   "TkxRunApps",
                                   "TkxRunApp",
                                   "TkxFeatures",
                                   "TkxFeature",
                                   "TkxInstallTypes",
                                   "TkxInstallType",
                                   "TkxPlugins",
                                   "TkxPlugin",
                                   "TkxPluginSimpleConfig",
                                   "TkxParamGroup",
                                   "TkxParam",
                                   "TkxLaunchConditions",
                                   "TkxLaunchCondition",
                                   "TkxFileInfos",
                                   "TkxFileInfo"};
  for (const std::string& name : expectedClasses) {
    ASSERT_TRUE(classes.count(name)) << name;
    const TXMLClassInfo& info = *classes[name];
    auto object = info.Create(nullptr);
    for (const TXMLPropInfo* property : info.Properties()) {
      if (!property->IsSimple()) continue;
      std::string xmlName = object->XMLNameOf(property->Name, false);
      for (char& c : xmlName) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      EXPECT_TRUE(seen[name].count(xmlName)) << name << "." << property->Name;
    }
  }
}

TEST_F(FullProjectTest, ValuesLandInTheirProperties) {
  EXPECT_EQ(db_.Version, "2.1.7");
  EXPECT_EQ(db_.InstallState, TkxInstallState::isRunAppBeforeInstall);
  EXPECT_TRUE(db_.RebootOnFinish);
  const TkxComponent& core = Core();
  EXPECT_EQ(core.ID(), "core");
  EXPECT_EQ(core.Name, "Core files");
  ASSERT_EQ(core.Files->Count(), 2);
  const TkxFile& file = *core.Files->Items(0);
  EXPECT_EQ(file.Action, TkxAction::remove);
  EXPECT_EQ(file.Flags.Bits, 0x3FFu);
  EXPECT_EQ(file.Condition, "OSVersion() < 6 & x");
  EXPECT_EQ(core.Registry->Items(0)->ParamType, TkxRegType::mstr);
  EXPECT_EQ(core.Registry->Items(3)->ParamType, TkxRegType::str);
  EXPECT_EQ(core.IniFiles->Items(0)->IniFile, "%WINDIR%\\app.ini");
  EXPECT_EQ(core.Shortcuts->Items(0)->ShowCmd, TkxShowCmd::scMax);
  EXPECT_EQ(core.Shortcuts->Items(0)->Hotkey, 1601);
  EXPECT_EQ(core.RunApps->Items(0)->WhenStart, TkxWhenStart::before_dialogs);
  EXPECT_EQ(core.RunApps->Items(0)->ShowCmd, TkxShowCmd::scHide);
  EXPECT_EQ(db_.Variables->Items(0)->VarType, TkxVarType::vtReg);
  EXPECT_EQ(db_.Variables->Items(1)->VarType, TkxVarType::vtIni);
  const TkxFeature& main = *db_.Features->Items(0);
  EXPECT_TRUE(main.Required);
  EXPECT_EQ(main.Features->Items(0)->ID, "docs");
  EXPECT_EQ(main.Depends->Items(0)->ID, "docs");
  EXPECT_TRUE(db_.InstallTypes->Items(0)->Default);
  EXPECT_TRUE(db_.InstallTypes->Items(1)->Custom);
}

TEST_F(FullProjectTest, LookupsIgnoreCase) {
  TkxPackage* package = db_.Packages->FindByFileName("DATA1.PAK");
  ASSERT_NE(package, nullptr);
  EXPECT_EQ(package->PresetupSize, 4096);
  EXPECT_EQ(db_.Packages->FindByFileName("data2.pak"), nullptr);
  TkxFileInfo* info = package->FileInfos->FindByName("APP.exe");
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->Size, 123456);
  EXPECT_EQ(package->FileInfos->FindByName("other.exe"), nullptr);
  EXPECT_EQ(db_.Components->FindByID("CORE"), db_.Components->Items(0));
  EXPECT_EQ(db_.Variables->FindByName("product")->Value, "App");
}

TEST_F(FullProjectTest, PluginConfigurationLookups) {
  const TkxPlugin& plugin = *db_.Packages->Items(0)->Plugins->Items(0);
  const TkxPluginSimpleConfig& config = *plugin.Config;
  EXPECT_EQ(config.GetParam("dialogs", "LICENSE", "none"), "license.rtf");
  EXPECT_EQ(config.GetParam("Dialogs", "Missing", "none"), "none");
  EXPECT_EQ(config.GetParam("Missing", "Welcome", "none"), "none");
  EXPECT_EQ(config.GetGroupNames(), (Strings{"Dialogs", "Colors"}));
  EXPECT_EQ(config.GetParamNames("COLORS"), (Strings{"Back"}));
  EXPECT_TRUE(config.GetParamNames("Missing").empty());
  ASSERT_NE(config.ParamGroup, nullptr);
  EXPECT_EQ(config.ParamGroup->Count(), 0);
  ASSERT_NE(plugin.CustomConfig, nullptr);
  EXPECT_EQ(plugin.CustomConfig->Name, "customconfig");
  EXPECT_EQ(Elements(*plugin.CustomConfig).size(), 2u);
}

TEST_F(FullProjectTest, OwnerChainsEndAtTheDatabase) {
  const TkxPlugin& plugin = *db_.Packages->Items(0)->Plugins->Items(0);
  EXPECT_EQ(MainDatabaseOf(*plugin.Config->Items(0)->Items(0)), &db_);
  EXPECT_EQ(MainDatabaseOf(*Core().Files->Items(1)), &db_);
  TkxFile detached;
  EXPECT_EQ(MainDatabaseOf(detached), nullptr);
}

TEST_F(FullProjectTest, RootNameIsChecked) {
  TkxMainDatabase other;
  EXPECT_FALSE(other.LoadFromFile(FixturePath("full_project.xml"), kSilentSettingsRootName));
  EXPECT_EQ(other.Components->Count(), 0);
}

// ---------------------------------------------------------------------------------------------

TEST(SchemaRenameTest, RenamedAndPrefixedAttributesReadAndWrite) {
  auto reg = LoadItem<TkxReg>("<reg type=\"MSTR\"/>");
  EXPECT_EQ(reg->ParamType, TkxRegType::mstr);
  EXPECT_EQ(SavedAttributes(*reg), (Strings{"type=mstr"}));
  EXPECT_EQ(LoadItem<TkxReg>("<reg paramtype=\"bin\"/>")->ParamType, TkxRegType::bin);
  EXPECT_EQ(LoadItem<TkxReg>("<reg type=\"dword\"/>")->ParamType, TkxRegType::str);

  auto ini = LoadItem<TkxIni>("<ini file=\"a.ini\"/>");
  EXPECT_EQ(ini->IniFile, "a.ini");
  EXPECT_EQ(SavedAttributes(*ini), (Strings{"file=a.ini"}));
  EXPECT_EQ(LoadItem<TkxIni>("<ini inifile=\"b.ini\"/>")->IniFile, "b.ini");

  auto var = LoadItem<TkxVariable>("<var name=\"v\" type=\"reg\"/>");
  EXPECT_EQ(var->VarType, TkxVarType::vtReg);
  EXPECT_EQ(SavedAttributes(*var), (Strings{"name=v", "type=reg"}));
  EXPECT_EQ(LoadItem<TkxVariable>("<var type=\"vtReg\"/>")->VarType, TkxVarType::vtNormal);

  auto shortcut = LoadItem<TkxShortcut>("<shortcut showcmd=\"Hide\"/>");
  EXPECT_EQ(shortcut->ShowCmd, TkxShowCmd::scHide);
  EXPECT_EQ(SavedAttributes(*shortcut), (Strings{"showcmd=hide"}));
  auto run = LoadItem<TkxRunApp>("<runapp showcmd=\"min\" whenstart=\"AFTER_UNINSTALL\"/>");
  EXPECT_EQ(run->ShowCmd, TkxShowCmd::scMin);
  EXPECT_EQ(SavedAttributes(*run), (Strings{"showcmd=min", "whenstart=after_uninstall"}));
}

TEST(SchemaRenameTest, FlagsSaveInOrdinalOrder) {
  auto file = LoadItem<TkxFile>("<file flags=\"shared, dont_log,bogus\"/>");
  EXPECT_TRUE(file->Flags.Has(TkxFlag::shared));
  EXPECT_TRUE(file->Flags.Has(TkxFlag::dont_log));
  EXPECT_EQ(SavedAttributes(*file), (Strings{"flags=dont_log,shared"}));
}

// ---------------------------------------------------------------------------------------------

TEST(ComponentTest, IdBecomesTheNameOnlyWhileTheNameIsEmpty) {
  EXPECT_EQ(LoadItem<TkxComponent>("<component id=\"c1\"/>")->Name, "c1");
  EXPECT_EQ(LoadItem<TkxComponent>("<component id=\"c1\" name=\"N\"/>")->Name, "N");
  EXPECT_EQ(LoadItem<TkxComponent>("<component name=\"N\" id=\"c1\"/>")->Name, "N");
  TkxComponent component;
  component.SetID("a");
  component.SetID("b");
  EXPECT_EQ(component.Name, "a");
  EXPECT_EQ(component.ID(), "b");
}

TEST(ComponentTest, ForeignElementsAndAttributesAreIgnored) {
  auto component = LoadItem<TkxComponent>(
      "<component id=\"c\" colour=\"red\"><files><file src=\"a\"/><folder src=\"b\"/>"
      "<File src=\"c\"/></files><extras/></component>");
  ASSERT_EQ(component->Files->Count(), 2);  // names are lower-cased when read
  EXPECT_EQ(component->Files->Items(1)->Src, "c");
  EXPECT_EQ(component->Files->Owner, component.get());
}

// ---------------------------------------------------------------------------------------------

TEST(VariablesTest, SameNameAndConditionMergeOthersStay) {
  TkxVariables variables;
  variables.Assign(*ParseXML(
      "<variables><var name=\"A\" value=\"1\"/><var name=\"a\" value=\"2\"/>"
      "<var name=\"A\" condition=\"x\" value=\"3\"/><var name=\"A\" condition=\"X\" value=\"4\"/>"
      "</variables>"));
  ASSERT_EQ(variables.Count(), 3);
  EXPECT_EQ(variables.Items(0)->Value, "2");
  EXPECT_EQ(variables.Items(0)->Name, "a");
  EXPECT_EQ(variables.Items(1)->Value, "3");
  EXPECT_EQ(variables.Items(2)->Value, "4");
}

TEST(VariablesTest, FindByNameSkipsVariablesWhoseConditionFails) {
  TkxMainDatabase db;
  db.Variables->Assign(
      *ParseXML("<variables><var name=\"DIR\" condition=\"no\" value=\"1\"/>"
                "<var name=\"DIR\" condition=\"yes\" value=\"2\"/></variables>"));
  EXPECT_EQ(db.Variables->FindByName("dir")->Value, "1");  // conditions off: all hold
  const bool wasEnabled = ConditionsEnabled.exchange(true);
  auto savedHook = std::move(ConditionHook);
  ConditionHook = [](const std::string& condition) { return condition == "yes"; };
  EXPECT_EQ(db.Variables->FindByName("dir")->Value, "2");
  ConditionHook = [](const std::string&) { return false; };
  EXPECT_EQ(db.Variables->FindByName("dir"), nullptr);
  ConditionHook = std::move(savedHook);
  ConditionsEnabled = wasEnabled;
}

TEST(VariablesTest, SetParamCreatesVariables) {
  TkxVariables variables;
  variables.SetParam("Path", "C:\\x");
  variables.SetParam("PATH", "C:\\y");
  ASSERT_EQ(variables.Count(), 1);
  ASSERT_NE(variables.Items(0), nullptr);
  EXPECT_EQ(variables.Items(0)->Value, "C:\\y");
}

TEST(VariablesTest, RuntimeVariablesAreNotSaved) {
  TkxMainDatabase db;
  db.Variables->SetParam("SAVED", "1");
  db.Variables->SetParam("SYSDIR", "C:\\windows\\system32");
  db.Variables->Items(1)->IsRuntime = true;
  auto saved = ParseXML(SavedXML(db, kProjectRootName));
  ASSERT_EQ(Elements(*saved).size(), 1u);
  const TXMLTag& variables = *Elements(*saved)[0];
  ASSERT_EQ(Elements(variables).size(), 1u);
  EXPECT_EQ(Elements(variables)[0]->Attributes, (Strings{"name=SAVED", "value=1"}));

  db.Variables->Items(0)->IsRuntime = true;
  saved = ParseXML(SavedXML(db, kProjectRootName));
  ASSERT_EQ(Elements(*saved).size(), 1u);  // the list has items, so its element stays
  EXPECT_TRUE(Elements(*Elements(*saved)[0]).empty());
}

// ---------------------------------------------------------------------------------------------

TEST(MainDatabaseTest, EmptyDatabaseSavesAsBareRoot) {
  TkxMainDatabase db;
  db.Components->Add(std::make_unique<TkxComponent>(db.Components.get()));
  auto saved = ParseXML(SavedXML(db, kProjectRootName));
  EXPECT_TRUE(saved->Attributes.empty());
  ASSERT_EQ(Elements(*saved).size(), 1u);
  const TXMLTag& components = *Elements(*saved)[0];
  EXPECT_EQ(components.Name, "components");
  ASSERT_EQ(Elements(components).size(), 1u);
  EXPECT_TRUE(Elements(*Elements(components)[0]).empty());  // no empty lists
}

TEST(MainDatabaseTest, MergeAddsComponentsAndReplacesVariables) {
  TkxMainDatabase db;
  db.Assign(
      *ParseXML("<kx2project version=\"1\"><variables><var name=\"A\" value=\"1\"/></variables>"
                "<components><component id=\"c1\"/></components></kx2project>"));
  db.MergeFrom(
      *ParseXML("<x><variables><var name=\"A\" value=\"2\"/><var name=\"B\"/></variables>"
                "<components><component id=\"c2\"/></components></x>"));
  EXPECT_EQ(db.Version, "1");
  ASSERT_EQ(db.Variables->Count(), 2);
  EXPECT_EQ(db.Variables->Items(0)->Value, "2");
  ASSERT_EQ(db.Components->Count(), 2);
  EXPECT_EQ(db.Components->Items(1)->ID(), "c2");
  EXPECT_EQ(db.Components->Items(1)->Owner, db.Components.get());
}

TEST(MainDatabaseTest, ClearingInstallTypesForgetsTheActiveOne) {
  TkxMainDatabase db;
  db.Assign(*ParseXML("<p><installtypes><installtype id=\"t\"/></installtypes></p>"));
  TkxInstallTypes& types = *db.InstallTypes;
  types.Active = types.Items(0);
  types.Clear();
  EXPECT_EQ(types.Active, nullptr);
  EXPECT_EQ(types.Count(), 0);
}

// Every list maps its one element name to its one item class, both ways.
TEST(SchemaListTest, ItemElementsMapBothWays) {
  struct Case {
    const TXMLClassInfo& list;
    const char* element;
    const TXMLClassInfo& item;
  };
  const Case cases[] = {
      {TkxFiles::StaticClassInfo(), "file", TkxFile::StaticClassInfo()},
      {TkxRegistry::StaticClassInfo(), "reg", TkxReg::StaticClassInfo()},
      {TkxIniFiles::StaticClassInfo(), "ini", TkxIni::StaticClassInfo()},
      {TkxShortcuts::StaticClassInfo(), "shortcut", TkxShortcut::StaticClassInfo()},
      {TkxRunApps::StaticClassInfo(), "runapp", TkxRunApp::StaticClassInfo()},
      {TkxComponents::StaticClassInfo(), "component", TkxComponent::StaticClassInfo()},
      {TkxFeatures::StaticClassInfo(), "feature", TkxFeature::StaticClassInfo()},
      {TkxInstallTypes::StaticClassInfo(), "installtype", TkxInstallType::StaticClassInfo()},
      {TkxVariables::StaticClassInfo(), "var", TkxVariable::StaticClassInfo()},
      {TkxLaunchConditions::StaticClassInfo(), "launchcondition",
       TkxLaunchCondition::StaticClassInfo()},
      {TkxPackages::StaticClassInfo(), "package", TkxPackage::StaticClassInfo()},
      {TkxFileInfos::StaticClassInfo(), "fileinfo", TkxFileInfo::StaticClassInfo()},
      {TkxPlugins::StaticClassInfo(), "plugin", TkxPlugin::StaticClassInfo()},
      {TkxPluginSimpleConfig::StaticClassInfo(), "paramgroup", TkxParamGroup::StaticClassInfo()},
      {TkxParamGroup::StaticClassInfo(), "param", TkxParam::StaticClassInfo()},
  };
  for (const Case& c : cases) {
    auto object = c.list.Create(nullptr);
    auto* list = dynamic_cast<TXMLObjectList*>(object.get());
    ASSERT_NE(list, nullptr) << c.list.Name();
    EXPECT_EQ(list->ItemClass(c.element), &c.item) << c.list.Name();
    EXPECT_EQ(list->ItemClass("item"), nullptr) << c.list.Name();
    EXPECT_EQ(list->ItemElementName(c.item), c.element) << c.list.Name();
    EXPECT_EQ(list->ItemElementName(TXMLObject::StaticClassInfo()), "") << c.list.Name();
    EXPECT_EQ(list->AllowDuplicates, c.element != std::string("var")) << c.list.Name();
  }
}

// ---------------------------------------------------------------------------------------------

TEST(SilentSettingsTest, LoadsAndSavesItsThreeParts) {
  const std::string text =
      "<silentsettings activeinstalltype=\"custom\">\r\n"
      "\t<features>\r\n"
      "\t\t<feature id=\"docs\"/>\r\n"
      "\t</features>\r\n"
      "\t<variables>\r\n"
      "\t\t<var name=\"INSTALLDIR\" value=\"D:\\App\"/>\r\n"
      "\t</variables>\r\n"
      "</silentsettings>\r\n";
  TkxSilentSettings settings;
  settings.Assign(*ParseXML(text));
  EXPECT_EQ(settings.ActiveInstallType, "custom");
  EXPECT_EQ(settings.Features->Items(0)->ID, "docs");
  EXPECT_EQ(settings.Variables->FindByName("installdir")->Value, "D:\\App");
  EXPECT_EQ(SavedXML(settings, kSilentSettingsRootName), text);
}

}  // namespace
