// The autopilot plug-in and the failure plug-ins as built, loaded as the engine loads them and
// driven through their entries by a stand-in for the engine's side of the commands: what they
// answer, which commands they send, what autopilot traces, and that null or absurd answers of
// the engine do not hurt them. (Runs through the real engine come with the plug-in host.)
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "TestSupport.h"
#include "kxplugin.h"
#include "os/os.h"
#include "support/zrFileUtils.h"
#include "support/zrStrUtils.h"

namespace {

// --- the engine's side of the commands

enum class EngineMode {
  kNormal,
  kAnswersNothing,  // every command answers 0
  kHugeSizes,       // size queries answer far more than any text
  kNegativeSizes,   // size queries answer -1
  kRefusesCopies,   // sizes are right, copies answer non-zero and write nothing
};

struct FakeEngine {
  EngineMode Mode = EngineMode::kNormal;
  std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>> Config;
  std::map<std::string, std::string> Variables;  // for %Name%
  std::vector<std::string> Commands;             // those that change the run, as sent
  std::vector<void*> Blocks;                     // CM_ALLOCMEM's
  kx_ptr NextFunctionId = 100;
  bool AllocFails = false;
  // As the engine does: a change of the install type or a feature is told to the plug-ins at once,
  // inside the command that made it.
  KxEventEntry TellChanges = nullptr;

  ~FakeEngine() {
    for (void* block : Blocks) std::free(block);
  }

  // "[Group]" lines and "name=value" lines, in order.
  void Configure(const std::string& ini) {
    size_t start = 0;
    while (start < ini.size()) {
      size_t end = ini.find('\n', start);
      if (end == std::string::npos) end = ini.size();
      const std::string line = ini.substr(start, end - start);
      start = end + 1;
      if (line.empty()) continue;
      if (line[0] == '[') {
        Config.push_back({line.substr(1, line.size() - 2), {}});
      } else {
        const size_t equals = line.find('=');
        Config.back().second.emplace_back(line.substr(0, equals), line.substr(equals + 1));
      }
    }
  }

  const std::vector<std::pair<std::string, std::string>>* Group(const std::string& name) const {
    for (const auto& [group, params] : Config) {
      if (SameText(group, name)) return &params;
    }
    return nullptr;
  }

  std::string Expand(const std::string& text) const {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
      const size_t end = text[i] == '%' ? text.find('%', i + 1) : std::string::npos;
      if (end == std::string::npos) {
        out += text[i];
        continue;
      }
      auto found = Variables.find(text.substr(i + 1, end - i - 1));
      out += found != Variables.end() ? found->second : "";
      i = end;
    }
    return out;
  }

  kx_ptr Buffer(const std::string& text, kx_ptr buffer) const {
    if (text.empty()) return 0;
    if (!buffer) {
      if (Mode == EngineMode::kHugeSizes) return kx_ptr(1) << 40;
      if (Mode == EngineMode::kNegativeSizes) return -1;
      return static_cast<kx_ptr>(text.size() + 1);
    }
    if (Mode == EngineMode::kRefusesCopies) return 5;
    std::memcpy(reinterpret_cast<char*>(buffer), text.c_str(), text.size() + 1);
    return 0;
  }

  std::string Param(const KxParamQuery& query) const {
    const char* fallback = reinterpret_cast<const char*>(query.defaultValue);
    if (const auto* params = Group(reinterpret_cast<const char*>(query.group))) {
      for (const auto& [name, value] : *params) {
        if (SameText(name, reinterpret_cast<const char*>(query.parameter))) {
          return value;
        }
      }
    }
    return fallback ? fallback : "";
  }

  std::string Names(const char* group) const {
    std::string names;
    if (const auto* params = Group(group)) {
      for (const auto& param : *params) names += (names.empty() ? "" : "\r\n") + param.first;
    }
    return names;
  }

  kx_ptr Execute(int32_t number, kx_ptr first, kx_ptr second) {
    if (Mode == EngineMode::kAnswersNothing) return 0;
    auto text = [](kx_ptr p) { return std::string(reinterpret_cast<const char*>(p)); };
    switch (number) {
      case CM_GETPCPARAM:
        return Buffer(Param(*reinterpret_cast<const KxParamQuery*>(first)), second);
      case CM_GETPCPARAMNAMES:
        return Buffer(Names(reinterpret_cast<const char*>(first)), second);
      case CM_PARSETEXT:
        return Buffer(Expand(text(first)), second);
      case CM_SETVARIABLE:
        Commands.push_back("CM_SETVARIABLE " + text(first) + "=" + text(second));
        return 0;
      case CM_SETINSTALLTYPE:
        Commands.push_back("CM_SETINSTALLTYPE " + text(first));
        if (TellChanges) TellChanges(EV_INSTALLTYPECHANGED, "", first, 0);
        return 0;
      case CM_SETFEATURESTATE:
        Commands.push_back("CM_SETFEATURESTATE " + text(first) + " " + std::to_string(second));
        if (TellChanges) TellChanges(EV_FEATURESTATECHANGED, "", first, second);
        return 0;
      case CM_REGISTERFUNCTION:
        Commands.push_back("CM_REGISTERFUNCTION " + text(first) + " " + std::to_string(second));
        return NextFunctionId++;
      case CM_ABORTINSTALL:
        Commands.push_back("CM_ABORTINSTALL");
        return 0;
      case CM_ALLOCMEM:
        if (AllocFails) return 0;
        Blocks.push_back(std::calloc(1, static_cast<size_t>(first)));
        return reinterpret_cast<kx_ptr>(Blocks.back());
      default:
        return 0;
    }
  }
};

FakeEngine* engine = nullptr;

kx_ptr KXAPI CommandEntry(int32_t sender, int32_t number, kx_ptr first, kx_ptr second,
                          int32_t toAll) {
  return engine->Execute(number, first, second);
}

// --- a plug-in library, loaded by path as the engine loads it

struct LoadedPlugin {
  os::Library Library;
  KxPluginInfo Info{};
  KxEventEntry Event = nullptr;

  explicit LoadedPlugin(const std::string& path) : Library(os::Library::Load(path)) {
    auto getInfo = reinterpret_cast<KxGetPluginInfoEntry>(Library.Symbol("GetPluginInfo"));
    if (!getInfo) return;
    Info.structVersion = KX_STRUCT_VERSION;
    getInfo(&Info);
    Event = reinterpret_cast<KxEventEntry>(Info.eventEntry);
  }

  kx_ptr Send(int32_t number, kx_ptr first = 0, kx_ptr second = 0, const char* name = nullptr) {
    return Event(number, name ? name : "", first, second);
  }
};

kx_ptr Ptr(const void* p) { return reinterpret_cast<kx_ptr>(p); }
kx_ptr ListCode(int code) { return static_cast<kx_ptr>(code) << 16; }

class AutopilotTest : public testing::Test {
 protected:
  ScratchFolder scratch_{CurrentTestName()};
  FakeEngine fake_;
  LoadedPlugin plugin_{KX_TEST_AUTOPILOT};
  KxStartupInfo startup_{};

  void SetUp() override {
    engine = &fake_;
    ASSERT_TRUE(plugin_.Event) << "autopilot.dll did not load: " << os::LastErrorMessage();
    startup_.structVersion = KX_STRUCT_VERSION;
    startup_.engineVersion = KX_ENGINE_VERSION;
    startup_.number = 1;
    startup_.commandEntry = Ptr(reinterpret_cast<void*>(&CommandEntry));
  }

  // EV_SETSTARTUPINFO and EV_LOAD with the configuration (and the configuration file's path).
  void Load(const std::string& ini, const std::string& configFile = "") {
    fake_.Configure(ini);
    std::strncpy(startup_.configFile, configFile.c_str(), sizeof startup_.configFile - 1);
    plugin_.Send(EV_SETSTARTUPINFO, Ptr(&startup_));
    EXPECT_EQ(plugin_.Send(EV_LOAD), 0);
  }

  std::vector<std::string> TraceLines(const std::string& path) {
    std::vector<std::string> lines;
    const std::string text = ReadFileText(path);
    for (size_t start = 0, end; start < text.size(); start = end + 1) {
      end = text.find('\n', start);
      lines.push_back(text.substr(start, end - start));
    }
    return lines;
  }
};

TEST(AutopilotLibrary, ExportsItsInformationWithoutDecoration) {
  LoadedPlugin plugin(KX_TEST_AUTOPILOT);
  ASSERT_TRUE(plugin.Event);
  EXPECT_STREQ(plugin.Info.name, "autopilot");
  EXPECT_EQ(plugin.Info.refused, 0);
  EXPECT_LE(plugin.Info.engineVersion, KX_ENGINE_VERSION);
}

// Every event with its parameters, as the engine passes them, one JSON line each; texts with
// quotes, backslashes, control characters and bytes of the upper half are escaped.
TEST_F(AutopilotTest, TracesEveryEventWithItsParametersDecoded) {
  fake_.Variables["Here"] = scratch_.Path();
  Load("[Trace]\nFile=%Here%trace.jsonl\n[Answers]\nVersionConflict=2\n");
  plugin_.Send(EV_LANGUAGECHANGED, Ptr("ENU"));
  KxRegistryRecord reg{Ptr("HKCU\\Software\\\"Kx\""), Ptr("Path"), Ptr("C:\\Caf\xe9\r\n\x01"), 1,
                       0};
  plugin_.Send(EV_BEFOREPROCESSITEM, ListCode(KX_LIST_REGISTRY), Ptr(&reg));
  KxFileRecord file{Ptr("C:\\App\\a.txt"), 12, 0x21A41000, 32, 0};
  plugin_.Send(EV_PROCESSITEM, 1, Ptr(&file));
  KxShortcutRecord link{Ptr("C:\\Menu\\Demo"),
                        Ptr("C:\\App\\demo.exe"),
                        Ptr("/x"),
                        Ptr("C:\\App"),
                        2,
                        Ptr("C:\\App\\demo.ico"),
                        3,
                        0x0641,
                        Ptr("Demo"),
                        0};
  plugin_.Send(EV_AFTERPROCESSITEM, ListCode(KX_LIST_SHORTCUTS), Ptr(&link));
  KxProgramRecord program{Ptr("C:\\setup.exe"), Ptr(""), Ptr("C:\\"), 3, Ptr("wait"), 4};
  plugin_.Send(EV_BEFOREPROCESSITEM, ListCode(KX_LIST_PROGRAMS), Ptr(&program));
  plugin_.Send(EV_BEFOREPROCESSITEM, ListCode(KX_LIST_INI), 0);
  EXPECT_EQ(plugin_.Send(EV_VERSIONCONFLICT, Ptr("C:\\App\\a.txt")), 2);
  const char texts[] = "Echo\0one\0two\0";
  KxCalcFunctionBlock call{7, Ptr(texts), Ptr(texts + 5)};
  plugin_.Send(EV_CALCFUNCTION, Ptr(&call));
  plugin_.Send(KX_FIRST_NAMED_MESSAGE, Ptr("Removing..."), 750, "CM_SHOWSTATUSTEXT");
  plugin_.Send(EV_FINISH, 1);
  plugin_.Send(EV_UNLOAD);
  plugin_.Send(EV_START);  // after EV_UNLOAD: no longer traced

  const std::vector<std::string> expected = {
      R"({"seq":1,"event":"EV_SETSTARTUPINFO","number":1,"thread":"main","first":{"structVersion":65536,"engineVersion":196864,"number":1,"configFile":""},"second":0,"answer":0})",
      R"({"seq":2,"event":"EV_LOAD","number":2,"thread":"main","first":0,"second":0,"answer":0})",
      R"({"seq":3,"event":"EV_LANGUAGECHANGED","number":7,"thread":"main","first":"ENU","second":0,"answer":0})",
      R"({"seq":4,"event":"EV_BEFOREPROCESSITEM","number":12,"thread":"main","first":{"list":"registry"},"second":{"key":"HKCU\\Software\\\"Kx\"","name":"Path","value":"C:\\Caf\u00e9\r\n\u0001","kind":"int","removal":0},"answer":0})",
      R"({"seq":5,"event":"EV_PROCESSITEM","number":14,"thread":"main","first":{"skipped":1},"second":{"path":"C:\\App\\a.txt","size":12,"dosDateTime":564400128,"attributes":32,"mode":0},"answer":0})",
      R"({"seq":6,"event":"EV_AFTERPROCESSITEM","number":13,"thread":"main","first":{"list":"shortcuts"},"second":{"name":"C:\\Menu\\Demo","cmdLine":"C:\\App\\demo.exe","arg":"/x","workDir":"C:\\App","showMode":2,"iconFile":"C:\\App\\demo.ico","icon":3,"hotkey":1601,"description":"Demo","removal":0},"answer":0})",
      R"({"seq":7,"event":"EV_BEFOREPROCESSITEM","number":12,"thread":"main","first":{"list":"programs"},"second":{"cmdLine":"C:\\setup.exe","arg":"","workDir":"C:\\","showMode":3,"msg":"wait","moment":4},"answer":0})",
      R"({"seq":8,"event":"EV_BEFOREPROCESSITEM","number":12,"thread":"main","first":{"list":"ini"},"second":null,"answer":0})",
      R"({"seq":9,"event":"EV_VERSIONCONFLICT","number":18,"thread":"main","first":"C:\\App\\a.txt","second":0,"answer":2})",
      R"({"seq":10,"event":"EV_CALCFUNCTION","number":21,"thread":"main","first":{"id":7,"name":"Echo","args":["one","two"]},"second":0,"answer":0})",
      R"({"seq":11,"event":"CM_SHOWSTATUSTEXT","number":4096,"thread":"main","first":"Removing...","second":750,"answer":0})",
      R"({"seq":12,"event":"EV_FINISH","number":5,"thread":"main","first":1,"second":0,"answer":0})",
      R"({"seq":13,"event":"EV_UNLOAD","number":3,"thread":"main","first":0,"second":0,"answer":0})",
  };
  EXPECT_EQ(TraceLines(scratch_.Path() + "trace.jsonl"), expected);
}

// A relative trace path lies beside the configuration file; values that are not understood are
// named in the first line. A new load sequence empties the trace and counts from 1 again.
TEST_F(AutopilotTest, TraceBesideTheConfigurationFileNamesWhatItDidNotUnderstand) {
  const std::string ini =
      "[Trace]\nFile=trace.jsonl\n[Dialogs]\nBefore=maybe\n[Answers]\n"
      "VersionConflict=5\nReboot=later\nLaunchConditions=maybe\n[Skip]\nLists=files,logs\n";
  const std::string trace = scratch_.Path() + "trace.jsonl";
  Load(ini, scratch_.Path() + "autopilot.ini");
  plugin_.Send(EV_UNLOAD);
  std::vector<std::string> lines = TraceLines(trace);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].find(R"("problems":["[Dialogs] Before=maybe: wanted proceed or cancel",)"
                          R"("[Answers] VersionConflict=5: wanted a number from 0 to 4",)"
                          R"("[Answers] Reboot=later: wanted keep, yes or no",)"
                          R"("[Answers] LaunchConditions=maybe: wanted pass or refuse",)"
                          R"("[Skip] Lists=logs: wanted files, registry, ini, shortcuts, )"
                          R"(servers, fonts or programs"]})"),
            std::string::npos)
      << lines[0];
  Load("", scratch_.Path() + "autopilot.ini");
  lines = TraceLines(trace);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1].rfind(R"({"seq":2,"event":"EV_LOAD")", 0), 0u) << lines[1];
}

struct AnswerCase {
  const char* what;
  const char* ini;
  int32_t event;
  kx_ptr first;
  int record;  // which of the fixture's records goes as the second parameter (-1: none)
  kx_ptr answer;
  std::vector<std::string> commands;
};

class AutopilotAnswers : public AutopilotTest, public testing::WithParamInterface<AnswerCase> {};

KxFileRecord readme{Ptr("C:\\Program Files\\Demo\\README.TXT"), 9, 0, 32, 0};
KxRegistryRecord runs{Ptr("HKCU\\Software\\Kx Demo"), Ptr("Runs"), Ptr("1"), 1, 0};
KxIniRecord language{Ptr("C:\\Demo\\demo.ini"), Ptr("Demo"), Ptr("Language"), Ptr("ENU"), 0};
KxShortcutRecord menu{Ptr("C:\\Menu\\Read me"), 0, 0, 0, 0, 0, 0, 0, 0, 0};
KxPathRecord server{Ptr("C:\\Demo\\server.dll"), 0};
KxProgramRecord setup{Ptr("C:\\Temp\\vcredist.exe"), 0, 0, 0, 0, 0};
const kx_ptr kRecords[] = {Ptr(&readme), Ptr(&runs),   Ptr(&language), Ptr(&menu),
                           Ptr(&server), Ptr(&server), Ptr(&setup)};

TEST_P(AutopilotAnswers, AnswersAndSendsWhatItIsTold) {
  const AnswerCase& c = GetParam();
  Load(c.ini);
  fake_.Commands.clear();
  const kx_ptr second = c.record >= 0 ? kRecords[c.record] : 0;
  EXPECT_EQ(plugin_.Send(c.event, c.first, second), c.answer);
  EXPECT_EQ(fake_.Commands, c.commands);
}

const char kSkips[] =
    "[Skip]\nLists=programs, fonts\nFiles=*.dat|*\\readme.txt\nRegistry=HKCU\\Software\\Kx "
    "Demo\\R?ns\n"
    "Ini=*\\demo.ini\nShortcuts=C:\\Menu\\*\nServers=*.ocx\nPrograms=*\\vcredist.exe\n";

INSTANTIATE_TEST_SUITE_P(
    Table, AutopilotAnswers,
    testing::Values(
        AnswerCase{"proceed by default", "", EV_SHOWDIALOGS, 0, -1, 0, {}},
        AnswerCase{"cancel before", "[Dialogs]\nBefore=cancel\n", EV_SHOWDIALOGS, 0, -1, 1, {}},
        AnswerCase{"proceed after", "[Dialogs]\nBefore=cancel\n", EV_SHOWDIALOGS, 1, -1, 0, {}},
        AnswerCase{"cancel after", "[Dialogs]\nAfter=CANCEL\n", EV_SHOWDIALOGS, 1, -1, 1, {}},
        AnswerCase{
            "variables at the start",
            "[Variables]\nInstallDir=C:\\Demo\nLogFile=%InstallDir%\\log.txt\n",
            EV_START,
            0,
            -1,
            0,
            {"CM_SETVARIABLE InstallDir=C:\\Demo", "CM_SETVARIABLE LogFile=%InstallDir%\\log.txt"}},
        AnswerCase{"selection before the dialogs",
                   "[Selection]\nInstallType=typical\nSelect=help, extra\nDeselect=main\n",
                   EV_SHOWDIALOGS,
                   0,
                   -1,
                   0,
                   {"CM_SETINSTALLTYPE typical", "CM_SETFEATURESTATE help 1",
                    "CM_SETFEATURESTATE extra 1", "CM_SETFEATURESTATE main 0"}},
        AnswerCase{"no selection after the dialogs",
                   "[Selection]\nSelect=help\n",
                   EV_SHOWDIALOGS,
                   1,
                   -1,
                   0,
                   {}},
        AnswerCase{
            "version conflict", "[Answers]\nVersionConflict=3\n", EV_VERSIONCONFLICT, 0, -1, 3, {}},
        AnswerCase{"no version answer", "", EV_VERSIONCONFLICT, 0, -1, 0, {}},
        AnswerCase{"reboot declined",
                   "[Answers]\nReboot=no\n",
                   EV_QUERYREBOOT,
                   0,
                   -1,
                   1,
                   {"CM_SETVARIABLE Reboot=0"}},
        AnswerCase{"reboot wanted",
                   "[Answers]\nReboot=yes\n",
                   EV_QUERYREBOOT,
                   0,
                   -1,
                   1,
                   {"CM_SETVARIABLE Reboot=1"}},
        AnswerCase{"reboot left alone", "[Answers]\nReboot=keep\n", EV_QUERYREBOOT, 0, -1, 0, {}},
        AnswerCase{"launch refused",
                   "[Answers]\nLaunchConditions=refuse\n",
                   EV_CHECKLAUNCHCONDITIONS,
                   0,
                   -1,
                   1,
                   {}},
        AnswerCase{"launch passed",
                   "[Answers]\nLaunchConditions=pass\n",
                   EV_CHECKLAUNCHCONDITIONS,
                   0,
                   -1,
                   0,
                   {}},
        AnswerCase{"launch left to others", "", EV_CHECKLAUNCHCONDITIONS, 0, -1, 0, {}},
        AnswerCase{
            "a whole list", kSkips, EV_BEFOREPROCESSITEMS, ListCode(KX_LIST_PROGRAMS), -1, 1, {}},
        AnswerCase{"another whole list",
                   kSkips,
                   EV_BEFOREPROCESSITEMS,
                   ListCode(KX_LIST_FONTS),
                   -1,
                   1,
                   {}},
        AnswerCase{
            "a list not named", kSkips, EV_BEFOREPROCESSITEMS, ListCode(KX_LIST_FILES), -1, 0, {}},
        AnswerCase{
            "a file by its path", kSkips, EV_BEFOREPROCESSITEM, ListCode(KX_LIST_FILES), 0, 1, {}},
        AnswerCase{"a registry value by key and name",
                   kSkips,
                   EV_BEFOREPROCESSITEM,
                   ListCode(KX_LIST_REGISTRY),
                   1,
                   1,
                   {}},
        AnswerCase{"an INI value by its file",
                   kSkips,
                   EV_BEFOREPROCESSITEM,
                   ListCode(KX_LIST_INI),
                   2,
                   1,
                   {}},
        AnswerCase{"a shortcut by its name",
                   kSkips,
                   EV_BEFOREPROCESSITEM,
                   ListCode(KX_LIST_SHORTCUTS),
                   3,
                   1,
                   {}},
        AnswerCase{"a server that does not match",
                   kSkips,
                   EV_BEFOREPROCESSITEM,
                   ListCode(KX_LIST_SERVERS),
                   4,
                   0,
                   {}},
        AnswerCase{"a program by its command",
                   kSkips,
                   EV_BEFOREPROCESSITEM,
                   ListCode(KX_LIST_PROGRAMS),
                   6,
                   1,
                   {}},
        AnswerCase{"the pattern of another list",
                   "[Skip]\nFiles=*\n",
                   EV_BEFOREPROCESSITEM,
                   ListCode(KX_LIST_REGISTRY),
                   1,
                   0,
                   {}},
        AnswerCase{"an item without record",
                   kSkips,
                   EV_BEFOREPROCESSITEM,
                   ListCode(KX_LIST_FILES),
                   -1,
                   0,
                   {}}),
    [](const testing::TestParamInfo<AnswerCase>& info) {
      std::string name = info.param.what;
      for (char& c : name) {
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
      }
      return name;
    });

// The folders are offered in turn, each after the one the engine looked in last; after the last
// one (or with a folder too long for the buffer) the plug-in no longer answers, so the engine's
// search ends.
TEST_F(AutopilotTest, OffersThePackageFoldersInTurnAndThenStops) {
  fake_.Variables["Disk"] = "E:\\disk";
  Load("[Answers]\nPackageFolders=D:\\|%Disk%2\n");
  char buffer[KX_NAME_SIZE - 1] = "C:\\Setup\\";
  EXPECT_EQ(plugin_.Send(EV_GETPACKAGE, Ptr("docs.kxp"), Ptr(buffer)), 1);
  EXPECT_STREQ(buffer, "D:\\");
  EXPECT_EQ(plugin_.Send(EV_GETPACKAGE, Ptr("docs.kxp"), Ptr(buffer)), 1);
  EXPECT_STREQ(buffer, "E:\\disk2");
  std::strcpy(buffer, "e:\\DISK2\\");
  EXPECT_EQ(plugin_.Send(EV_GETPACKAGE, Ptr("docs.kxp"), Ptr(buffer)), 0);
  EXPECT_STREQ(buffer, "e:\\DISK2\\");
  EXPECT_EQ(plugin_.Send(EV_GETPACKAGE, Ptr("docs.kxp"), 0), 0);

  fake_.Config.clear();
  Load("[Answers]\nPackageFolders=C:\\" + std::string(KX_NAME_SIZE, 'x') + "\n");
  std::strcpy(buffer, "C:\\Setup\\");
  EXPECT_EQ(plugin_.Send(EV_GETPACKAGE, Ptr("docs.kxp"), Ptr(buffer)), 0);
  EXPECT_STREQ(buffer, "C:\\Setup\\");
}

// Its functions are registered at EV_LOAD and answered with texts from the engine's allocator.
TEST_F(AutopilotTest, RegistersItsFunctionsAndAnswersThem) {
  Load("[Functions]\nAutopilotEcho=\nAutopilotVersion=1.0\n");
  EXPECT_EQ(fake_.Commands, (std::vector<std::string>{"CM_REGISTERFUNCTION AutopilotEcho -1",
                                                      "CM_REGISTERFUNCTION AutopilotVersion -1"}));
  auto call = [this](int32_t id, const char* texts) {
    KxCalcFunctionBlock block{id, Ptr(texts), Ptr(texts + std::strlen(texts) + 1)};
    const char* answer = reinterpret_cast<const char*>(plugin_.Send(EV_CALCFUNCTION, Ptr(&block)));
    if (answer) {
      EXPECT_EQ(Ptr(answer), Ptr(fake_.Blocks.back())) << "not from CM_ALLOCMEM";
    }
    return answer ? std::string(answer) : std::string("(null)");
  };
  EXPECT_EQ(call(100, "AutopilotEcho\0a b\0c\0"), "a b,c");
  EXPECT_EQ(call(100, "AutopilotEcho\0\0"), "");
  EXPECT_EQ(call(101, "AutopilotVersion\0x\0"), "1.0");
  EXPECT_EQ(call(555, "SomeoneElses\0"), "(null)");
  fake_.AllocFails = true;
  EXPECT_EQ(call(100, "AutopilotEcho\0a\0"), "(null)");
  EXPECT_EQ(plugin_.Send(EV_CALCFUNCTION, 0), 0);
}

// The events that its own commands cause arrive inside its handling of another event: each is
// traced with its own commands, numbered after the event that caused it and written before it,
// and the outer event's line still lists all of its commands.
TEST_F(AutopilotTest, TracesEventsCausedByItsOwnCommands) {
  fake_.Variables["Here"] = scratch_.Path();
  fake_.TellChanges = plugin_.Event;
  Load(
      "[Trace]\nFile=%Here%trace.jsonl\n[Selection]\nInstallType=typical\nSelect=help\n"
      "[Abort]\nEvent=EV_INSTALLTYPECHANGED\n");
  plugin_.Send(EV_SHOWDIALOGS, 0);
  const std::vector<std::string> lines = TraceLines(scratch_.Path() + "trace.jsonl");
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(
      lines[2],
      R"({"seq":4,"event":"EV_INSTALLTYPECHANGED","number":17,"thread":"main","first":"typical","second":0,"answer":0,"commands":[{"command":"CM_ABORTINSTALL","answer":0}]})");
  EXPECT_EQ(
      lines[3],
      R"({"seq":5,"event":"EV_FEATURESTATECHANGED","number":16,"thread":"main","first":"help","second":1,"answer":0})");
  EXPECT_EQ(
      lines[4],
      R"({"seq":3,"event":"EV_SHOWDIALOGS","number":6,"thread":"main","first":0,"second":0,"answer":0,"commands":[{"command":"CM_SETINSTALLTYPE","first":"typical","answer":0},{"command":"CM_SETFEATURESTATE","first":"help","second":1,"answer":0}]})");
}

TEST_F(AutopilotTest, AbortsAtTheChosenOccurrenceOfAnEvent) {
  Load("[Abort]\nEvent=ev_beforeprocessitem\nCount=2\n");
  std::vector<size_t> commandsAfter;
  for (int i = 0; i < 3; ++i) {
    plugin_.Send(EV_BEFOREPROCESSITEM, ListCode(KX_LIST_FILES), Ptr(&readme));
    plugin_.Send(EV_AFTERPROCESSITEM, ListCode(KX_LIST_FILES), Ptr(&readme));
    commandsAfter.push_back(fake_.Commands.size());
  }
  EXPECT_EQ(commandsAfter, (std::vector<size_t>{0, 1, 1}));
  EXPECT_EQ(fake_.Commands, std::vector<std::string>{"CM_ABORTINSTALL"});

  fake_.Config.clear();
  fake_.Commands.clear();
  Load("[Abort]\nEvent=CM_SHOWSTATUSTEXT\n");
  plugin_.Send(KX_FIRST_NAMED_MESSAGE + 1, Ptr("Removing"), 750, "cm_showstatustext");
  EXPECT_EQ(fake_.Commands, std::vector<std::string>{"CM_ABORTINSTALL"});
}

// An engine that answers nothing, absurd sizes or refuses to copy, and events with null
// parameters: the plug-in answers as if unconfigured and never reads or writes past a buffer.
class AutopilotUnderABadEngine : public AutopilotTest,
                                 public testing::WithParamInterface<EngineMode> {};

TEST_P(AutopilotUnderABadEngine, AnswersAsUnconfigured) {
  fake_.Mode = GetParam();
  fake_.Variables["Here"] = scratch_.Path();
  Load(
      "[Trace]\nFile=%Here%trace.jsonl\n[Dialogs]\nBefore=cancel\n[Answers]\n"
      "VersionConflict=2\nReboot=yes\n[Functions]\nF=1\n[Variables]\nA=1\n");
  const int32_t events[] = {EV_START,       EV_SHOWDIALOGS,         EV_VERSIONCONFLICT,
                            EV_GETPACKAGE,  EV_CALCFUNCTION,        EV_BEFOREPROCESSITEM,
                            EV_PROCESSITEM, EV_LANGUAGECHANGED,     EV_FEATURESTATECHANGED,
                            EV_QUERYREBOOT, EV_FILEINSTALLPROGRESS, 4097};
  for (int32_t event : events) EXPECT_EQ(plugin_.Send(event, 0, 0), 0) << event;
  EXPECT_EQ(plugin_.Send(EV_SETSTARTUPINFO, 0), 0);
  EXPECT_EQ(plugin_.Send(EV_SHOWDIALOGS, 0), 0);
  EXPECT_EQ(plugin_.Send(EV_UNLOAD), 0);
  EXPECT_TRUE(fake_.Commands.empty());
  EXPECT_FALSE(FileExists(scratch_.Path() + "trace.jsonl"));
}

std::string ModeName(const testing::TestParamInfo<EngineMode>& info) {
  const char* const names[] = {"Normal", "AnswersNothing", "HugeSizes", "NegativeSizes",
                               "RefusesCopies"};
  return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Modes, AutopilotUnderABadEngine,
                         testing::Values(EngineMode::kAnswersNothing, EngineMode::kHugeSizes,
                                         EngineMode::kNegativeSizes, EngineMode::kRefusesCopies),
                         ModeName);

// The guide's minimal plug-in does what the guide says.
TEST(SdkMinimalPlugin, SetsItsVariableAtTheStart) {
  FakeEngine fake;
  engine = &fake;
  LoadedPlugin plugin(std::string(KX_TEST_PLUGIN_FOLDER) + "minimal.dll");
  ASSERT_TRUE(plugin.Event);
  EXPECT_STREQ(plugin.Info.name, "minimal");
  KxStartupInfo startup{};
  startup.number = 3;
  startup.commandEntry = Ptr(reinterpret_cast<void*>(&CommandEntry));
  EXPECT_EQ(plugin.Send(EV_SETSTARTUPINFO, Ptr(&startup)), 0);
  EXPECT_EQ(plugin.Send(EV_LOAD), 0);
  EXPECT_TRUE(fake.Commands.empty());
  EXPECT_EQ(plugin.Send(EV_START), 0);
  EXPECT_EQ(fake.Commands, std::vector<std::string>{"CM_SETVARIABLE GreetedBy=minimal"});
}

// Each failure plug-in fails in its own way and in no other.
struct FailureCase {
  const char* library;
  const char* name;
  int refused;
  int32_t engineVersion;
  kx_ptr loadAnswer;
};

class FailurePlugins : public testing::TestWithParam<FailureCase> {};

TEST_P(FailurePlugins, FailInTheirOwnWay) {
  const FailureCase& c = GetParam();
  LoadedPlugin plugin(std::string(KX_TEST_PLUGIN_FOLDER) + c.library);
  ASSERT_TRUE(plugin.Event) << c.library;
  EXPECT_STREQ(plugin.Info.name, c.name);
  EXPECT_EQ(plugin.Info.refused, c.refused);
  EXPECT_EQ(plugin.Info.engineVersion, c.engineVersion);
  EXPECT_EQ(plugin.Send(EV_LOAD), c.loadAnswer);
  EXPECT_EQ(plugin.Send(EV_START), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FailurePlugins,
    testing::Values(FailureCase{"testfail_refuseload.dll", "testfail", 0, KX_ENGINE_VERSION, 1},
                    FailureCase{"testfail_wrongname.dll", "testfail-nomatch", 0, KX_ENGINE_VERSION,
                                0},
                    FailureCase{"testfail_newengine.dll", "testfail", 0, KX_ENGINE_VERSION + 1, 0},
                    FailureCase{"testfail_refused.dll", "testfail", 1, KX_ENGINE_VERSION, 0}),
    [](const testing::TestParamInfo<FailureCase>& info) {
      const std::string library = info.param.library;
      return library.substr(0, library.find('.'));
    });

}  // namespace
