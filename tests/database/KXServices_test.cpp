// The database services: conditions, variable look-up in a database or a package, text
// expansion and its nesting limit, registry- and INI-backed variables, typed and run-time
// accessors, the predefined folder and environment variables, feature selection with its
// notifications, and install types.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "DatabaseTestSupport.h"
#include "TestSupport.h"
#include "database/KXClasses.h"
#include "support/Errors.h"
#include "support/zrRegIni.h"
#include "support/zrStrUtils.h"

namespace {

using Strings = std::vector<std::string>;

std::unique_ptr<TXMLTag> ParseXML(const std::string& text) {
  auto tag = std::make_unique<TXMLTag>();
  tag->Parse(text);
  return tag;
}

std::unique_ptr<TkxMainDatabase> Database(const std::string& body) {
  auto database = std::make_unique<TkxMainDatabase>();
  database->Assign(*ParseXML("<kx2project>" + body + "</kx2project>"));
  return database;
}

// The message of the KxError that action raises; "" when it raises none.
template <class Action>
std::string ErrorOf(Action action) {
  try {
    action();
  } catch (const KxError& error) {
    return error.what();
  }
  return "";
}

int CountNamed(const TkxVariables& variables, const std::string& name) {
  int count = 0;
  for (int i = 0; i < variables.Count(); ++i) {
    if (UpperCaseText(variables.Items(i)->Name) == UpperCaseText(name)) ++count;
  }
  return count;
}

std::string SavedXML(const TXMLObject& object) {
  TXMLTag tag;
  tag.SetName(kProjectRootName);
  object.AssignTo(tag);
  return tag.GetXML();
}

// Conditions are process-wide switches: every test starts and ends with them off and without a
// hook, so that no test sees another's evaluator.
void ResetConditions() {
  ConditionsEnabled = false;
  ConditionHook = nullptr;
}

// Conditions on, "yes" and "" true, anything else false.
void EnableYesConditions() {
  ConditionHook = [](const std::string& condition) { return condition == "yes"; };
  ConditionsEnabled = true;
}

class ServicesTest : public testing::Test {
 protected:
  void SetUp() override { ResetConditions(); }
  void TearDown() override { ResetConditions(); }
};

// V1 -> V2 -> ... -> Vlength, the last holding "end": expanding "%V1%" nests length + 1 deep.
void AddChain(TkxVariables& variables, const std::string& prefix, int length) {
  for (int i = 1; i < length; ++i) {
    AddVariable(variables, prefix + std::to_string(i), "%" + prefix + std::to_string(i + 1) + "%");
  }
  AddVariable(variables, prefix + std::to_string(length), "end");
}

// ---------------------------------------------------------------------------------------------
// Conditions

using ConditionTest = ServicesTest;

TEST_F(ConditionTest, HoldsWhileDisabledEmptyOrWithoutHook) {
  TkxFeature feature;
  feature.Condition = "no";
  int calls = 0;
  ConditionHook = [&](const std::string&) { return ++calls, false; };
  EXPECT_TRUE(CheckCondition(feature));  // switched off
  ConditionsEnabled = true;
  EXPECT_FALSE(CheckCondition(feature));
  EXPECT_FALSE(feature.ConditionHolds());
  EXPECT_EQ(calls, 2);
  feature.Condition = "";
  EXPECT_TRUE(CheckCondition(feature));
  EXPECT_EQ(calls, 2);  // an empty condition is never evaluated
  feature.Condition = "no";
  ConditionHook = nullptr;
  EXPECT_TRUE(CheckCondition(feature));
}

TEST_F(ConditionTest, HookReceivesTheConditionText) {
  std::string seen;
  ConditionHook = [&](const std::string& condition) {
    seen = condition;
    return true;
  };
  ConditionsEnabled = true;
  TkxVariable variable;
  variable.Condition = "GetOS() = \"NT\"";
  EXPECT_TRUE(CheckCondition(variable));
  EXPECT_EQ(seen, "GetOS() = \"NT\"");
}

// ---------------------------------------------------------------------------------------------
// Expansion

class ExpandTextTest : public ServicesTest {
 protected:
  void SetUp() override {
    ServicesTest::SetUp();
    database_ = std::make_unique<TkxMainDatabase>();
    AddVariable(*database_->Variables, "A", "a");
    AddVariable(*database_->Variables, "Path", "C:\\x");
    AddVariable(*database_->Variables, "Empty", "");
    AddVariable(*database_->Variables, "Twice", "%A%-%a%");
    AddVariable(*database_->Variables, "Lines", "one||two");
    AddVariable(*database_->Variables, "Self", "%SELF%");
  }
  std::string Expand(const std::string& text) { return ExpandText(database_.get(), text); }

  std::unique_ptr<TkxMainDatabase> database_;
};

TEST_F(ExpandTextTest, Table) {
  const struct {
    const char* text;
    const char* expected;
  } cases[] = {
      {"", ""},
      {"plain text", "plain text"},
      {"%%", "%"},
      {"100%% sure", "100% sure"},
      {"%%A%%", "%A%"},
      {"50%", "50%"},  // a lone "%" stays
      {"a % b", "a % b"},
      {"%", "%"},
      {"%A%", "a"},
      {"%a%", "a"},  // names ignore case
      {"x%A%y%Path%z", "xayC:\\xz"},
      {"%A%%A%", "aa"},
      {"%Empty%x", "x"},
      {"%Unknown%", "%Unknown%"},
      {"%Unknown% and %A%", "%Unknown% and a"},
      {"5% of %A%", "5% of %A%"},  // " of " is taken for a name, unknown, and kept
      {"%Twice%", "a-a"},          // values are expanded in turn
      {"a||b", "a\r\nb"},
      {"|||", "\r\n|"},
      {"||||", "\r\n\r\n"},
      {"%Lines%", "one\r\ntwo"},
  };
  for (const auto& c : cases) EXPECT_EQ(Expand(c.text), c.expected) << "text: " << c.text;
}

TEST_F(ExpandTextTest, SelfReferenceInAnyCaseStaysAndDoesNotLoop) {
  EXPECT_EQ(Expand("%Self%"), "%SELF%");
  EXPECT_EQ(Expand("[%self%]"), "[%SELF%]");
  EXPECT_EQ(GetVariable(database_.get(), "SELF", ""), "%SELF%");
  // An unknown name with its own reference as the default comes back as given.
  EXPECT_EQ(GetVariable(database_.get(), "Nothing", "%NOTHING%"), "%NOTHING%");
}

TEST_F(ExpandTextTest, MutualReferenceRaisesWithTheTextAtTheFailingDepth) {
  AddVariable(*database_->Variables, "P", "x%Q%");
  AddVariable(*database_->Variables, "Q", "y%P%");
  // Depth 1 expands "%P%", then "x%Q%", "y%P%", "x%Q%", ...: odd depths above 1 hold "y%P%".
  EXPECT_EQ(ErrorOf([&] { Expand("%P%"); }), "Infinite reference in the string \"y%P%\".");
  // Through GetVariable the value itself is depth 1.
  EXPECT_EQ(ErrorOf([&] { GetVariable(database_.get(), "P", ""); }),
            "Infinite reference in the string \"x%Q%\".");
}

TEST_F(ExpandTextTest, NestingOfOneHundredIsAllowedOneMoreIsNot) {
  AddChain(*database_->Variables, "V", 99);   // "end" is expanded at depth 100
  AddChain(*database_->Variables, "W", 100);  // and here at depth 101
  EXPECT_EQ(Expand("%V1%"), "end");
  EXPECT_EQ(ErrorOf([&] { Expand("%W1%"); }), "Infinite reference in the string \"end\".");
}

TEST_F(ExpandTextTest, DepthIsRestoredAfterTheError) {
  AddVariable(*database_->Variables, "P", "%Q%");
  AddVariable(*database_->Variables, "Q", "%P%");
  AddChain(*database_->Variables, "V", 99);
  for (int round = 0; round < 3; ++round) {
    EXPECT_FALSE(ErrorOf([&] { Expand("%P%"); }).empty());
    // Any level left over would push this full-depth expansion over the limit.
    EXPECT_EQ(Expand("%V1%"), "end") << "round " << round;
  }
}

TEST_F(ExpandTextTest, DepthIsCountedPerThread) {
  AddChain(*database_->Variables, "V", 99);
  AddChain(*database_->Variables, "M", 20);
  // The trigger sits 20 levels deep on this thread; its condition runs a full-depth expansion
  // on another thread while this one is still nested.
  database_->Variables->FindByName("M20")->Value = "%Trigger%";
  AddVariable(*database_->Variables, "Trigger", "t", "spawn");
  std::string workerResult;
  ConditionHook = [&](const std::string& condition) {
    if (condition == "spawn") {
      std::thread worker([&] {
        try {
          workerResult = ExpandText(database_.get(), "%V1%");
        } catch (const KxError& error) {
          workerResult = error.what();
        }
      });
      worker.join();
    }
    return true;
  };
  ConditionsEnabled = true;
  EXPECT_EQ(Expand("%M1%"), "t");
  EXPECT_EQ(workerResult, "end");
}

TEST_F(ExpandTextTest, NoContextIsAnErrorOnlyWhenANameIsLookedUp) {
  EXPECT_EQ(ExpandText(nullptr, "50%% plain %"), "50% plain %");
  EXPECT_EQ(ErrorOf([] { ExpandText(nullptr, "%A%"); }), "Package database was not assigned.");
}

// ---------------------------------------------------------------------------------------------
// Look-up, contexts and SetVariable

using VariablesServiceTest = ServicesTest;

TEST_F(VariablesServiceTest, DuplicateNamesGiveTheFirstWhoseConditionHolds) {
  auto database = std::make_unique<TkxMainDatabase>();
  AddVariable(*database->Variables, "X", "1", "no");
  AddVariable(*database->Variables, "x", "2", "yes");
  AddVariable(*database->Variables, "X", "3");
  EXPECT_EQ(GetVariable(database.get(), "X", ""), "1");  // conditions off: the first
  EnableYesConditions();
  EXPECT_EQ(GetVariable(database.get(), "X", ""), "2");
  ConditionHook = [](const std::string&) { return false; };
  EXPECT_EQ(GetVariable(database.get(), "X", ""), "3");  // no condition: always there
  ConditionsEnabled = false;
  EXPECT_EQ(GetVariable(database.get(), "X", ""), "1");
}

TEST_F(VariablesServiceTest, DefaultsAndEmptyNames) {
  auto database = std::make_unique<TkxMainDatabase>();
  AddVariable(*database->Variables, "A", "a");
  EXPECT_EQ(GetVariable(database.get(), "Missing", "fallback"), "fallback");
  EXPECT_EQ(GetVariable(database.get(), "Missing", "<%A%>"), "<a>");  // defaults are expanded
  EXPECT_EQ(GetVariable(database.get(), "", "fallback"), "");
  EXPECT_EQ(GetVariable(nullptr, "", "fallback"), "");  // before the context is checked
  SetVariable(database.get(), "", "value");
  EXPECT_EQ(database->Variables->Count(), 1);
}

TEST_F(VariablesServiceTest, ContextsOfOtherKindsRaise) {
  auto database = std::make_unique<TkxMainDatabase>();
  TkxComponent component;
  const std::string noDatabase = "Package database was not assigned.";
  const std::string wrongClass = "Wrong class has been specified.";
  EXPECT_EQ(ErrorOf([] { GetVariable(nullptr, "A", ""); }), noDatabase);
  EXPECT_EQ(ErrorOf([] { SetVariable(nullptr, "A", "1"); }), noDatabase);
  EXPECT_EQ(ErrorOf([&] { GetVariable(&component, "A", ""); }), wrongClass);
  EXPECT_EQ(ErrorOf([&] { SetVariable(&component, "A", "1"); }), wrongClass);
  EXPECT_EQ(ErrorOf([&] { GetVariable(database->Variables.get(), "A", ""); }), wrongClass);
  EXPECT_EQ(ErrorOf([&] { GetVariableInt(nullptr, "A", 1); }), noDatabase);
}

class PackageContextTest : public ServicesTest {
 protected:
  void SetUp() override {
    ServicesTest::SetUp();
    database_ = Database(
        "<variables><var name=\"Shared\" value=\"main-shared\"/><var name=\"Global\" value=\"g\"/>"
        "<var name=\"Both\" value=\"[%Local%]\"/></variables>"
        "<packages><package filename=\"one.kxp\"><variables>"
        "<var name=\"Local\" value=\"pkg\"/><var name=\"Shared\" value=\"pkg-shared\"/>"
        "<var name=\"Global\" value=\"hidden\" condition=\"no\"/>"
        "</variables></package></packages>");
    package_ = database_->Packages->FindByFileName("ONE.KXP");
    ASSERT_NE(package_, nullptr);
  }

  std::unique_ptr<TkxMainDatabase> database_;
  TkxPackage* package_ = nullptr;
};

TEST_F(PackageContextTest, PackageVariablesFirstThenTheMainDatabase) {
  EXPECT_EQ(GetVariable(package_, "shared", ""), "pkg-shared");
  EXPECT_EQ(GetVariable(package_, "Local", ""), "pkg");
  EXPECT_EQ(GetVariable(database_.get(), "Shared", ""), "main-shared");
  EXPECT_EQ(GetVariable(database_.get(), "Local", "?"), "?");
  // A main-database value read through the package is expanded in the package's context.
  EXPECT_EQ(GetVariable(package_, "Both", ""), "[pkg]");
  EXPECT_EQ(GetVariable(database_.get(), "Both", ""), "[%Local%]");
  EXPECT_EQ(ExpandText(package_, "%Local%/%Global%"), "pkg/hidden");
  EnableYesConditions();  // the package's "Global" drops out
  EXPECT_EQ(ExpandText(package_, "%Local%/%Global%"), "pkg/g");
}

TEST_F(PackageContextTest, SetVariableChangesTheVariableFoundOrCreatesOneInTheMainDatabase) {
  const int mainCount = database_->Variables->Count();
  const int packageCount = package_->Variables->Count();
  SetVariable(package_, "SHARED", "changed");
  EXPECT_EQ(package_->Variables->FindByName("Shared")->Value, "changed");
  EXPECT_EQ(database_->Variables->FindByName("Shared")->Value, "main-shared");
  EnableYesConditions();
  SetVariable(package_, "Global", "g2");  // the package's own is hidden by its condition
  EXPECT_EQ(database_->Variables->FindByName("Global")->Value, "g2");

  SetVariable(package_, "BrandNew", "fresh");
  ASSERT_EQ(database_->Variables->Count(), mainCount + 1);
  EXPECT_EQ(package_->Variables->Count(), packageCount);
  const TkxVariable* added = database_->Variables->Items(mainCount);
  EXPECT_EQ(added->Name, "BrandNew");
  EXPECT_EQ(added->Value, "fresh");
  EXPECT_EQ(added->VarType, TkxVarType::vtNormal);
  EXPECT_EQ(added->Condition, "");
  EXPECT_FALSE(added->IsRuntime);
  EXPECT_EQ(added->Owner, database_->Variables.get());
  EXPECT_EQ(GetVariable(database_.get(), "brandnew", ""), "fresh");
}

TEST_F(VariablesServiceTest, SetVariableAddsBesideAVariableWhoseConditionFails) {
  auto database = std::make_unique<TkxMainDatabase>();
  AddVariable(*database->Variables, "Dir", "old", "no");
  EnableYesConditions();
  SetVariable(database.get(), "Dir", "new");
  ASSERT_EQ(database->Variables->Count(), 2);
  EXPECT_EQ(database->Variables->Items(0)->Value, "old");
  EXPECT_EQ(GetVariable(database.get(), "Dir", ""), "new");
}

TEST_F(VariablesServiceTest, PackageOutsideADatabaseUsesItsOwnVariables) {
  TkxPackage package;
  AddVariable(*package.Variables, "Local", "pkg");
  EXPECT_EQ(GetVariable(&package, "Local", ""), "pkg");
  EXPECT_EQ(GetVariable(&package, "Other", "d"), "d");
  SetVariable(&package, "Local", "set");
  EXPECT_EQ(GetVariable(&package, "Local", ""), "set");
  // No database to hold a new variable: refused rather than lost.
  EXPECT_EQ(ErrorOf([&] { SetVariable(&package, "Other", "x"); }),
            "Package database was not assigned.");
}

// ---------------------------------------------------------------------------------------------
// Registry- and INI-backed variables

class SourcedVariableTest : public ServicesTest {
 protected:
  void SetUp() override {
    ServicesTest::SetUp();
    database_ = std::make_unique<TkxMainDatabase>();
    AddVariable(*database_->Variables, "Key", key_);
    AddVariable(*database_->Variables, "A", "a");
  }

  TkxVariable& RegVariable(TkxVariables& variables, const std::string& name,
                           const std::string& regKey, const std::string& regParam,
                           const std::string& defValue) {
    TkxVariable& variable = AddVariable(variables, name, "unused");
    variable.VarType = TkxVarType::vtReg;
    variable.RegKey = regKey;
    variable.RegParam = regParam;
    variable.DefValue = defValue;
    return variable;
  }

  ScratchRegistryKey scratchKey_;
  const std::string key_ = scratchKey_.Path();
  std::unique_ptr<TkxMainDatabase> database_;
};

TEST_F(SourcedVariableTest, RegistryValueByExpandedKeyAndName) {
  ASSERT_TRUE(RegWriteString(key_, "Folder", "D:\\data"));
  ASSERT_TRUE(RegWriteString(key_, "Refers", "%A%\\sub"));
  ASSERT_TRUE(RegWriteNumber(key_, "Count", 7));
  AddVariable(*database_->Variables, "Which", "Folder");
  RegVariable(*database_->Variables, "Folder", "%Key%", "%Which%", "def");
  RegVariable(*database_->Variables, "Refers", "%Key%", "Refers", "def");
  RegVariable(*database_->Variables, "Count", "%Key%", "Count", "0");
  RegVariable(*database_->Variables, "Missing", "%Key%", "Nothing", "%A%\\default");
  RegVariable(*database_->Variables, "NoKey", "%Key%\\absent", "Folder", "none");
  EXPECT_EQ(GetVariable(database_.get(), "Folder", ""), "D:\\data");
  EXPECT_EQ(GetVariable(database_.get(), "Refers", ""), "a\\sub");  // read, then expanded
  EXPECT_EQ(ValueOf(*database_->Variables->FindByName("Refers")), "%A%\\sub");
  EXPECT_EQ(GetVariableInt(database_.get(), "Count", -1), 7);
  EXPECT_EQ(GetVariable(database_.get(), "Missing", ""), "a\\default");
  EXPECT_EQ(ValueOf(*database_->Variables->FindByName("Missing")), "%A%\\default");
  EXPECT_EQ(GetVariable(database_.get(), "NoKey", ""), "none");
}

TEST_F(SourcedVariableTest, SettingARegistryVariableKeepsReadingTheRegistry) {
  ASSERT_TRUE(RegWriteString(key_, "Folder", "D:\\data"));
  TkxVariable& variable = RegVariable(*database_->Variables, "Folder", "%Key%", "Folder", "");
  SetVariable(database_.get(), "Folder", "E:\\elsewhere");
  EXPECT_EQ(variable.Value, "E:\\elsewhere");
  EXPECT_EQ(GetVariable(database_.get(), "Folder", ""), "D:\\data");
  EXPECT_EQ(RegReadText(key_, "Folder", ""), "D:\\data");  // nothing written back
}

TEST_F(SourcedVariableTest, SourceFieldsExpandInTheContextOfTheVariablesList) {
  ASSERT_TRUE(RegWriteString(key_, "Folder", "D:\\data"));
  TkxPackage& package = database_->Packages->AddNew();
  AddVariable(*package.Variables, "PkgKey", key_);
  TkxVariable& inPackage = RegVariable(*package.Variables, "FromPkg", "%PkgKey%", "Folder", "d");
  EXPECT_EQ(ValueOf(inPackage), "D:\\data");
  EXPECT_EQ(GetVariable(&package, "FromPkg", ""), "D:\\data");
  // The same reference from the main database's list has no "PkgKey" to find.
  TkxVariable& inMain = RegVariable(*database_->Variables, "FromMain", "%PkgKey%", "Folder", "d");
  EXPECT_EQ(ValueOf(inMain), "d");
}

TEST_F(SourcedVariableTest, IniEntryByExpandedFileSectionAndKey) {
  ScratchFolder folder(CurrentTestName());
  const std::string file = folder.Path() + "settings.ini";
  ASSERT_TRUE(WriteFileText(file, "[Paths]\r\nData=E:\\stuff\r\nRefers=%A%!\r\n"));
  AddVariable(*database_->Variables, "Dir", folder.Path());
  auto iniVariable = [&](const std::string& name, const std::string& iniFile,
                         const std::string& section, const std::string& key,
                         const std::string& defValue) {
    TkxVariable& variable = AddVariable(*database_->Variables, name, "unused");
    variable.VarType = TkxVarType::vtIni;
    variable.IniFile = iniFile;
    variable.IniSection = section;
    variable.IniParam = key;
    variable.DefValue = defValue;
  };
  AddVariable(*database_->Variables, "Section", "Paths");
  iniVariable("Data", "%Dir%settings.ini", "%Section%", "Data", "def");
  iniVariable("Refers", "%Dir%settings.ini", "Paths", "Refers", "def");
  iniVariable("NoKey", "%Dir%settings.ini", "Paths", "Absent", "%A%-default");
  iniVariable("NoFile", "%Dir%absent.ini", "Paths", "Data", "nofile");
  EXPECT_EQ(GetVariable(database_.get(), "Data", ""), "E:\\stuff");
  EXPECT_EQ(GetVariable(database_.get(), "Refers", ""), "a!");
  EXPECT_EQ(GetVariable(database_.get(), "NoKey", ""), "a-default");
  EXPECT_EQ(GetVariable(database_.get(), "NoFile", ""), "nofile");
  IniCloseAll();
}

// ---------------------------------------------------------------------------------------------
// Typed accessors and run-time variables

using AccessorTest = ServicesTest;

TEST_F(AccessorTest, IntegersAndBooleans) {
  auto database = std::make_unique<TkxMainDatabase>();
  TXMLObject* context = database.get();
  const std::map<std::string, std::string> values = {
      {"Dec", "42"},     {"Hex", "$10"}, {"Neg", "-12"}, {"Text", "abc"},        {"Pad", "5 "},
      {"Ref", "%Dec%0"}, {"Zero", "0"},  {"Two", "2"},   {"Big", "99999999999"},
  };
  for (const auto& [name, value] : values) AddVariable(*database->Variables, name, value);
  EXPECT_EQ(GetVariableInt(context, "Dec", 0), 42);
  EXPECT_EQ(GetVariableInt(context, "Hex", 0), 16);
  EXPECT_EQ(GetVariableInt(context, "Neg", 0), -12);
  EXPECT_EQ(GetVariableInt(context, "Text", 7), 7);
  EXPECT_EQ(GetVariableInt(context, "Pad", 7), 7);
  EXPECT_EQ(GetVariableInt(context, "Ref", 0), 420);
  EXPECT_EQ(GetVariableInt(context, "Big", -1), -1);
  EXPECT_EQ(GetVariableInt(context, "Missing", -3), -3);
  EXPECT_FALSE(GetVariableBool(context, "Zero", true));
  EXPECT_TRUE(GetVariableBool(context, "Two", false));
  EXPECT_TRUE(GetVariableBool(context, "Text", true));
  EXPECT_FALSE(GetVariableBool(context, "Text", false));
  EXPECT_TRUE(GetVariableBool(context, "Missing", true));
  EXPECT_FALSE(GetVariableBool(context, "Missing", false));

  SetVariableInt(context, "Dec", -5);
  EXPECT_EQ(database->Variables->FindByName("Dec")->Value, "-5");
  SetVariableBool(context, "Flag", true);
  EXPECT_EQ(database->Variables->FindByName("Flag")->Value, "1");
  SetVariableBool(context, "Flag", false);
  EXPECT_EQ(database->Variables->FindByName("Flag")->Value, "0");
}

TEST_F(AccessorTest, PathsLoseBlanksAndOneTrailingBackslash) {
  auto database = std::make_unique<TkxMainDatabase>();
  const struct {
    const char* path;
    const char* stored;
  } cases[] = {
      {"  C:\\dir\\  ", "C:\\dir"},
      {"C:\\dir\\\\", "C:\\dir\\"},
      {"\tD:\\x\r\n", "D:\\x"},
      {"C:\\", "C:"},
      {"\\", ""},
      {"E:\\a b", "E:\\a b"},
  };
  for (const auto& c : cases) {
    SetVariablePath(database.get(), "P", c.path);
    EXPECT_EQ(database->Variables->FindByName("P")->Value, c.stored) << "path: " << c.path;
  }
}

TEST_F(AccessorTest, RuntimeVariablesAreMarkedAndNotSaved) {
  auto database = std::make_unique<TkxMainDatabase>();
  TkxVariable& project = AddVariable(*database->Variables, "Project", "p");
  TkxVariable& overwritten = AddVariable(*database->Variables, "Over", "before");
  SetRuntimeVariable(*database, "Fresh", "value-of-fresh");
  SetRuntimeVariable(*database, "over", "after");
  SetRuntimePath(*database, "Where", " C:\\there\\ ");
  SetRuntimeVariable(*database, "", "nameless");
  ASSERT_EQ(database->Variables->Count(), 4);
  EXPECT_FALSE(project.IsRuntime);
  EXPECT_TRUE(overwritten.IsRuntime);
  EXPECT_EQ(overwritten.Value, "after");
  EXPECT_TRUE(database->Variables->FindByName("Fresh")->IsRuntime);
  EXPECT_EQ(database->Variables->FindByName("Where")->Value, "C:\\there");
  EXPECT_TRUE(database->Variables->FindByName("Where")->IsRuntime);

  const std::string xml = SavedXML(*database);
  EXPECT_NE(xml.find("Project"), std::string::npos) << xml;
  EXPECT_EQ(xml.find("value-of-fresh"), std::string::npos) << xml;
  EXPECT_EQ(xml.find("after"), std::string::npos) << xml;
  EXPECT_EQ(xml.find("there"), std::string::npos) << xml;
}

TEST_F(AccessorTest, RuntimeMarkGoesToTheVariableThatNowAnswers) {
  auto database = std::make_unique<TkxMainDatabase>();
  TkxVariable& hidden = AddVariable(*database->Variables, "Dir", "old", "no");
  EnableYesConditions();
  SetRuntimeVariable(*database, "Dir", "new");
  ASSERT_EQ(database->Variables->Count(), 2);
  EXPECT_FALSE(hidden.IsRuntime);
  EXPECT_TRUE(database->Variables->Items(1)->IsRuntime);
}

// ---------------------------------------------------------------------------------------------
// Predefined variables

using PredefinedTest = ServicesTest;

TEST_F(PredefinedTest, FolderVariablesInTheirOrderAllRuntime) {
  auto database = std::make_unique<TkxMainDatabase>();
  AddFolderVariables(*database);
  const Strings expected = {
      "BootDrive",         "Windows",       "System",       "Desktop",         "Fonts",
      "NetHood",           "Personal",      "ProgramsMenu", "Recent",          "SendTo",
      "StartMenu",         "StartupMenu",   "Templates",    "CommonStartMenu", "CommonProgramsMenu",
      "CommonStartupMenu", "CommonDesktop", "ProgramFiles", "CommonFiles",     "ApplicationData",
      "Office97",          "Office2000",    "BDE",          "Delphi",          "Date",
      "IIS-WWWRoot",       "IIS-Scripts"};
  Strings names;
  for (int i = 0; i < database->Variables->Count(); ++i) {
    const TkxVariable* variable = database->Variables->Items(i);
    names.push_back(variable->Name);
    EXPECT_TRUE(variable->IsRuntime) << variable->Name;
    EXPECT_EQ(variable->VarType, TkxVarType::vtNormal) << variable->Name;
  }
  EXPECT_EQ(names, expected);
  const std::string windows = GetVariable(database.get(), "Windows", "");
  EXPECT_FALSE(windows.empty());
  EXPECT_NE(windows.back(), '\\');
  EXPECT_FALSE(GetVariable(database.get(), "System", "").empty());
  // Nothing predefined is saved with the project.
  EXPECT_EQ(SavedXML(*database).find("Windows"), std::string::npos);
}

TEST_F(PredefinedTest, ProjectVariablesOfTheSameNameAreReplacedAndMarked) {
  auto database = std::make_unique<TkxMainDatabase>();
  TkxVariable& windows = AddVariable(*database->Variables, "WINDOWS", "X:\\old");
  AddFolderVariables(*database);
  EXPECT_EQ(CountNamed(*database->Variables, "Windows"), 1);
  EXPECT_NE(windows.Value, "X:\\old");
  EXPECT_TRUE(windows.IsRuntime);
}

TEST_F(PredefinedTest, RegistryDefaultsAreStoredUnexpandedAndExpandedAtEachRead) {
  auto database = std::make_unique<TkxMainDatabase>();
  AddFolderVariables(*database);
  TXMLObject* db = database.get();
  const std::string virtualRoots =
      "HKLM\\SYSTEM\\CurrentControlSet\\Services\\W3SVC\\Parameters\\Virtual Roots\\";
  if (RegValueExists(virtualRoots, "/") || RegValueExists(virtualRoots, "/Scripts")) {
    GTEST_SKIP() << "this machine has a web server's roots";
  }
  EXPECT_EQ(database->Variables->FindByName("IIS-WWWRoot")->Value, "%BootDrive%\\wwwroot");
  EXPECT_EQ(database->Variables->FindByName("IIS-Scripts")->Value, "%IIS-WWWRoot%\\scripts");
  EXPECT_EQ(GetVariable(db, "IIS-Scripts", ""),
            GetVariable(db, "BootDrive", "") + "\\wwwroot\\scripts");
  SetVariable(db, "BootDrive", "Q:");
  EXPECT_EQ(GetVariable(db, "IIS-Scripts", ""), "Q:\\wwwroot\\scripts");

  if (!RegValueExists("HKLM\\SOFTWARE\\Microsoft\\Office\\8.0\\Common\\InstallRoot", "OfficeBin")) {
    EXPECT_EQ(GetVariable(db, "Office97", ""),
              GetVariable(db, "ProgramFiles", "") + "\\Microsoft Office\\Office");
  }
}

TEST_F(PredefinedTest, BootDriveIsTheDriveOfTheBootFolder) {
  const std::string bootDir =
      RegReadText("HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Setup", "BootDir", "");
  if (bootDir.size() < 2 || bootDir[1] != ':') GTEST_SKIP() << "no boot folder with a drive";
  auto database = std::make_unique<TkxMainDatabase>();
  AddFolderVariables(*database);
  EXPECT_EQ(GetVariable(database.get(), "BootDrive", ""), bootDir.substr(0, 2));
}

// Both cases in one test, because the second needs keys under HKLM that parallel test
// processes would otherwise see. Only where there are no Delphi versions and no BDE path (the
// test machine roots and the Wine prefix of the tests); what the test adds is removed again.
TEST_F(PredefinedTest, DelphiAndBdeFromTheirKeysOrTheirFallbacks) {
  const std::string vendor = "HKLM\\SOFTWARE\\Borland";
  const std::string delphi = vendor + "\\Delphi";
  const std::string engine = vendor + "\\Database Engine";
  if (RegKeyExists(delphi) || RegValueExists(engine, "DLLPATH")) {
    GTEST_SKIP() << "this machine has Delphi or the BDE";
  }
  {
    auto database = std::make_unique<TkxMainDatabase>();
    AddFolderVariables(*database);
    EXPECT_EQ(GetVariable(database.get(), "Delphi", ""), "C:");
    EXPECT_EQ(database->Variables->FindByName("BDE")->Value, "%CommonFiles%\\Borland Shared\\BDE");
    EXPECT_EQ(GetVariable(database.get(), "BDE", ""),
              GetVariable(database.get(), "CommonFiles", "") + "\\Borland Shared\\BDE");
  }
  struct Cleanup {
    std::string vendor, delphi, engine;
    bool vendorExisted;
    ~Cleanup() {
      if (!vendorExisted) {
        RegDeleteKeyPath(vendor, true);
        return;
      }
      RegDeleteKeyPath(delphi, true);
      RegDeleteValue(engine, "DLLPATH");
    }
  } cleanup{vendor, delphi, engine, RegKeyExists(vendor)};
  // In byte order "B" < "a"; with case ignored "a" < "B", so "B" is the last.
  if (!RegWriteString(delphi + "\\a", "RootDir", "X:\\from-a\\") ||
      !RegWriteString(delphi + "\\B", "RootDir", "X:\\from-B\\") ||
      !RegWriteString(engine, "DLLPATH", "X:\\bde1;X:\\bde2")) {
    GTEST_SKIP() << "HKLM is not writable here";
  }
  auto database = std::make_unique<TkxMainDatabase>();
  AddFolderVariables(*database);
  EXPECT_EQ(GetVariable(database.get(), "Delphi", ""), "X:\\from-B");
  EXPECT_EQ(GetVariable(database.get(), "BDE", ""), "X:\\bde1");
}

TEST_F(PredefinedTest, DateIsToday) {
  auto database = std::make_unique<TkxMainDatabase>();
  AddFolderVariables(*database);
  const std::string date = GetVariable(database.get(), "Date", "");
  ASSERT_FALSE(date.empty());
  // Short formats differ by locale; every one shows the year's last two digits.
  const std::string year = std::to_string(os::LocalTime().year % 100 + 100).substr(1);
  EXPECT_NE(date.find(year), std::string::npos) << date;
}

class EnvironmentTest : public ServicesTest {
 protected:
  void TearDown() override {
    for (const char* name : {"KXTEST_ENV_NEW", "KXTEST_ENV_OLD", "KXTEST_ENV_REF", "Date"}) {
      os::RemoveProcessVariable(name);
    }
    ServicesTest::TearDown();
  }
};

TEST_F(EnvironmentTest, AddsMissingNamesAndNeverOverrides) {
  ASSERT_TRUE(os::SetProcessVariable("KXTEST_ENV_NEW", "from env"));
  ASSERT_TRUE(os::SetProcessVariable("KXTEST_ENV_OLD", "from env"));
  ASSERT_TRUE(os::SetProcessVariable("KXTEST_ENV_REF", "%KXTEST_ENV_NEW%!"));
  ASSERT_TRUE(os::SetProcessVariable("Date", "env-date"));
  auto database = std::make_unique<TkxMainDatabase>();
  TkxVariable& project = AddVariable(*database->Variables, "kxtest_env_old", "project");
  AddFolderVariables(*database);
  const std::string date = GetVariable(database.get(), "Date", "");
  AddEnvironmentVariables(*database);

  EXPECT_EQ(GetVariable(database.get(), "KXTEST_ENV_NEW", ""), "from env");
  EXPECT_TRUE(database->Variables->FindByName("KXTEST_ENV_NEW")->IsRuntime);
  EXPECT_EQ(project.Value, "project");
  EXPECT_FALSE(project.IsRuntime);
  EXPECT_EQ(CountNamed(*database->Variables, "KXTEST_ENV_OLD"), 1);
  EXPECT_EQ(GetVariable(database.get(), "Date", ""), date);
  EXPECT_EQ(CountNamed(*database->Variables, "Date"), 1);
  // Stored as the environment holds it, expanded when read.
  EXPECT_EQ(database->Variables->FindByName("KXTEST_ENV_REF")->Value, "%KXTEST_ENV_NEW%!");
  EXPECT_EQ(GetVariable(database.get(), "KXTEST_ENV_REF", ""), "from env!");
  for (int i = 0; i < database->Variables->Count(); ++i) {
    EXPECT_FALSE(database->Variables->Items(i)->Name.empty());
  }
}

TEST_F(EnvironmentTest, RunningTwiceAddsNothingNew) {
  ASSERT_TRUE(os::SetProcessVariable("KXTEST_ENV_NEW", "from env"));
  auto database = std::make_unique<TkxMainDatabase>();
  AddEnvironmentVariables(*database);
  const int count = database->Variables->Count();
  EXPECT_GT(count, 0);
  AddEnvironmentVariables(*database);
  EXPECT_EQ(database->Variables->Count(), count);
}

// ---------------------------------------------------------------------------------------------
// Features

// Main (required) > Core; Docs > Manual, Samples; Extras (condition "no") > Hidden;
// Tools > Cli > Completion, Gui (condition "no").
constexpr char kFeatureTree[] =
    "<features>"
    "<feature id=\"Main\" required=\"1\"><features><feature id=\"Core\"/></features></feature>"
    "<feature id=\"Docs\"><features><feature id=\"Manual\"/><feature id=\"Samples\"/>"
    "</features></feature>"
    "<feature id=\"Extras\" condition=\"no\"><features><feature id=\"Hidden\"/></features>"
    "</feature>"
    "<feature id=\"Tools\"><features><feature id=\"Cli\"><features>"
    "<feature id=\"Completion\"/></features></feature><feature id=\"Gui\" condition=\"no\"/>"
    "</features></feature>"
    "</features>"
    "<installtypes>"
    "<installtype id=\"Secret\" condition=\"no\"><features><feature id=\"Tools\"/></features>"
    "</installtype>"
    "<installtype id=\"Typical\"><features><feature id=\"Main\"/><feature id=\"Manual\"/>"
    "</features></installtype>"
    "<installtype id=\"Full\"><features><feature id=\"Main\"/><feature id=\"Docs\"/>"
    "<feature id=\"Tools\"/><feature id=\"NoSuchFeature\"/></features></installtype>"
    "</installtypes>";

class FeatureTest : public ServicesTest {
 protected:
  void SetUp() override {
    ServicesTest::SetUp();
    database_ = Database(kFeatureTree);
    database_->OnFeatureStateChanged = [this](TkxFeature* feature) {
      notified_.push_back(feature->ID + "=" + std::to_string(FeatureState(*feature)));
    };
  }

  TkxFeature& Feature(const std::string& id) {
    TkxFeature* parent = nullptr;
    TkxFeature* next = nullptr;
    ConditionsEnabled = false;  // hidden ones too
    TkxFeature* feature = FindFeature(*database_->Features, id, parent, next);
    ConditionsEnabled = hooked_;
    if (!feature) {
      ADD_FAILURE() << "no feature " << id;
      static TkxFeature missing;
      return missing;
    }
    return *feature;
  }
  int State(const std::string& id) { return FeatureState(Feature(id)); }
  void UseConditions() {
    EnableYesConditions();
    hooked_ = true;
  }
  // Every feature's state, for before-and-after comparisons.
  std::string States() {
    std::string text;
    for (const char* id : {"Main", "Core", "Docs", "Manual", "Samples", "Extras", "Hidden", "Tools",
                           "Cli", "Completion", "Gui"}) {
      text += std::string(id) + "=" + std::to_string(State(id)) + " ";
    }
    return text;
  }

  std::unique_ptr<TkxMainDatabase> database_;
  Strings notified_;
  bool hooked_ = false;
};

TEST_F(FeatureTest, StateValues) {
  TkxFeature feature;
  EXPECT_EQ(FeatureState(feature), 0);
  feature.Partial = true;
  EXPECT_EQ(FeatureState(feature), 0);
  feature.Selected = true;
  EXPECT_EQ(FeatureState(feature), 2);
  feature.Partial = false;
  EXPECT_EQ(FeatureState(feature), 1);
}

TEST_F(FeatureTest, SelectingSubFeaturesOneByOneMakesTheParentPartialThenFull) {
  EXPECT_TRUE(SelectFeature(*database_, "Manual", true));
  EXPECT_EQ(State("Docs"), 2);
  EXPECT_TRUE(SelectFeature(*database_, "samples", true));
  EXPECT_EQ(State("Docs"), 1);
  EXPECT_TRUE(SelectFeature(*database_, "Manual", false));
  EXPECT_EQ(State("Docs"), 2);
  EXPECT_TRUE(SelectFeature(*database_, "Samples", false));
  EXPECT_EQ(State("Docs"), 0);
  EXPECT_FALSE(SelectFeature(*database_, "NoSuchFeature", true));
}

TEST_F(FeatureTest, SetFeatureSelectedNotifiesParentBeforeSubFeaturesAndOnlyOnChange) {
  Feature("Docs").Partial = true;  // a stale "partial" is cleared too
  SetFeatureSelected(Feature("Docs"), true);
  EXPECT_EQ(notified_, (Strings{"Docs=1", "Manual=1", "Samples=1"}));
  notified_.clear();
  SetFeatureSelected(Feature("Docs"), true);
  EXPECT_TRUE(notified_.empty());
  SetFeatureSelected(Feature("Manual"), false);
  EXPECT_EQ(notified_, (Strings{"Manual=0"}));
  EXPECT_EQ(State("Docs"), 1);  // SetFeatureSelected alone leaves the parent as it was
}

TEST_F(FeatureTest, UpdateNotifiesSubFeaturesBeforeTheirParent) {
  Feature("Completion").Selected = true;
  EXPECT_EQ(UpdateFeaturesState(*database_->Features), 2);
  EXPECT_EQ(notified_, (Strings{"Cli=1", "Tools=2"}));  // Gui is unselected
  notified_.clear();
  EXPECT_TRUE(SelectFeature(*database_, "Manual", true));
  EXPECT_EQ(notified_, (Strings{"Manual=1", "Docs=2"}));
}

TEST_F(FeatureTest, RequiredFeaturesStaySelected) {
  EXPECT_FALSE(SelectFeature(*database_, "Main", false));
  EXPECT_EQ(State("Main"), 1);
  EXPECT_EQ(State("Core"), 1);  // the parent's forced value reaches its sub-features
  SetFeatureSelected(Feature("Main"), false);
  EXPECT_TRUE(Feature("Main").Selected);
  EXPECT_TRUE(SelectFeature(*database_, "Main", true));
}

TEST_F(FeatureTest, FeaturesWhoseConditionFailsAreLeftAloneAndCountAsUnselected) {
  UseConditions();
  SetFeatureSelected(Feature("Extras"), true);
  EXPECT_EQ(State("Extras"), 0);
  EXPECT_EQ(State("Hidden"), 0);
  EXPECT_TRUE(notified_.empty());
  EXPECT_FALSE(SelectFeature(*database_, "Extras", true));
  EXPECT_FALSE(SelectFeature(*database_, "Hidden", true));  // under an absent parent
  Feature("Extras").Selected = true;
  EXPECT_EQ(UpdateFeatureState(Feature("Extras")), 0);
  EXPECT_TRUE(Feature("Extras").Selected);  // not touched

  // Tools: Cli selected, Gui absent but counted as 0, so Tools is selected in part.
  EXPECT_TRUE(SelectFeature(*database_, "Tools", true));
  EXPECT_EQ(State("Cli"), 1);
  EXPECT_EQ(State("Gui"), 0);
  EXPECT_EQ(State("Tools"), 2);
}

TEST_F(FeatureTest, CombinedStateOfAList) {
  const struct {
    std::vector<int> states;
    int combined;
  } cases[] = {
      {{}, 0},        {{0}, 0},       {{1}, 1},    {{2}, 2},    {{1, 1}, 1},
      {{0, 0, 0}, 0}, {{1, 0}, 2},    {{0, 1}, 2}, {{1, 2}, 2}, {{2, 1}, 2},
      {{0, 2, 0}, 2}, {{1, 1, 0}, 2}, {{2, 2}, 2},
  };
  for (const auto& c : cases) {
    TkxFeatures features;
    for (int state : c.states) {
      TkxFeature& feature = features.AddNew();
      feature.Selected = state != 0;
      feature.Partial = state == 2;
    }
    EXPECT_EQ(UpdateFeaturesState(features), c.combined) << testing::PrintToString(c.states);
  }
}

TEST_F(FeatureTest, EveryItemIsUpdatedEvenOnceTheResultIsKnown) {
  Feature("Manual").Selected = true;      // Docs becomes 2
  Feature("Completion").Selected = true;  // Tools, later in the list, must still follow
  Feature("Gui").Selected = true;
  UpdateFeaturesState(*database_->Features);
  EXPECT_EQ(State("Docs"), 2);
  EXPECT_EQ(State("Cli"), 1);
  EXPECT_EQ(State("Tools"), 1);
}

TEST_F(FeatureTest, FirstAvailableSkipsAbsentFeatures) {
  UseConditions();
  TkxFeatures& top = *database_->Features;
  EXPECT_EQ(FirstAvailable(top, 0), &Feature("Main"));
  EXPECT_EQ(FirstAvailable(top, -4), &Feature("Main"));
  EXPECT_EQ(FirstAvailable(top, 2), &Feature("Tools"));  // Extras is absent
  EXPECT_EQ(FirstAvailable(top, 4), nullptr);
  EXPECT_EQ(FirstAvailable(*Feature("Tools").Features, 1), nullptr);  // Gui
}

TEST_F(FeatureTest, WalkingByNextVisitsAvailableFeaturesInPreOrder) {
  UseConditions();
  TkxFeature outer;
  Strings walk;
  std::map<std::string, std::string> parents;
  std::string id;
  for (int guard = 0; guard < 50; ++guard) {
    TkxFeature* parent = &outer;
    TkxFeature* next = nullptr;
    TkxFeature* found = FindFeature(*database_->Features, id, parent, next);
    ASSERT_NE(found, nullptr) << id;
    walk.push_back(found->ID);
    parents[found->ID] = parent == &outer ? "-" : parent ? parent->ID : "null";
    if (!next) break;
    id = next->ID;
  }
  EXPECT_EQ(walk,
            (Strings{"Main", "Core", "Docs", "Manual", "Samples", "Tools", "Cli", "Completion"}));
  EXPECT_EQ(parents["Main"], "-");
  EXPECT_EQ(parents["Core"], "Main");
  EXPECT_EQ(parents["Samples"], "Docs");
  EXPECT_EQ(parents["Completion"], "Cli");
  EXPECT_EQ(parents["Tools"], "-");
}

TEST_F(FeatureTest, FindFeatureMisses) {
  UseConditions();
  TkxFeature* parent = nullptr;
  TkxFeature* next = &Feature("Main");
  EXPECT_EQ(FindFeature(*database_->Features, "Nothing", parent, next), nullptr);
  EXPECT_EQ(next, nullptr);
  EXPECT_EQ(FindFeature(*database_->Features, "Hidden", parent, next), nullptr);
  EXPECT_EQ(FindFeature(*database_->Features, "gui", parent, next), nullptr);
  EXPECT_EQ(FindFeature(*database_->Features, "completion", parent, next), &Feature("Completion"));
  TkxFeatures empty;
  EXPECT_EQ(FindFeature(empty, "", parent, next), nullptr);
  EXPECT_EQ(SelectFeature(*database_, "Gui", true), false);
}

TEST_F(FeatureTest, FeaturesOutsideADatabaseOrWithoutAHookNotifyNobody) {
  TkxFeature alone;
  SetFeatureSelected(alone, true);
  EXPECT_TRUE(alone.Selected);
  database_->OnFeatureStateChanged = nullptr;
  EXPECT_TRUE(SelectFeature(*database_, "Docs", true));
  EXPECT_EQ(State("Docs"), 1);
}

// ---------------------------------------------------------------------------------------------
// Install types

TEST_F(FeatureTest, ApplyInstallTypeSelectsItsFeaturesAndTellsTheHook) {
  UseConditions();
  std::vector<TkxInstallType*> changed;
  database_->OnInstallTypeChanged = [&](TkxInstallType* type) { changed.push_back(type); };
  ASSERT_TRUE(ApplyInstallType(*database_, "full"));
  EXPECT_EQ(database_->ActiveInstallType, "Full");
  ASSERT_NE(database_->InstallTypes->Active, nullptr);
  EXPECT_EQ(database_->InstallTypes->Active->ID, "Full");
  EXPECT_EQ(States(),
            "Main=1 Core=1 Docs=1 Manual=1 Samples=1 Extras=0 Hidden=0 Tools=2 Cli=1 "
            "Completion=1 Gui=0 ");

  ASSERT_TRUE(ApplyInstallType(*database_, "Typical"));  // the previous choice is cleared
  EXPECT_EQ(States(),
            "Main=1 Core=1 Docs=2 Manual=1 Samples=0 Extras=0 Hidden=0 Tools=0 Cli=0 "
            "Completion=0 Gui=0 ");
  ASSERT_EQ(changed.size(), 2u);
  EXPECT_EQ(changed[1], database_->InstallTypes->Active);
  EXPECT_EQ(changed[1]->ID, "Typical");
}

TEST_F(FeatureTest, UnknownOrAbsentInstallTypeChangesNothing) {
  UseConditions();
  int changes = 0;
  database_->OnInstallTypeChanged = [&](TkxInstallType*) { ++changes; };
  ASSERT_TRUE(ApplyInstallType(*database_, "Typical"));
  EXPECT_TRUE(SelectFeature(*database_, "Cli", true));
  const std::string before = States();
  TkxInstallType* active = database_->InstallTypes->Active;
  notified_.clear();
  EXPECT_FALSE(ApplyInstallType(*database_, "NoSuchType"));
  EXPECT_FALSE(ApplyInstallType(*database_, "Secret"));  // its condition fails
  EXPECT_EQ(States(), before);
  EXPECT_EQ(database_->InstallTypes->Active, active);
  EXPECT_EQ(database_->ActiveInstallType, "Typical");
  EXPECT_EQ(changes, 1);
  EXPECT_TRUE(notified_.empty());
}

TEST_F(FeatureTest, FindInstallTypeSkipsAbsentTypes) {
  UseConditions();
  const TkxInstallTypes& types = *database_->InstallTypes;
  TkxInstallType* next = nullptr;
  TkxInstallType* found = FindInstallType(types, "", next);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->ID, "Typical");
  ASSERT_NE(next, nullptr);
  EXPECT_EQ(next->ID, "Full");
  found = FindInstallType(types, "FULL", next);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->ID, "Full");
  EXPECT_EQ(next, nullptr);  // the last one
  EXPECT_EQ(FindInstallType(types, "Secret", next), nullptr);
  EXPECT_EQ(FindInstallType(types, "Nothing", next), nullptr);
  EXPECT_EQ(next, nullptr);
  ConditionsEnabled = false;
  found = FindInstallType(types, "", next);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->ID, "Secret");
  EXPECT_EQ(next->ID, "Typical");
  TkxInstallTypes empty;
  EXPECT_EQ(FindInstallType(empty, "", next), nullptr);
}

}  // namespace
