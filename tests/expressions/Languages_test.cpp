// The run's own objects and hooks, its predefined variables, the silent settings' variables,
// the language switch, the language files of lng/ with their numbered messages, character sets,
// the error box's owner, the component walks and the dispatching wait.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "DatabaseTestSupport.h"
#include "TestSupport.h"
#include "database/KXClasses.h"
#include "expressions/Common.h"
#include "expressions/Evaluator.h"
#include "expressions/PluginChannel.h"
#include "support/RunState.h"
#include "support/WinVersion.h"
#include "support/zrFileUtils.h"
#include "support/zrIniFile.h"
#include "support/zrRegIni.h"
#include "support/zrStrUtils.h"
#include "support/zrUtils.h"

namespace {

using Strings = std::vector<std::string>;

constexpr char kQuickLaunch[] = "%ApplicationData%\\Microsoft\\Internet Explorer\\Quick Launch";
constexpr char kChildTestFilter[] = "--gtest_filter=LanguagesChildProcess.*";
constexpr char kReportSwitch[] = "kxreport:";

// Records what the engine tells the plug-ins, and answers CM_GETACTIVEWINDOW as a user-interface
// plug-in does.
class TFakeChannel : public TkxPluginChannel {
 public:
  struct Event {
    int32_t number;
    std::string text;  // the first parameter read as zero-terminated text
    intptr_t second;
    bool toAll;
  };
  struct Named {
    std::string name;
    intptr_t first;
    intptr_t second;
    bool toAll;
  };

  std::vector<Event> events;
  std::vector<Named> named;
  intptr_t activeWindow = 0;

  intptr_t Broadcast(int32_t event, intptr_t first, intptr_t second, bool toAll) override {
    const char* text = reinterpret_cast<const char*>(first);
    events.push_back({event, text ? text : "<null>", second, toAll});
    return 0;
  }
  intptr_t BroadcastNamed(const std::string& name, intptr_t first, intptr_t second,
                          bool toAll) override {
    named.push_back({name, first, second, toAll});
    return name == "CM_GETACTIVEWINDOW" ? activeWindow : 0;
  }
  intptr_t SendToPlugin(const void*, int32_t, intptr_t, intptr_t) override { return 0; }
};

// The repository's file in the Windows form that both OS layers map ("Z:\" is "/").
std::string SourceTreePath(const std::string& relative) {
  std::string path = __FILE__;  // <root>/tests/expressions/Languages_test.cpp
  for (int level = 0; level < 3; ++level) path = path.substr(0, path.find_last_of("/\\"));
  path += "/" + relative;
  if (!path.empty() && path[0] == '/') path = "Z:" + path;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

TkxPackage& AddPackage(const std::string& fileName, const std::string& tempPath) {
  TkxPackage& package = MainDatabase().Packages->AddNew();
  package.FileName = fileName;
  package.TempPath = tempPath;
  return package;
}

TkxComponent& AddComponent(TkxComponents& list, const std::string& id,
                           const std::string& packageName) {
  TkxComponent& component = list.AddNew();
  component.SetID(id);
  component.Package = packageName;
  return component;
}

std::string Variable(const std::string& name) {
  return GetVariable(&MainDatabase(), name, "<unset>");
}

const TkxVariable* FindVariable(const std::string& name) {
  return MainDatabase().Variables->FindByName(name);
}

size_t Occurrences(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t pos = text.find(part); pos != std::string::npos; pos = text.find(part, pos + 1)) {
    ++count;
  }
  return count;
}

// Every test starts with fresh run objects, no plug-ins and the process-wide settings it finds.
class CommonRunTest : public testing::Test {
 protected:
  void SetUp() override {
    FreeRunObjects();
    ResetRunState();
    savedBoxes_ = MessageBoxSettings();
    savedIni_ = IniDefaults();
    savedTitle_ = AppTitle();
    savedConditions_ = ConditionsEnabled.load();
    AppTitle().clear();
  }
  void TearDown() override {
    SetPluginChannel(nullptr);
    FreeRunObjects();
    ResetRunState();
    IniCloseAll();
    MessageBoxSettings() = savedBoxes_;
    IniDefaults() = savedIni_;
    AppTitle() = savedTitle_;
    ConditionsEnabled = savedConditions_;
  }

 private:
  BoxSettings savedBoxes_;
  TIniDefaults savedIni_;
  std::string savedTitle_;
  bool savedConditions_ = false;
};

// ---------------------------------------------------------------------------------------------
// The run's objects and their hooks

using RunObjectsTest = CommonRunTest;

TEST_F(RunObjectsTest, ConditionsGoToTheEvaluatorUntilTheObjectsAreFreed) {
  MainDatabase();
  ASSERT_TRUE(ConditionHook);
  SetVariable(&MainDatabase(), "Mode", "full");
  EXPECT_TRUE(ConditionHook("%Mode% = full"));
  EXPECT_FALSE(ConditionHook("%Mode% = minimal"));

  FreeRunObjects();
  EXPECT_FALSE(ConditionHook);
  // Made again on first use, empty and wired again.
  EXPECT_EQ(Variable("Mode"), "<unset>");
  EXPECT_TRUE(ConditionHook);
  EXPECT_EQ(SilentSettings().Variables->Count(), 0);
}

TEST_F(RunObjectsTest, FeatureAndInstallTypeChangesAreBroadcastToEveryPlugin) {
  TFakeChannel channel;
  SetPluginChannel(&channel);
  TkxMainDatabase& database = MainDatabase();
  database.Features->AddNew().ID = "Docs";
  database.InstallTypes->AddNew().ID = "Typical";

  ASSERT_TRUE(SelectFeature(database, "docs", true));
  ASSERT_EQ(channel.events.size(), 1u);
  EXPECT_EQ(channel.events[0].number, EV_FEATURESTATECHANGED);
  EXPECT_EQ(channel.events[0].text, "Docs");
  EXPECT_EQ(channel.events[0].second, 1);
  EXPECT_TRUE(channel.events[0].toAll);

  channel.events.clear();
  ASSERT_TRUE(ApplyInstallType(database, "Typical"));
  // The type deselects the feature first, then reports itself.
  ASSERT_FALSE(channel.events.empty());
  EXPECT_EQ(channel.events.front().number, EV_FEATURESTATECHANGED);
  EXPECT_EQ(channel.events.front().second, 0);
  EXPECT_EQ(channel.events.back().number, EV_INSTALLTYPECHANGED);
  EXPECT_EQ(channel.events.back().text, "Typical");
  EXPECT_EQ(channel.events.back().second, 0);
  EXPECT_TRUE(channel.events.back().toAll);
}

// ---------------------------------------------------------------------------------------------
// Runtime variables

using RuntimeVariablesTest = CommonRunTest;

TEST_F(RuntimeVariablesTest, SourcePathIsTheSetupProgramsFolderWithoutTrailingBackslash) {
  const struct {
    const char* setupFile;
    const char* sourcePath;
  } cases[] = {
      {"C:\\Setup Files\\setup.exe", "C:\\Setup Files"},
      {"  D:\\pkg\\setup.exe ", "D:\\pkg"},
      {"C:\\setup.exe", "C:"},
  };
  for (const auto& c : cases) {
    RunState().SetupFileName = c.setupFile;
    InitRuntimeVariables();
    EXPECT_EQ(Variable("SourcePath"), c.sourcePath) << c.setupFile;
    ASSERT_NE(FindVariable("SourcePath"), nullptr);
    EXPECT_TRUE(FindVariable("SourcePath")->IsRuntime);
  }
}

TEST_F(RuntimeVariablesTest, SourcePathFallsBackToTheRunningProgram) {
  RunState().SetupFileName.clear();
  InitRuntimeVariables();
  std::string sourcePath = Variable("SourcePath");
  ASSERT_FALSE(sourcePath.empty());
  EXPECT_NE(sourcePath.back(), '\\');
  EXPECT_TRUE(FileExists(sourcePath + "\\" + ExtractFileName(os::ModuleFileName()))) << sourcePath;
}

// The names the projects' SupportedOS lists use, from the version data alone.
std::pair<std::string, std::string> ExpectedOS(const os::VersionData& data) {
  if (data.platform == os::Platform::kWindows9x) {
    if (data.major > 4 || data.minor >= 90) return {"9X", "ME"};
    return {"9X", data.minor > 0 ? "98" : "95"};
  }
  if (data.platform == os::Platform::kWin32s) return {"9X", "XP"};
  if (data.major < 5) return {"NT", "NT4"};
  if (data.major == 5 && data.minor == 0) return {"NT", "2K"};
  return {"NT", "XP"};
}

// Sets $KX_WINVER for the life of the object and puts the former value back.
class WinVerOverride {
 public:
  explicit WinVerOverride(const std::string& version) {
    for (const std::string& entry : os::EnvironmentStrings()) {
      if (NameOf(entry) == "KX_WINVER") saved_ = ValueOf(entry);
    }
    os::SetProcessVariable("KX_WINVER", version);
    RefreshWinVersion();
  }
  ~WinVerOverride() {
    if (saved_) {
      os::SetProcessVariable("KX_WINVER", *saved_);
    } else {
      os::RemoveProcessVariable("KX_WINVER");
    }
    RefreshWinVersion();
  }

 private:
  std::optional<std::string> saved_;
};

TEST_F(RuntimeVariablesTest, OSPlatformAndOSVersionNameTheWindowsThatRuns) {
  const struct {
    const char* winver;
    int major, minor;
    const char* platform;
    const char* version;
  } cases[] = {
      {"4.0.950:9x", 4, 0, "9X", "95"},    {"4.10.2222:9x", 4, 10, "9X", "98"},
      {"4.90.3000:9x", 4, 90, "9X", "ME"}, {"3.51.1057", 3, 51, "NT", "NT4"},
      {"4.0.1381", 4, 0, "NT", "NT4"},     {"5.0.2195", 5, 0, "NT", "2K"},
      {"5.1.2600", 5, 1, "NT", "XP"},      {"5.2.3790", 5, 2, "NT", "XP"},
      {"10.0.19045", 10, 0, "NT", "XP"},
  };
  for (const auto& c : cases) {
    WinVerOverride override(c.winver);
    os::VersionData data = os::GetVersionData();
    if (data.major != c.major || data.minor != c.minor) {
      GTEST_SKIP() << "this system reports its own version, not $KX_WINVER";
    }
    InitRuntimeVariables();
    EXPECT_EQ(Variable("OSPlatform"), c.platform) << c.winver;
    EXPECT_EQ(Variable("OSVersion"), c.version) << c.winver;
    EXPECT_TRUE(FindVariable("OSVersion")->IsRuntime);
  }
}

TEST_F(RuntimeVariablesTest, OSPlatformAndOSVersionOfThisSystem) {
  RefreshWinVersion();
  InitRuntimeVariables();
  auto [platform, version] = ExpectedOS(os::GetVersionData());
  EXPECT_EQ(Variable("OSPlatform"), platform);
  EXPECT_EQ(Variable("OSVersion"), version);
}

TEST_F(RuntimeVariablesTest, QuickLaunchIsStoredUnexpandedAndExpandsWhenRead) {
  InitRuntimeVariables();
  const TkxVariable* quickLaunch = FindVariable("QuickLaunch");
  ASSERT_NE(quickLaunch, nullptr);
  EXPECT_EQ(quickLaunch->Value, kQuickLaunch);
  EXPECT_TRUE(quickLaunch->IsRuntime);

  std::string applicationData = Variable("ApplicationData");
  ASSERT_NE(applicationData, "<unset>");
  EXPECT_EQ(ExpandText(&MainDatabase(), "%QuickLaunch%"),
            applicationData + "\\Microsoft\\Internet Explorer\\Quick Launch");
  // A later change of the folder reaches it, since only the reference was stored.
  SetVariable(&MainDatabase(), "ApplicationData", "E:\\Profile\\AppData");
  EXPECT_EQ(ExpandText(&MainDatabase(), "%QuickLaunch%"),
            "E:\\Profile\\AppData\\Microsoft\\Internet Explorer\\Quick Launch");
}

TEST_F(RuntimeVariablesTest, SilentModeWithoutTheSwitchKeepsTheProjectsValue) {
  InitRuntimeVariables();
  EXPECT_EQ(Variable("SilentMode"), "0");
  ASSERT_NE(FindVariable("SilentMode"), nullptr);
  // Set as an ordinary variable: a saved project keeps it.
  EXPECT_FALSE(FindVariable("SilentMode")->IsRuntime);

  FreeRunObjects();
  AddVariable(*MainDatabase().Variables, "SilentMode", "2");
  InitRuntimeVariables();
  EXPECT_EQ(Variable("SilentMode"), "2");
}

TEST_F(RuntimeVariablesTest, ProjectAndPredefinedVariablesWinOverTheEnvironment) {
  ASSERT_TRUE(os::SetProcessVariable("KX_LANGTEST_ENV", "from environment"));
  ASSERT_TRUE(os::SetProcessVariable("OSVersion", "from environment"));
  AddVariable(*MainDatabase().Variables, "KX_LANGTEST_ENV", "from project");
  InitRuntimeVariables();
  EXPECT_EQ(Variable("KX_LANGTEST_ENV"), "from project");
  EXPECT_NE(Variable("OSVersion"), "from environment");
  os::RemoveProcessVariable("KX_LANGTEST_ENV");
  os::RemoveProcessVariable("OSVersion");
}

// The command line of a process cannot be changed, so the switch "s" and ParamStr are seen by a
// second run of this program, which reports what it found into a file.
TEST_F(RuntimeVariablesTest, ParamStrAndTheSilentSwitchOfARealCommandLine) {
  ScratchFolder folder(CurrentTestName());
  std::string report = folder.Path() + "report.txt";
  std::string reportSwitch = std::string("/") + kReportSwitch + report;
  if (reportSwitch.find(' ') != std::string::npos) reportSwitch = '"' + reportSwitch + '"';
  std::string parameters =
      std::string(kChildTestFilter) + " \"two words\" -s \"\"  " + reportSwitch;
  std::string commandLine = '"' + os::ModuleFileName() + "\" " + parameters;

  os::Process child = os::CreateProcess(commandLine, "", os::kShowHidden);
  ASSERT_TRUE(child.IsValid()) << os::LastErrorMessage();
  ASSERT_TRUE(child.Wait(120000));
  uint32_t exitCode = 1;
  ASSERT_TRUE(child.ExitCode(exitCode));
  EXPECT_EQ(exitCode, 0u);

  std::map<std::string, std::string> found;
  for (const std::string& line : [&] {
         Strings lines;
         std::string text = ReadFileText(report);
         size_t start = 0;
         for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
           lines.push_back(text.substr(start, end - start));
         }
         return lines;
       }()) {
    found[NameOf(line)] = ValueOf(line);
  }
  ASSERT_FALSE(found.empty()) << "the second run wrote no report";
  // A parameter with a blank comes back quoted; the empty pair of quotes is no parameter, and
  // runs of blanks become one.
  EXPECT_EQ(found["ParamStr"], std::string(kChildTestFilter) + " \"two words\" -s " + reportSwitch);
  EXPECT_EQ(found["SilentModeBySwitch"], "1");
  EXPECT_EQ(found["SilentModeProjectZero"], "0");
  EXPECT_EQ(found["SilentModeProjectTwo"], "2");
}

// The second run of the test above; skipped in an ordinary run.
TEST(LanguagesChildProcess, ReportRuntimeVariables) {
  int index = 0;
  if (!SwitchMatch(std::string(kReportSwitch) + "*", index)) {
    GTEST_SKIP() << "runs only as the second process of ParamStrAndTheSilentSwitch...";
  }
  std::string report = ParamStr(index).substr(1 + std::string(kReportSwitch).size());
  std::string text;

  FreeRunObjects();
  InitRuntimeVariables();
  text += "ParamStr=" + Variable("ParamStr") + "\n";
  text += "SilentModeBySwitch=" + Variable("SilentMode") + "\n";

  FreeRunObjects();
  AddVariable(*MainDatabase().Variables, "SilentMode", "0");
  InitRuntimeVariables();
  text += "SilentModeProjectZero=" + Variable("SilentMode") + "\n";

  FreeRunObjects();
  SetVariable(&MainDatabase(), "SilentMode", "2");
  InitRuntimeVariables();
  text += "SilentModeProjectTwo=" + Variable("SilentMode") + "\n";
  FreeRunObjects();

  ASSERT_TRUE(WriteFileText(report, text)) << report;
}

// ---------------------------------------------------------------------------------------------
// The silent settings' variables

using ApplySilentVariablesTest = CommonRunTest;

TEST_F(ApplySilentVariablesTest, CopiesInOrderTheVariablesWhoseConditionHolds) {
  ConditionsEnabled = true;
  TkxVariables& project = *MainDatabase().Variables;
  AddVariable(project, "InstallDir", "C:\\Program Files\\App");
  AddVariable(project, "Level", "1");

  TkxVariables& silent = *SilentSettings().Variables;
  AddVariable(silent, "InstallDir", "D:\\Silent");
  AddVariable(silent, "Level", "2", "0");
  AddVariable(silent, "Mode", "full");
  // Sees the value written by the entry before it.
  AddVariable(silent, "Extras", "yes", "%Mode% = full");
  AddVariable(silent, "Minimal", "yes", "%Mode% = minimal");
  AddVariable(silent, "Order", "first");
  AddVariable(silent, "Order", "second", "1");

  ApplySilentVariables();
  EXPECT_EQ(Variable("InstallDir"), "D:\\Silent");
  EXPECT_EQ(Variable("Level"), "1");
  EXPECT_EQ(Variable("Mode"), "full");
  EXPECT_EQ(Variable("Extras"), "yes");
  EXPECT_EQ(Variable("Minimal"), "<unset>");
  EXPECT_EQ(Variable("Order"), "second");
  // The values are copied, not expanded, and not marked as the run's own.
  EXPECT_FALSE(FindVariable("Mode")->IsRuntime);
}

TEST_F(ApplySilentVariablesTest, WhileConditionsAreOffEveryVariableIsCopied) {
  ConditionsEnabled = false;
  AddVariable(*SilentSettings().Variables, "Level", "2", "0");
  AddVariable(*SilentSettings().Variables, "Path", "%ProgramFiles%\\App");
  ApplySilentVariables();
  EXPECT_EQ(Variable("Level"), "2");
  EXPECT_EQ(FindVariable("Path")->Value, "%ProgramFiles%\\App");
}

// ---------------------------------------------------------------------------------------------
// Language switch

using SetLanguageTest = CommonRunTest;

TEST_F(SetLanguageTest, SetsLangIDTheTitleAndTellsEveryPlugin) {
  TFakeChannel channel;
  SetPluginChannel(&channel);
  AddVariable(*MainDatabase().Variables, "Product", "Foo");
  AddVariable(*MainDatabase().Variables, "AppName", "%Product% 2.0");
  EXPECT_EQ(AppTitle(), "");

  SetLanguage("DEU");
  EXPECT_EQ(Variable("LangID"), "DEU");
  EXPECT_EQ(AppTitle(), "Foo 2.0");
  EXPECT_EQ(MessageBoxSettings().applicationName, "Foo 2.0");
  ASSERT_EQ(channel.events.size(), 1u);
  EXPECT_EQ(channel.events[0].number, EV_LANGUAGECHANGED);
  EXPECT_EQ(channel.events[0].text, "DEU");
  EXPECT_EQ(channel.events[0].second, 0);
  EXPECT_TRUE(channel.events[0].toAll);

  // The next switch takes the name again.
  SetVariable(&MainDatabase(), "Product", "Bar");
  SetLanguage("ENU");
  EXPECT_EQ(Variable("LangID"), "ENU");
  EXPECT_EQ(AppTitle(), "Bar 2.0");
  ASSERT_EQ(channel.events.size(), 2u);
  EXPECT_EQ(channel.events[1].text, "ENU");
}

TEST_F(SetLanguageTest, WithoutAppNameTheTitleIsApplication) {
  SetLanguage("ENU");
  EXPECT_EQ(AppTitle(), "Application");
  EXPECT_EQ(MessageBoxSettings().applicationName, "Application");
}

// ---------------------------------------------------------------------------------------------
// Language files and messages

class LanguageFileTest : public CommonRunTest {
 protected:
  void SetUp() override {
    CommonRunTest::SetUp();
    folder_ = std::make_unique<ScratchFolder>(CurrentTestName());
    ASSERT_TRUE(ForceFolders(folder_->Path() + "lng"));
    for (const char* name : {"ENU.lng", "DEU.lng"}) {
      std::string text = ReadFileText(SourceTreePath(std::string("lng/") + name));
      ASSERT_FALSE(text.empty()) << SourceTreePath(std::string("lng/") + name);
      ASSERT_TRUE(WriteFileText(LngPath(name), text));
    }
    AddPackage("main.kxp", folder_->Path());
    AddVariable(*MainDatabase().Variables, "AppName", "Foo");
  }
  void TearDown() override {
    CommonRunTest::TearDown();  // closes the cached files before the folder goes
    folder_.reset();
  }

  std::string LngPath(const std::string& name) const { return folder_->Path() + "lng\\" + name; }

  Strings MessageKeys(const std::string& language) {
    Strings keys;
    IniListKeys(LngPath(language + ".lng"), "Strings", keys);
    return keys;
  }

  std::unique_ptr<ScratchFolder> folder_;
};

TEST_F(LanguageFileTest, EnglishMessagesAreExpandedAndLeaveTheArgumentToTheCaller) {
  SetLanguage("ENU");
  EXPECT_EQ(LanguageFileName(), folder_->Path() + "lng\\ENU.lng");
  EXPECT_EQ(GetMessage(14),
            "Your operating system version is too old.\r\n"
            "Version %s or newer is needed for Foo.");
  EXPECT_EQ(GetMessage(1),
            "Foo is not completely installed on your computer.\r\n"
            "Do you want to abort setup?");
  EXPECT_EQ(GetMessage(11), "Cannot install file \"%s\"!");
  EXPECT_EQ(GetMessage(15),
            "Installing Foo is not possible when it is running. Close the application and start "
            "the setup program again.");
  EXPECT_EQ(GetMessage(18), "Performing application rollback...");
  EXPECT_EQ(GetMessage(12), "");
  EXPECT_EQ(GetMessage(0), "");
  EXPECT_EQ(GetMessage(-1), "");
  EXPECT_EQ(ReadLanguageText("Strings", "LanguageName", ""), "English (United States)");
  // The default is expanded as well.
  EXPECT_EQ(ReadLanguageText("Strings", "NoSuchKey", "%AppName%||x"), "Foo\r\nx");
  EXPECT_EQ(ReadLanguageText("NoSuchSection", "1", "none"), "none");
}

TEST_F(LanguageFileTest, BothFilesHaveTheSameMessagesWithTheSamePlaceholders) {
  Strings expectedKeys = {"LanguageName"};
  for (int number = 1; number <= 18; ++number) {
    if (number != 12) expectedKeys.push_back(std::to_string(number));
  }
  Strings englishKeys = MessageKeys("ENU");
  Strings germanKeys = MessageKeys("DEU");
  EXPECT_EQ(std::set<std::string>(englishKeys.begin(), englishKeys.end()),
            std::set<std::string>(expectedKeys.begin(), expectedKeys.end()));
  EXPECT_EQ(englishKeys.size(), expectedKeys.size());  // no key twice
  EXPECT_EQ(std::set<std::string>(germanKeys.begin(), germanKeys.end()),
            std::set<std::string>(englishKeys.begin(), englishKeys.end()));
  EXPECT_EQ(germanKeys.size(), englishKeys.size());

  for (int number = 1; number <= 18; ++number) {
    if (number == 12) continue;
    SetLanguage("ENU");
    std::string english = GetMessage(number);
    SetLanguage("DEU");
    std::string german = GetMessage(number);
    EXPECT_FALSE(english.empty()) << number;
    EXPECT_FALSE(german.empty()) << number;
    EXPECT_NE(german, english) << number;
    EXPECT_EQ(Occurrences(german, "%s"), Occurrences(english, "%s")) << number;
    EXPECT_EQ(Occurrences(german, "Foo"), Occurrences(english, "Foo")) << number;
    EXPECT_EQ(Occurrences(german, "\r\n"), Occurrences(english, "\r\n")) << number;
    EXPECT_EQ(Occurrences(german, "%"), Occurrences(german, "%s")) << number << ": " << german;
  }
}

TEST_F(LanguageFileTest, ASwitchTakesEffectAtTheNextRead) {
  SetLanguage("ENU");
  EXPECT_EQ(GetMessage(13), "This operating system is not supported!");
  SetLanguage("DEU");
  EXPECT_EQ(LanguageFileName(), folder_->Path() + "lng\\DEU.lng");
  EXPECT_EQ(GetMessage(13), "Dieses Betriebssystem wird nicht unterst\xFCtzt!");
  EXPECT_EQ(GetMessage(14),
            "Die Version Ihres Betriebssystems ist zu alt.\r\n"
            "F\xFCr Foo wird Version %s oder neuer ben\xF6tigt.");
  EXPECT_EQ(GetMessage(11), "Die Datei \"%s\" kann nicht installiert werden!");
  EXPECT_EQ(ReadLanguageText("Strings", "LanguageName", ""), "Deutsch (Deutschland)");
  SetLanguage("ENU");
  EXPECT_EQ(GetMessage(13), "This operating system is not supported!");
}

TEST_F(LanguageFileTest, QuotedTextReadsBackExactlyWhetherQuotesAreStrippedOrNot) {
  for (bool unquote : {true, false}) {
    IniCloseAll();
    IniDefaults().Unquote = unquote;
    SetLanguage("ENU");
    EXPECT_EQ(GetMessage(11), "Cannot install file \"%s\"!") << unquote;
    SetLanguage("DEU");
    EXPECT_EQ(GetMessage(11), "Die Datei \"%s\" kann nicht installiert werden!") << unquote;
  }
}

TEST_F(LanguageFileTest, FilesAreAnsiTextWithCrLfLinesAndANamingFirstLine) {
  const struct {
    const char* name;
    const char* firstLine;
  } files[] = {{"ENU.lng", "// English\r\n"}, {"DEU.lng", "// German\r\n"}};
  for (const auto& file : files) {
    std::string text = ReadFileText(LngPath(file.name));
    EXPECT_EQ(text.rfind(file.firstLine, 0), 0u) << file.name;
    // The INI engine ends lines at CR only.
    for (size_t pos = text.find('\n'); pos != std::string::npos; pos = text.find('\n', pos + 1)) {
      ASSERT_TRUE(pos > 0 && text[pos - 1] == '\r') << file.name << " at " << pos;
    }
    // The ANSI code page, not UTF-8: "ü" is one byte.
    EXPECT_EQ(text.find("\xC3"), std::string::npos) << file.name;
  }
}

TEST_F(LanguageFileTest, AMissingFileOrKeyGivesTheDefault) {
  SetLanguage("FRA");
  EXPECT_EQ(GetMessage(13), "");
  EXPECT_EQ(ReadLanguageText("Strings", "LanguageName", "FRA"), "FRA");
}

TEST_F(LanguageFileTest, LonePercentSignsStayAndLaterReferencesExpand) {
  ASSERT_TRUE(WriteFileText(LngPath("TST.lng"),
                            "[Strings]\r\n"
                            "1=50% of %AppName%\r\n"
                            "2=%AppName% at 100%\r\n"
                            "3=%%AppName%% is written so\r\n"
                            "4=%sub% and \"%s\" for %AppName%\r\n"
                            "5=%Unknown% for %AppName%\r\n"
                            "6=100%||%AppName%\r\n"));
  AddVariable(*MainDatabase().Variables, "sub", "X");
  SetLanguage("TST");
  EXPECT_EQ(GetMessage(1), "50% of Foo");
  EXPECT_EQ(GetMessage(2), "Foo at 100%");
  EXPECT_EQ(GetMessage(3), "%AppName% is written so");
  EXPECT_EQ(GetMessage(4), "X and \"%s\" for Foo");
  EXPECT_EQ(GetMessage(5), "%Unknown% for Foo");
  EXPECT_EQ(GetMessage(6), "100%\r\nFoo");
}

TEST_F(LanguageFileTest, TheEngineReadsTheRealEnglishFileOfTheSourceTree) {
  // The file as it is in the repository, not a copy.
  std::string file = SourceTreePath("lng/ENU.lng");
  EXPECT_EQ(IniReadString(file, "Strings", "LanguageName", ""), "English (United States)");
  EXPECT_EQ(IniReadString(file, "Strings", "14", ""),
            "Your operating system version is too old.||Version %s or newer is needed for "
            "%AppName%.");
  EXPECT_EQ(IniReadString(file, "Strings", "12", "<none>"), "<none>");
}

using LanguageFileNameTest = CommonRunTest;

TEST_F(LanguageFileNameTest, IsThePackagesTemporaryFolderLngAndTheAbbreviation) {
  TkxPackage& package = AddPackage("main.kxp", "C:\\T\\");
  EXPECT_EQ(LanguageFileName(), "C:\\T\\lng\\ENU.lng");
  SetVariable(&MainDatabase(), "LangID", "DEU");
  EXPECT_EQ(LanguageFileName(), "C:\\T\\lng\\DEU.lng");
  package.TempPath = "C:\\T";
  EXPECT_EQ(LanguageFileName(), "C:\\T\\lng\\DEU.lng");
  // Package 0 only.
  AddPackage("data.kxp", "C:\\Other\\");
  EXPECT_EQ(LanguageFileName(), "C:\\T\\lng\\DEU.lng");
}

TEST_F(LanguageFileNameTest, WithoutAnExtractedPackageThereIsNoFile) {
  EXPECT_EQ(LanguageFileName(), "");
  EXPECT_EQ(GetMessage(13), "");
  AddVariable(*MainDatabase().Variables, "AppName", "Foo");
  EXPECT_EQ(ReadLanguageText("Strings", "1", "%AppName% default"), "Foo default");
  AddPackage("main.kxp", "");
  EXPECT_EQ(LanguageFileName(), "");
}

// ---------------------------------------------------------------------------------------------
// Character sets

TEST(LanguageCharsetTest, FromTheFirstInstalledLocaleOfThatLanguage) {
  EXPECT_EQ(LanguageCharset("ENU"), 0);
  EXPECT_EQ(LanguageCharset("enu"), 0);
  EXPECT_EQ(LanguageCharset("RUS"), 204);
  EXPECT_EQ(LanguageCharset("PLK"), 238);
  EXPECT_EQ(LanguageCharset("XYZ"), 1);
  EXPECT_EQ(LanguageCharset(""), 1);
  EXPECT_EQ(LanguageCharset("ENUS"), 1);
}

// ---------------------------------------------------------------------------------------------
// The owner of the boxes

using ActiveWindowTest = CommonRunTest;

TEST_F(ActiveWindowTest, IsTheFirstAnswerOfThePlugins) {
  EXPECT_EQ(ActiveWindow(), nullptr);

  TFakeChannel channel;
  SetPluginChannel(&channel);
  EXPECT_EQ(ActiveWindow(), nullptr);
  channel.activeWindow = 0x1234;
  EXPECT_EQ(ActiveWindow(), reinterpret_cast<os::WindowHandle>(intptr_t{0x1234}));
  ASSERT_EQ(channel.named.size(), 2u);
  EXPECT_EQ(channel.named[1].name, "CM_GETACTIVEWINDOW");
  EXPECT_EQ(channel.named[1].first, 0);
  EXPECT_EQ(channel.named[1].second, 0);
  EXPECT_FALSE(channel.named[1].toAll);
}

TEST_F(ActiveWindowTest, ErrorBoxAsksThePluginsForItsOwner) {
  TFakeChannel channel;
  // No such window: no box can appear, and the text goes to standard error.
  channel.activeWindow = 0x1234;
  SetPluginChannel(&channel);
  testing::internal::CaptureStderr();
  ErrorBox("Setup Error", "Disk full");
  std::string output = testing::internal::GetCapturedStderr();
  EXPECT_NE(output.find("Setup Error: Disk full"), std::string::npos) << output;
  ASSERT_EQ(channel.named.size(), 1u);
  EXPECT_EQ(channel.named[0].name, "CM_GETACTIVEWINDOW");
}

// ---------------------------------------------------------------------------------------------
// Walking the components

class ForEachComponentTest : public CommonRunTest {
 protected:
  void SetUp() override {
    CommonRunTest::SetUp();
    TkxPackage& mainPackage = AddPackage("main.kxp", "");
    AddPackage("data1.kxp", "");
    TkxComponents& components = *MainDatabase().Components;
    AddComponent(components, "A", "main.kxp");
    AddComponent(components, "B", "DATA1.KXP");
    AddComponent(components, "C", "missing.kxp");
    AddComponent(*mainPackage.Components, "X", "main.kxp");
    AddComponent(*mainPackage.Components, "Y", "data1.kxp");
  }

  // Records "component:package" for each call; answers false at stopAt, suspends at suspendAt.
  TkxComponentHandler Recorder(Strings& calls, const std::string& stopAt = "",
                               const std::string& suspendAt = "") {
    return [&calls, stopAt, suspendAt](TkxPackage* package, TkxComponent& component, void* data) {
      calls.push_back(component.ID() + ":" + (package ? package->FileName : "-") + ":" +
                      (data ? static_cast<const char*>(data) : "-"));
      if (component.ID() == suspendAt) RunState().InstallSuspended = true;
      return component.ID() != stopAt;
    };
  }
};

TEST_F(ForEachComponentTest, VisitsEveryComponentWithItsPackageInOrder) {
  Strings calls;
  char data[] = "d";
  EXPECT_TRUE(ForEachComponent(Recorder(calls), data));
  EXPECT_EQ(calls, (Strings{"A:main.kxp:d", "B:data1.kxp:d", "C:-:d"}));
}

TEST_F(ForEachComponentTest, AFalseAnswerStopsWithFalse) {
  Strings calls;
  EXPECT_FALSE(ForEachComponent(Recorder(calls, "B"), nullptr));
  EXPECT_EQ(calls, (Strings{"A:main.kxp:-", "B:data1.kxp:-"}));
}

TEST_F(ForEachComponentTest, ASuspendedRunStopsWithTrue) {
  Strings calls;
  EXPECT_TRUE(ForEachComponent(Recorder(calls, "", "A"), nullptr));
  EXPECT_EQ(calls, (Strings{"A:main.kxp:-"}));

  // The flag is read after each handler, so one that suspends and refuses still fails the walk.
  calls.clear();
  RunState().InstallSuspended = false;
  EXPECT_FALSE(ForEachComponent(Recorder(calls, "B", "B"), nullptr));
  EXPECT_EQ(calls.size(), 2u);
}

TEST_F(ForEachComponentTest, TheMainPackageWalkPassesPackageZeroToEveryCall) {
  Strings calls;
  EXPECT_TRUE(ForEachMainPackageComponent(Recorder(calls), nullptr));
  EXPECT_EQ(calls, (Strings{"X:main.kxp:-", "Y:main.kxp:-"}));

  calls.clear();
  EXPECT_FALSE(ForEachMainPackageComponent(Recorder(calls, "X"), nullptr));
  EXPECT_EQ(calls, (Strings{"X:main.kxp:-"}));

  calls.clear();
  EXPECT_TRUE(ForEachMainPackageComponent(Recorder(calls, "", "X"), nullptr));
  EXPECT_EQ(calls, (Strings{"X:main.kxp:-"}));
}

TEST_F(ForEachComponentTest, WithoutPackagesTheMainPackageWalkHasNothingToVisit) {
  FreeRunObjects();
  Strings calls;
  EXPECT_TRUE(ForEachMainPackageComponent(Recorder(calls), nullptr));
  EXPECT_TRUE(ForEachComponent(Recorder(calls), nullptr));
  EXPECT_TRUE(calls.empty());
}

// ---------------------------------------------------------------------------------------------
// The dispatching wait

TEST(WaitDispatchingTest, WaitsAtLeastTheDurationFromStart) {
  uint32_t start = os::TickCount();
  WaitDispatching(start, 60);
  EXPECT_GE(os::TickCount() - start, 60u);
  // Time already spent before the call counts.
  start = os::TickCount();
  os::Sleep(30);
  WaitDispatching(start, 40);
  EXPECT_GE(os::TickCount() - start, 40u);
}

TEST(WaitDispatchingTest, ATickCountBelowStartEndsTheWait) {
  // As after the counter wrapped: otherwise this would wait for days.
  WaitDispatching(os::TickCount() + 3600000, 0xFFFFFFFFu);
  WaitDispatching(os::TickCount() - 1000, 0);
  SUCCEED();
}

}  // namespace
