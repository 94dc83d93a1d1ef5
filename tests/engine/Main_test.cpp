// The driver's steps that stand on their own: the temporary folders, the unpack library, the
// language list and choice, and the pre-selection of install types and features.
#include "engine/Main.h"

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "database/KXClasses.h"
#include "expressions/Common.h"
#include "os/os.h"
#include "package/PackageCipher.h"
#include "support/Errors.h"
#include "support/RunState.h"
#include "support/zrFileUtils.h"

namespace {

class DriverStepTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetRunState();
    FreeRunObjects();
  }
  void TearDown() override {
    ResetRunState();
    FreeRunObjects();
    LanguageList().clear();
  }
  ScratchFolder scratch_{CurrentTestName()};
};

TEST_F(DriverStepTest, TempFoldersAreNewAndNested) {
  CreateTempFolders();
  const std::string& setup = RunState().SetupTempPath;
  ASSERT_FALSE(setup.empty());
  EXPECT_EQ(setup.back(), '\\');
  EXPECT_TRUE(FolderExists(setup));
  const TkxMainDatabase& database = MainDatabase();
  std::string paths[] = {database.TempFontsPath, database.TempGACPath, database.TempBackupPath};
  for (const std::string& path : paths) {
    EXPECT_EQ(ExtractFilePath(WithoutTrailingBackslash(path)), setup) << path;
    EXPECT_TRUE(FolderExists(path));
  }
  EXPECT_NE(paths[0], paths[1]);
  EXPECT_NE(paths[1], paths[2]);
  EXPECT_TRUE(DeleteTree(setup, true));
}

TEST_F(DriverStepTest, MissingUnpackResourceStopsWithItsMessage) {
  testing::internal::CaptureStderr();
  EXPECT_FALSE(WriteUnpackLibrary(scratch_.Path()));
  std::string printed = testing::internal::GetCapturedStderr();
  EXPECT_NE(printed.find("Can't extract UNPACK.DLL"), std::string::npos) << printed;
  EXPECT_FALSE(FileExists(scratch_.Path() + "unpack.dll"));
}

TEST_F(DriverStepTest, CleanUpRunsToItsEndWhenOneOfItsStepsFails) {
  // Reading "Reboot" at the end of the run raises the nesting error: its registry key names a
  // variable that refers to itself through another.
  TkxVariables& variables = *MainDatabase().Variables;
  TkxVariable& reboot = variables.AddNew();
  reboot.Name = "Reboot";
  reboot.VarType = TkxVarType::vtReg;
  reboot.RegKey = "HKCU\\%Loop%";
  TkxVariable& loop = variables.AddNew();
  loop.Name = "Loop";
  loop.Value = "%Back%";
  TkxVariable& back = variables.AddNew();
  back.Name = "Back";
  back.Value = "%Loop%";
  // Resumed with nothing left to do, the run goes straight to its end, where reading "Reboot"
  // raises the error; it passes through the clean-up, whose own reading of "Reboot" fails too,
  // and whose later steps still run.
  RunState().ResumeMode = true;
  testing::internal::CaptureStderr();
  EXPECT_THROW(MainDriver(), KxError);
  const std::string boxes = testing::internal::GetCapturedStderr();
  EXPECT_EQ(MainDatabase().Variables->Count(), 0) << "the database is released at the end";
  EXPECT_FALSE(RunState().RebootAtExit);
  EXPECT_NE(boxes.find("Infinite reference"), std::string::npos) << boxes;
}

std::string Var(const std::string& name) { return GetVariable(&MainDatabase(), name, ""); }
void SetVar(const std::string& name, const std::string& value) {
  SetVariable(&MainDatabase(), name, value);
}

std::vector<std::string> LanguagesFor(const char* offered) {
  FreeRunObjects();
  if (offered) SetVar("Languages", offered);
  BuildLanguageList();
  return LanguageList();
}

// The display name the system gives the locale of that abbreviation.
std::string LocaleName(const std::string& abbreviation) {
  for (uint32_t locale : os::InstalledLocaleIds()) {
    if (os::LocaleLanguageAbbreviation(locale) == abbreviation)
      return os::LocaleLanguageName(locale);
  }
  return "";
}

TEST_F(DriverStepTest, LanguageListKeepsTheOfferedOrder) {
  using List = std::vector<std::string>;
  const std::string german = "DEU=" + LocaleName("DEU"), english = "ENU=" + LocaleName("ENU");
  ASSERT_NE(german, "DEU=");
  EXPECT_EQ(LanguagesFor(nullptr), List{english});
  EXPECT_EQ(LanguagesFor("DEU,ENU"), (List{german, english}));
  EXPECT_EQ(LanguagesFor(" deu , Enu,,xyz"), (List{german, english, "XYZ=XYZ"}));
  EXPECT_EQ(LanguagesFor(""), List{"ENU=English (USA)"});
  EXPECT_EQ(LanguagesFor(" , "), List{"ENU=English (USA)"});
}

TEST_F(DriverStepTest, LanguageFilesNameLanguagesWithoutAnInstalledLocale) {
  ASSERT_TRUE(ForceFolders(scratch_.Path() + "lng"));
  ASSERT_TRUE(WriteFileText(scratch_.Path() + "lng\\XYZ.lng",
                            "; Invented\r\n[Strings]\r\nLanguageName = Xyzish\r\n"));
  ASSERT_TRUE(WriteFileText(scratch_.Path() + "lng\\DEU.lng",
                            "; German\r\n[Strings]\r\nLanguageName = Deutsch\r\n"));
  MainDatabase().Packages->AddNew().TempPath = scratch_.Path();
  SetVar("Languages", "xyz,DEU,QQQ");
  BuildLanguageList();
  EXPECT_EQ(LanguageList(),
            (std::vector<std::string>{"XYZ=Xyzish", "DEU=" + LocaleName("DEU"), "QQQ=QQQ"}));
}

TEST_F(DriverStepTest, ChosenLanguageIsTheFirstWithoutAutomaticChoice) {
  SetVar("Languages", "DEU,ENU");
  SetVar("AutoSelectLanguage", "0");
  BuildLanguageList();
  ChooseLanguage();
  EXPECT_EQ(Var("LangID"), "DEU");

  SetVar("LangID", "ENU");
  ChooseLanguage();
  EXPECT_EQ(Var("LangID"), "ENU") << "a language already chosen stays";
}

TEST_F(DriverStepTest, AutomaticChoiceTakesTheUsersLanguageElseEnglishElseTheFirst) {
  const std::string user = os::LocaleLanguageAbbreviation(os::UserDefaultLocaleId());
  auto chosenFor = [](const char* offered) {
    FreeRunObjects();
    SetVar("Languages", offered);
    BuildLanguageList();
    ChooseLanguage();
    return Var("LangID");
  };
  EXPECT_EQ(chosenFor(("XYZ," + user + ",ENU").c_str()), user);
  if (user != "ENU" && user != "DEU") {
    EXPECT_EQ(chosenFor("DEU,ENU"), "ENU");
  }
  if (user != "DEU") {
    EXPECT_EQ(chosenFor("DEU"), "DEU");
  }

  // The host's user locale can be changed: a French user is offered German and English.
  ASSERT_TRUE(os::SetProcessVariable("KX_LOCALE", "040C"));
  if (os::UserDefaultLocaleId() == 0x040C) {
    EXPECT_EQ(chosenFor("DEU,ENU"), "ENU");
    EXPECT_EQ(chosenFor("DEU,FRA"), "FRA");
  }
  os::RemoveProcessVariable("KX_LOCALE");
}

TEST_F(DriverStepTest, ProjectDatabaseIsLaidOverPackageZeroWithFreshVariables) {
  TkxMainDatabase& database = MainDatabase();
  TkxPackage& main = database.Packages->AddNew();
  main.FileName = "setup";
  main.TempPath = scratch_.Path();
  SetVar("FromSilentSettings", "1");
  const std::string project =
      "<kx2project><variables><var name=\"AppName\" value=\"Demo\"/></variables>"
      "<packages><package filename=\"extras\"/></packages>"
      "<components><component id=\"core\"/></components></kx2project>";
  ASSERT_TRUE(WriteFileText(scratch_.Path() + "main.pdb", EncipherDatabase(project)));

  ASSERT_TRUE(LoadProjectDatabase(main));
  EXPECT_EQ(Var("AppName"), "Demo");
  EXPECT_EQ(Var("FromSilentSettings"), "") << "the variables are cleared before the merge";
  ASSERT_EQ(database.Packages->Count(), 2);
  EXPECT_EQ(database.Packages->Items(0), &main);
  EXPECT_EQ(main.TempPath, scratch_.Path());
  EXPECT_EQ(database.Packages->Items(1)->FileName, "extras");
  EXPECT_EQ(database.Components->Count(), 1);
}

TEST_F(DriverStepTest, MissingOrForeignProjectDatabaseEndsTheRun) {
  TkxPackage& main = MainDatabase().Packages->AddNew();
  main.TempPath = scratch_.Path();
  EXPECT_THROW(LoadProjectDatabase(main), KxError);
  ASSERT_TRUE(WriteFileText(scratch_.Path() + "main.pdb", "<kx2project/> not enciphered"));
  EXPECT_THROW(LoadProjectDatabase(main), KxError);
}

// A project with two features and three install types; conditions are on.
class PreselectionTest : public DriverStepTest {
 protected:
  void SetUp() override {
    DriverStepTest::SetUp();
    ConditionsEnabled = true;
  }
  void TearDown() override {
    ConditionsEnabled = false;
    DriverStepTest::TearDown();
  }
  TkxFeature& AddFeature(const std::string& id, const std::string& condition = "") {
    TkxFeature& feature = MainDatabase().Features->AddNew();
    feature.ID = id;
    feature.Condition = condition;
    return feature;
  }
  TkxInstallType& AddType(const std::string& id, bool isDefault, const std::string& condition,
                          const std::string& feature) {
    TkxInstallType& type = MainDatabase().InstallTypes->AddNew();
    type.ID = id;
    type.Default = isDefault;
    type.Condition = condition;
    type.Features->AddNew().ID = feature;
    return type;
  }
};

TEST_F(PreselectionTest, WithoutInstallTypesEveryAvailableTopLevelFeatureIsSelected) {
  TkxFeature& core = AddFeature("Core");
  TkxFeature& hidden = AddFeature("Hidden", "0");
  PreselectInstallType();
  EXPECT_TRUE(core.Selected);
  EXPECT_FALSE(hidden.Selected);
}

TEST_F(PreselectionTest, TheFirstAvailableDefaultInstallTypeIsApplied) {
  TkxFeature& core = AddFeature("Core");
  TkxFeature& extras = AddFeature("Extras");
  AddType("Minimal", false, "", "Core");
  AddType("Unavailable", true, "1 = 2", "Core");
  AddType("Full", true, "", "Extras");
  PreselectInstallType();
  ASSERT_NE(MainDatabase().InstallTypes->Active, nullptr);
  EXPECT_EQ(MainDatabase().InstallTypes->Active->ID, "Full");
  EXPECT_FALSE(core.Selected);
  EXPECT_TRUE(extras.Selected);
}

TEST_F(PreselectionTest, WithoutAnAvailableDefaultTheFirstTypeIsApplied) {
  TkxFeature& core = AddFeature("Core");
  AddType("Minimal", false, "", "Core");
  AddType("Full", false, "", "Extras");
  PreselectInstallType();
  EXPECT_EQ(MainDatabase().ActiveInstallType, "Minimal");
  EXPECT_TRUE(core.Selected);
}

// After the dialogs: the project's components, packages and the features that choose them.
class ResolutionTest : public PreselectionTest {
 protected:
  void SetUp() override {
    PreselectionTest::SetUp();
    RunState().SetupFileName = scratch_.Path() + "Setup.exe";
    MainDatabase().Packages->AddNew().FileName = "Setup";
  }
  TkxComponent& AddComponent(const std::string& id, const std::string& package = "",
                             const std::string& condition = "") {
    TkxComponent& component = MainDatabase().Components->AddNew();
    component.SetID(id);
    component.Package = package;
    component.Condition = condition;
    return component;
  }
  TkxPackage& AddFurtherPackage(const std::string& name) {
    TkxPackage& package = MainDatabase().Packages->AddNew();
    package.FileName = name;
    return package;
  }
  std::vector<std::string> ComponentIds() {
    std::vector<std::string> ids;
    const TkxComponents& components = *MainDatabase().Components;
    for (int i = 0; i < components.Count(); ++i) {
      ids.push_back(components.Items(i)->ID() + "@" + components.Items(i)->Package);
    }
    return ids;
  }
  // Runs ResolveChoices; its result, and what it wrote to standard error (the boxes).
  bool Resolve(std::string& boxes) {
    testing::internal::CaptureStderr();
    bool resolved = ResolveChoices();
    boxes = testing::internal::GetCapturedStderr();
    return resolved;
  }
};

TEST_F(ResolutionTest, WithoutFeaturesEveryAvailableComponentGoesToItsPackage) {
  AddComponent("core");
  AddComponent("hidden", "", "0");
  AddComponent("docs", "Docs");
  TkxPackage& docs = AddFurtherPackage("docs");
  AddFurtherPackage("unused");
  std::string boxes;
  ASSERT_TRUE(Resolve(boxes)) << boxes;
  using Ids = std::vector<std::string>;
  EXPECT_EQ(ComponentIds(), (Ids{"core@Setup", "docs@Docs"}));
  EXPECT_TRUE(MainDatabase().Components->Items(0)->Install);
  ASSERT_EQ(MainDatabase().Packages->Count(), 2) << "package 0 stays, unused packages go";
  EXPECT_EQ(MainDatabase().Packages->Items(1), &docs);
  EXPECT_TRUE(docs.Needed);
}

TEST_F(ResolutionTest, SelectedFeaturesChooseTheirAvailableComponents) {
  AddComponent("core");
  AddComponent("extra");
  AddComponent("gated", "", "0");
  AddComponent("optional");
  TkxFeature& main = AddFeature("Main");
  main.Components->AddNew().SetID("core");
  main.Components->AddNew().SetID("gated");
  TkxFeature& sub = main.Features->AddNew();
  sub.ID = "Sub";
  sub.Components->AddNew().SetID("extra");
  TkxFeature& off = AddFeature("Off");
  off.Components->AddNew().SetID("optional");
  SetFeatureSelected(main, true);
  std::string boxes;
  ASSERT_TRUE(Resolve(boxes)) << boxes;
  EXPECT_EQ(ComponentIds(), (std::vector<std::string>{"core@Setup", "extra@Setup"}));
}

TEST_F(ResolutionTest, FeaturesSharingAnIdEndTheWalkInsteadOfCirclingForever) {
  AddComponent("core");
  AddComponent("second");
  AddFeature("Same").Components->AddNew().SetID("core");
  AddFeature("Between");
  AddFeature("Same").Components->AddNew().SetID("second");
  for (int i = 0; i < 3; ++i) SetFeatureSelected(*MainDatabase().Features->Items(i), true);
  std::string boxes;
  ASSERT_TRUE(Resolve(boxes)) << boxes;
  EXPECT_EQ(ComponentIds(), std::vector<std::string>{"core@Setup"})
      << "the walk by ID never reaches the second holder of an ID";
}

TEST_F(ResolutionTest, UnknownComponentsAndPackagesStopWithTheirBoxes) {
  AddComponent("core");
  TkxFeature& main = AddFeature("Main");
  main.Components->AddNew().SetID("missing");
  SetFeatureSelected(main, true);
  std::string boxes;
  EXPECT_FALSE(Resolve(boxes));
  EXPECT_NE(boxes.find("Component not found: Component ID=\"missing\" not found!"),
            std::string::npos)
      << boxes;

  FreeRunObjects();
  MainDatabase().Packages->AddNew().FileName = "Setup";
  AddComponent("docs", "Nowhere");
  EXPECT_FALSE(Resolve(boxes));
  EXPECT_NE(boxes.find("Package not found: Can't find package \"Nowhere\" in main database!"),
            std::string::npos)
      << boxes;
}

TEST_F(ResolutionTest, FurtherPackagesAreLookedForBesideTheSetup) {
  AddFurtherPackage("docs");
  const std::string saved = os::GetCurrentDir();
  ASSERT_TRUE(os::SetCurrentDir(scratch_.Path()));
  testing::internal::CaptureStderr();
  EXPECT_FALSE(PrepareFurtherPackages());
  std::string boxes = testing::internal::GetCapturedStderr();
  os::SetCurrentDir(saved);
  EXPECT_NE(boxes.find("File \"docs.kxp\" was not found"), std::string::npos) << boxes;
  EXPECT_EQ(MainDatabase().Packages->Items(1)->FullFileName, scratch_.Path() + "docs.kxp");
}

TEST_F(ResolutionTest, PackageDefinitionsReplaceTheProjectsComponents) {
  TkxComponent& core = AddComponent("core", "Setup");
  core.Name = "from the project";
  TkxComponent& full = MainDatabase().Packages->Items(0)->Components->AddNew();
  full.SetID("CORE");
  full.Name = "from the package";
  full.Files->AddNew().Src = "app.exe";
  AddComponent("loose", "Setup");
  MergePackageComponents();
  EXPECT_EQ(core.Name, "from the package");
  ASSERT_EQ(core.Files->Count(), 1);
  EXPECT_EQ(core.Files->Items(0)->Src, "app.exe");
  EXPECT_EQ(core.Package, "Setup");
  EXPECT_EQ(MainDatabase().Components->Items(1)->Files->Count(), 0);
}

TEST_F(PreselectionTest, RepairTakesTheRememberedTypeWithoutTouchingFeatures) {
  TkxFeature& core = AddFeature("Core");
  AddType("Minimal", true, "", "Core");
  AddType("Full", false, "", "Core");
  SilentSettings().ActiveInstallType = "full";
  RunState().RepairMode = true;
  PreselectInstallType();
  ASSERT_NE(MainDatabase().InstallTypes->Active, nullptr);
  EXPECT_EQ(MainDatabase().InstallTypes->Active->ID, "Full");
  EXPECT_FALSE(core.Selected);

  SilentSettings().ActiveInstallType = "Gone";
  PreselectInstallType();
  EXPECT_EQ(MainDatabase().InstallTypes->Active, nullptr);
}

}  // namespace
