// The programs of a project's moments, started for real (this test program, as ProgramProbe,
// writes its name into a log and ends with the code it is given), the uninstaller's program
// records, the saved run state and the resume command.
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>

#include "InstallTestSupport.h"
#include "database/zrXMLParser.h"
#include "install/Programs.h"
#include "os/os.h"
#include "support/zrShell.h"

namespace {

constexpr char kProbeLog[] = "KX_PROGRAM_PROBE_LOG";

std::string Word(const std::string& commandLine, const std::string& prefix) {
  const size_t at = commandLine.find(prefix);
  if (at == std::string::npos) return "";
  const size_t start = at + prefix.size();
  return commandLine.substr(start, commandLine.find_first_of(" \"", start) - start);
}

class ProgramsTest : public InstallTest {
 protected:
  void SetUp() override {
    InstallTest::SetUp();
    ASSERT_TRUE(os::SetProcessVariable(kProbeLog, Log()));
  }
  std::string Log() const { return scratch_.Path() + "probe.log"; }
  // The names the probes wrote, in order, comma-separated.
  std::string Ran() const {
    std::string text = ReadFileText(Log());
    std::string names;
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
         start = end + 1) {
      names += (names.empty() ? "" : ",") + Trim(text.substr(start, end - start));
    }
    return names;
  }
  // A program item running the probe, which writes name and exits with code.
  static std::string Probe(const std::string& when, const std::string& name, int code = 0,
                           const std::string& flags = "") {
    return "<runapp cmdline=\"" + os::ModuleFileName() +
           "\" arg=\"--gtest_filter=ProgramProbe.* probe=" + name +
           " exit=" + std::to_string(code) + "\" whenstart=\"" + when + "\" flags=\"" + flags +
           "\"/>";
  }
  void MakeProject(const std::string& components) {
    TXMLTag project;
    project.Parse("<kx2project><components>" + components + "</components></kx2project>");
    MainDatabase().Assign(project);
  }
  // The RunOnce values that resume a run from this test's folder; with remove, they go.
  int ResumeValues(bool remove = false) const {
    Strings values;
    RegListValues(kRunOnceKey, values);
    int ours = 0;
    for (const std::string& value : values) {
      if (RegReadText(kRunOnceKey, value, "").find(Temp()) == std::string::npos) continue;
      ++ours;
      if (remove) RegDeleteValue(kRunOnceKey, value);
    }
    return ours;
  }
  void TearDown() override {
    ResumeValues(true);
    os::RemoveProcessVariable(kProbeLog);
    InstallTest::TearDown();
  }
  static std::string Component(const std::string& id, const std::string& programs) {
    return "<component id=\"" + id + "\"><runapps>" + programs + "</runapps></component>";
  }
};

TEST_F(ProgramsTest, RunsTheProgramsOfTheMomentInOrder) {
  MakeProject(Component("a", Probe("before_install", "one") + Probe("after_install", "later") +
                                 Probe("before_install", "two")) +
              Component("b", Probe("before_install", "three")));
  EXPECT_TRUE(RunProgramsAt(TkxWhenStart::before_install));
  EXPECT_EQ(Ran(), "one,two,three");
  EXPECT_EQ(MainDatabase().InstallState, TkxInstallState::isUnknown);
  EXPECT_EQ(MainDatabase().InstallStateData, "");
}

// An empty command would otherwise be handed to the shell, and fail the run with check_exitcode.
TEST_F(ProgramsTest, AProgramWhoseCommandIsEmptyIsSkipped) {
  MakeProject(Component("a",
                        "<runapp cmdline=\"%Nothing%\" whenstart=\"before_install\" "
                        "flags=\"check_exitcode\"/>" +
                            Probe("before_install", "after")));
  SetVariable(&MainDatabase(), "Nothing", "");
  EXPECT_TRUE(RunProgramsAt(TkxWhenStart::before_install));
  EXPECT_EQ(Ran(), "after");
}

TEST_F(ProgramsTest, AFailingProgramFailsTheRunOnlyWithCheckExitcode) {
  struct Case {
    const char* flags;
    bool result;
    const char* ran;
  } cases[] = {{"", true, "failing,next"}, {"check_exitcode", false, "failing"}};
  for (const Case& test : cases) {
    os::DeleteFile(Log());
    MakeProject(Component(
        "a", Probe("after_install", "failing", 3, test.flags) + Probe("after_install", "next")));
    EXPECT_EQ(RunProgramsAt(TkxWhenStart::after_install), test.result) << test.flags;
    EXPECT_EQ(Ran(), test.ran) << test.flags;
    EXPECT_EQ(MainDatabase().InstallState, TkxInstallState::isUnknown);
    EXPECT_EQ(MainDatabase().InstallStateData, "");
  }
}

TEST_F(ProgramsTest, AProgramNotWaitedForStillRuns) {
  MakeProject(Component("a", Probe("after_install", "alone", 3, "dont_wait,check_exitcode")));
  EXPECT_TRUE(RunProgramsAt(TkxWhenStart::after_install));
  for (int wait = 0; wait < 500 && Ran().empty(); ++wait) os::Sleep(20);
  EXPECT_EQ(Ran(), "alone");
}

// The saved state names component "b" and its program 1: "a" was done before the restart, and
// b's programs up to and including the running one are not started again.
TEST_F(ProgramsTest, AResumedPhaseGoesOnAfterTheProgramThatWasRunning) {
  MakeProject(Component("a", Probe("before_install", "a0")) +
              Component("b", Probe("before_install", "b0") + Probe("before_install", "b1") +
                                 Probe("before_install", "b2")) +
              Component("c", Probe("before_install", "c0")));
  MainDatabase().InstallStateData = "b,1";
  EXPECT_TRUE(RunProgramsAt(TkxWhenStart::before_install));
  EXPECT_EQ(Ran(), "b2,c0");
  EXPECT_EQ(MainDatabase().InstallStateData, "");
}

TEST_F(ProgramsTest, UninstallerRecordsShareOneNumbering) {
  MakeProject(
      Component("a",
                "<runapp cmdline=\"%InstallPath%\\pre.exe\" arg=\"-q\" workdir=\"w\" msg=\"m\" "
                "showcmd=\"min\" whenstart=\"before_uninstall\" flags=\"dont_wait\"/>"
                "<runapp cmdline=\"post.exe\" showcmd=\"max\" whenstart=\"after_uninstall\" "
                "flags=\"check_exitcode\"/>") +
      Component("b",
                "<runapp cmdline=\"pre2.exe\" showcmd=\"hide\" whenstart=\"before_uninstall\"/>"
                "<runapp cmdline=\"post2.exe\" whenstart=\"after_uninstall\"/>"));
  SetVariable(&MainDatabase(), "InstallPath", "C:\\App");
  RecordUninstallPrograms();
  EXPECT_EQ(LogKeys("PreRunApp"), (Strings{"0", "1"}));
  EXPECT_EQ(LogKeys("RunApp"), (Strings{"2", "3"}));
  const std::string log = LogSettings().Path;
  EXPECT_EQ(IniReadString(log, "PreRunApp", "0", ""), "'C:\\App\\pre.exe','-q','w',3,'m',0,0");
  EXPECT_EQ(IniReadString(log, "PreRunApp", "1", ""), "'pre2.exe','','',0,'',1,0");
  EXPECT_EQ(IniReadString(log, "RunApp", "2", ""), "'post.exe','','',2,'',1,1");
  EXPECT_EQ(IniReadString(log, "RunApp", "3", ""), "'post2.exe','','',1,'',1,0");
}

TEST_F(ProgramsTest, TheRunStateIsSavedAndLoadedWhole) {
  RunState().SetupTempPath = Temp();
  MainDatabase().InstallState = TkxInstallState::isRunAppAfterInstall;
  MainDatabase().InstallStateData = "core,2";
  SetVariable(&MainDatabase(), "Marker", "kept");
  ASSERT_TRUE(InstallActions().CreateFolders(Machine() + "made", true));
  ASSERT_TRUE(SaveRunState());
  MainDatabase().Clear();
  InstallActions().Clear();
  ASSERT_TRUE(LoadRunState(WithoutTrailingBackslash(Temp())));
  EXPECT_EQ(MainDatabase().InstallState, TkxInstallState::isRunAppAfterInstall);
  EXPECT_EQ(MainDatabase().InstallStateData, "core,2");
  EXPECT_EQ(GetVariable(&MainDatabase(), "Marker", ""), "kept");
  ASSERT_EQ(InstallActions().Count(), 1);
  EXPECT_FALSE(LoadRunState(Machine()));
  // A run without its temporary folder has nowhere to keep its state: not the current folder.
  RunState().SetupTempPath.clear();
  EXPECT_FALSE(SaveRunState());
  EXPECT_FALSE(FileExists("MainDB"));
}

TEST_F(ProgramsTest, EnvironmentVariablesAreSetAndUndoneByRollback) {
  const std::string kept = "KXTEST_ENV_KEPT", added = "KXTEST_ENV_ADDED";
  ASSERT_TRUE(RegWriteString(kUserEnvironmentKey, kept, "the user's"));
  RegDeleteValue(kUserEnvironmentKey, added);
  TXMLTag project;
  project.Parse("<kx2project><variables><var name=\"SET  " + kept +
                " \" value=\"%NotExpanded%\"/><var name=\"set " + added +
                "\" value=\"new\"/><var name=\"SETTLE\" value=\"no\"/></variables></kx2project>");
  MainDatabase().Assign(project);
  ASSERT_TRUE(EnvironmentPhase());
  EXPECT_EQ(RegReadText(kUserEnvironmentKey, kept, ""), "%NotExpanded%");
  EXPECT_EQ(RegReadText(kUserEnvironmentKey, added, ""), "new");
  EXPECT_FALSE(RegValueExists(kUserEnvironmentKey, "TLE"));
  EXPECT_EQ(GetVariable(&MainDatabase(), "Reboot", ""), "1");
  // A later failure takes the run's changes back; the uninstaller never hears of them.
  InstallActions().Rollback();
  EXPECT_EQ(RegReadText(kUserEnvironmentKey, kept, ""), "the user's");
  EXPECT_FALSE(RegValueExists(kUserEnvironmentKey, added));
  for (int index = 0; index < InstallActions().Count(); ++index) {
    EXPECT_FALSE(InstallActions().Action(index)->Log);
  }
  RegDeleteValue(kUserEnvironmentKey, kept);
}

TEST_F(ProgramsTest, TheResumeCommandIsRegisteredOncePerSuspend) {
  ResumeValues(true);
  RunState().SetupFileName = "C:\\Setup Folder\\setup.exe";
  RunState().SetupTempPath = Temp();
  RegisterResume();
  EXPECT_EQ(RegisteredResumeValue(), "") << "a run that is not suspended registers nothing";
  SuspendRun(TkxInstallState::isRegServers, "");
  RegisterResume();
  const std::string name = RegisteredResumeValue();
  EXPECT_TRUE(std::regex_match(name, std::regex("kx[0-9]+"))) << name;
  EXPECT_EQ(RegReadText(kRunOnceKey, name, ""),
            "\"C:\\Setup Folder\\setup.exe\" /resume:\"" + Temp() + "\"");
  RegisterResume();  // the session ended, then the driver finishes
  EXPECT_EQ(ResumeValues(), 1);
}

}  // namespace

// The program the tests start: writes the name it was given into the log and ends with its code.
// Run on its own it does nothing.
TEST(ProgramProbe, WritesItsNameAndEnds) {
  const char* log = std::getenv(kProbeLog);
  const std::string commandLine = os::CommandLine();
  if (!log || commandLine.find("probe=") == std::string::npos) GTEST_SKIP();
  os::File file = os::File::Open(log, os::File::Mode::kAppend);
  ASSERT_TRUE(file.IsOpen());
  WriteLine(file, Word(commandLine, "probe="));
  file.Close();
  std::exit(std::atoi(Word(commandLine, "exit=").c_str()));
}
