// The driver's steps that stand on their own: the temporary folders, the unpack library and the
// language list.
#include "engine/Main.h"

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "engine/Stubs.h"
#include "support/RunState.h"
#include "support/zrFileUtils.h"

namespace {

class DriverStepTest : public testing::Test {
 protected:
  void SetUp() override {
    ResetRunState();
    ResetMainDatabase();
  }
  void TearDown() override {
    ResetRunState();
    ResetMainDatabase();
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

std::vector<std::string> LanguagesFor(const char* offered) {
  ResetMainDatabase();
  if (offered) SetVariable("Languages", offered);
  BuildLanguageList();
  return LanguageList();
}

TEST_F(DriverStepTest, LanguageListKeepsTheOfferedOrder) {
  using List = std::vector<std::string>;
  EXPECT_EQ(LanguagesFor(nullptr), List{"ENU=ENU"});
  EXPECT_EQ(LanguagesFor("DEU,ENU"), (List{"DEU=DEU", "ENU=ENU"}));
  EXPECT_EQ(LanguagesFor(" deu , Enu,,fra"), (List{"DEU=DEU", "ENU=ENU", "FRA=FRA"}));
  EXPECT_EQ(LanguagesFor("XYZ"), List{"XYZ=XYZ"});
  EXPECT_EQ(LanguagesFor(""), List{"ENU=English (USA)"});
  EXPECT_EQ(LanguagesFor(" , "), List{"ENU=English (USA)"});
}

TEST_F(DriverStepTest, LanguageFilesNameTheLanguagesNoLocaleNames) {
  ASSERT_TRUE(ForceFolders(scratch_.Path() + "lng"));
  ASSERT_TRUE(WriteFileText(scratch_.Path() + "lng\\DEU.lng",
                            "; German\r\n[Strings]\r\nLanguageName = Deutsch\r\n"));
  TkxPackage package;
  package.TempPath = scratch_.Path();
  MainDatabase().Packages.push_back(package);
  SetVariable("Languages", "deu,ENU");
  BuildLanguageList();
  EXPECT_EQ(LanguageList(), (std::vector<std::string>{"DEU=Deutsch", "ENU=ENU"}));
}

TEST_F(DriverStepTest, ChosenLanguageIsTheFirstUnlessAlreadySet) {
  SetVariable("Languages", "DEU,ENU");
  BuildLanguageList();
  ChooseLanguage();
  EXPECT_EQ(GetVariable("LangID", ""), "DEU");

  SetVariable("LangID", "ENU");
  ChooseLanguage();
  EXPECT_EQ(GetVariable("LangID", ""), "ENU");
}

}  // namespace
