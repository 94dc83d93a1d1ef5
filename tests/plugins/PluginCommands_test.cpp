// The commands that plug-ins send, called by a real plug-in through the command entry of its
// start-up record: the buffer protocol with a null and a real buffer, the records and their
// walks, expressions and plug-in functions, and answers of garbage that must not hurt the engine.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "PluginTestSupport.h"
#include "TestSupport.h"
#include "database/KXClasses.h"
#include "expressions/Evaluator.h"
#include "expressions/PluginChannel.h"
#include "install/Log.h"
#include "plugins/CtrlHandler.h"
#include "support/zrRegIni.h"

namespace {

constexpr char kCanary = '\x5a';

class PluginCommandsTest : public ThreePluginsTest {
 protected:
  std::string Project() const override {
    return "<variables><var name=\"AppDir\" value=\"C:\\App\"/>"
           "<var name=\"Empty\" value=\"\"/></variables>"
           "<features>"
           "<feature id=\"A\" name=\"Feature %AppDir%\" description=\"All of A\" required=\"1\">"
           "<features><feature id=\"A1\" name=\"One\"/><feature id=\"A2\" name=\"Two\"/>"
           "<feature id=\"Hidden\" condition=\"1 = 2\"/></features></feature>"
           "<feature id=\"B\" name=\"Bee\"/></features>"
           "<installtypes><installtype id=\"Typical\" name=\"Typical in %AppDir%\">"
           "<features><feature id=\"A\"/></features></installtype>"
           "<installtype id=\"Never\" condition=\"0\"/>"
           "<installtype id=\"Custom\" name=\"Custom\" custom=\"1\"/></installtypes>";
  }

  // Asks with a null buffer, then with a buffer of exactly the answered size (and a canary
  // after it); the text written, or "" when the first answer was 0.
  std::string AskText(int32_t command, kx_ptr query, bool bufferFirst = false) {
    const kx_ptr size =
        bufferFirst ? alpha_.Command(command, 0, query) : alpha_.Command(command, query, 0);
    if (size == 0) return std::string();
    EXPECT_GT(size, 0);
    EXPECT_LT(size, 1 << 20);
    std::vector<char> buffer(static_cast<size_t>(size) + 1, kCanary);
    const kx_ptr address = reinterpret_cast<kx_ptr>(buffer.data());
    EXPECT_EQ(bufferFirst ? alpha_.Command(command, address, query)
                          : alpha_.Command(command, query, address),
              0);
    EXPECT_EQ(buffer[static_cast<size_t>(size) - 1], '\0') << "the text ends the buffer";
    EXPECT_EQ(buffer.back(), kCanary) << "nothing is written past the size";
    return std::string(buffer.data());
  }
  std::string AskText(int32_t command, const std::string& query) {
    return AskText(command, TextParameter(query));
  }

  // A record into a buffer of the size answered for a null one; empty when there is none.
  std::vector<char> AskRecord(int32_t command, const std::string& id) {
    const kx_ptr size = alpha_.Command(command, TextParameter(id), 0);
    if (size == 0) return {};
    std::vector<char> buffer(static_cast<size_t>(size) + 1, kCanary);
    EXPECT_EQ(alpha_.Command(command, TextParameter(id), reinterpret_cast<kx_ptr>(buffer.data())),
              0);
    EXPECT_EQ(buffer.back(), kCanary);
    buffer.pop_back();
    return buffer;
  }

  // The text a record's pointer word points to; "(null)" for a null word. The word must point
  // into the record's own buffer.
  template <class Record>
  static std::string Field(const std::vector<char>& buffer, kx_ptr Record::*field) {
    Record record;
    std::memcpy(&record, buffer.data(), sizeof(Record));
    const kx_ptr word = record.*field;
    if (word == 0) return "(null)";
    const kx_ptr begin = reinterpret_cast<kx_ptr>(buffer.data());
    if (word < begin + static_cast<kx_ptr>(sizeof(Record)) ||
        word >= begin + static_cast<kx_ptr>(buffer.size())) {
      return "(outside)";
    }
    return reinterpret_cast<const char*>(word);
  }
};

TEST_F(PluginCommandsTest, TextsFollowTheBufferProtocol) {
  EXPECT_EQ(alpha_.Command(CM_GETVARIABLE, TextParameter("AppDir")), 7);
  EXPECT_EQ(AskText(CM_GETVARIABLE, "AppDir"), "C:\\App");
  EXPECT_EQ(AskText(CM_PARSETEXT, "%AppDir%\\bin"), "C:\\App\\bin");
  EXPECT_EQ(AskText(CM_GETVARIABLE, "Empty"), "");
  EXPECT_EQ(AskText(CM_GETVARIABLE, "Unknown"), "");
  EXPECT_EQ(AskText(CM_PARSETEXT, 0), "") << "a null text is the empty text";
  EXPECT_EQ(AskText(CM_GETVARIABLE, 0), "");

  EXPECT_EQ(alpha_.Command(CM_SETVARIABLE, TextParameter("Given"), TextParameter("by alpha")), 0);
  EXPECT_EQ(AskText(CM_GETVARIABLE, "Given"), "by alpha");
  EXPECT_EQ(alpha_.Command(CM_SETVARIABLE, TextParameter("Given"), 0), 0);
  EXPECT_EQ(AskText(CM_GETVARIABLE, "Given"), "");
  EXPECT_EQ(alpha_.Command(CM_SETVARIABLE, 0, TextParameter("nameless")), 0);
}

TEST_F(PluginCommandsTest, TheLanguageRecordWalksTheOfferedLanguages) {
  const std::vector<std::string> languages = {"ENU=English (United States)", "DEU=Deutsch"};
  SetOfferedLanguages(&languages);
  const std::vector<char> first = AskRecord(CM_GETLANGUAGE, "");
  SetOfferedLanguages(nullptr);
  ASSERT_EQ(first.size(), sizeof(KxLanguageRecord) + 4 + 24 + 4);
  EXPECT_EQ(Field(first, &KxLanguageRecord::abbreviation), "ENU");
  EXPECT_EQ(Field(first, &KxLanguageRecord::displayName), "English (United States)");
  EXPECT_EQ(Field(first, &KxLanguageRecord::next), "DEU");

  SetOfferedLanguages(&languages);
  const std::vector<char> last = AskRecord(CM_GETLANGUAGE, "deu");
  const std::vector<char> missing = AskRecord(CM_GETLANGUAGE, "FRA");
  SetOfferedLanguages(nullptr);
  EXPECT_EQ(Field(last, &KxLanguageRecord::displayName), "Deutsch");
  EXPECT_EQ(Field(last, &KxLanguageRecord::next), "(null)");
  EXPECT_TRUE(missing.empty());
  EXPECT_EQ(alpha_.Command(CM_GETLANGUAGE, 0, 0), 0) << "no list offered";
}

TEST_F(PluginCommandsTest, TheFeatureRecordsWalkTheTreeDepthFirst) {
  std::vector<std::string> walk;
  std::vector<std::string> parents;
  std::string id;
  for (int guard = 0; guard < 10; ++guard) {
    const std::vector<char> record = AskRecord(CM_GETFEATURE, id);
    ASSERT_FALSE(record.empty()) << id;
    walk.push_back(Field(record, &KxFeatureRecord::id));
    parents.push_back(Field(record, &KxFeatureRecord::parent));
    id = Field(record, &KxFeatureRecord::next);
    if (id == "(null)") break;
  }
  EXPECT_EQ(walk, (std::vector<std::string>{"A", "A1", "A2", "B"}));
  EXPECT_EQ(parents, (std::vector<std::string>{"(null)", "A", "A", "(null)"}));

  const std::vector<char> a = AskRecord(CM_GETFEATURE, "a");
  EXPECT_EQ(Field(a, &KxFeatureRecord::name), "Feature C:\\App");
  EXPECT_EQ(Field(a, &KxFeatureRecord::description), "All of A");
  KxFeatureRecord header;
  std::memcpy(&header, a.data(), sizeof(header));
  EXPECT_EQ(header.required, -1);
  EXPECT_EQ(a.size(), sizeof(KxFeatureRecord) + 2 + 15 + 9 + 3);
  EXPECT_TRUE(AskRecord(CM_GETFEATURE, "Hidden").empty()) << "its condition does not hold";
  EXPECT_TRUE(AskRecord(CM_GETFEATURE, "C").empty());
}

TEST_F(PluginCommandsTest, FeatureStatesChangeAndTheOtherPluginsHearOfIt) {
  EXPECT_EQ(alpha_.Command(CM_GETFEATURESTATE, TextParameter("A1")), 0);
  EXPECT_EQ(alpha_.Command(CM_SETFEATURESTATE, TextParameter("A1"), 1), 0);
  EXPECT_EQ(alpha_.Command(CM_GETFEATURESTATE, TextParameter("A1")), 1);
  EXPECT_EQ(alpha_.Command(CM_GETFEATURESTATE, TextParameter("A")), 2);
  EXPECT_NE(beta_.Log().find("EV_FEATURESTATECHANGED(A1,1)"), std::string::npos) << beta_.Log();
  EXPECT_EQ(alpha_.Command(CM_SETFEATURESTATE, TextParameter("Nowhere"), 1), -1);
  EXPECT_EQ(alpha_.Command(CM_GETFEATURESTATE, TextParameter("Nowhere")), 0);
  EXPECT_EQ(alpha_.Command(CM_GETFEATURESTATE, 0), 2) << "the empty ID stands for the first";
}

TEST_F(PluginCommandsTest, TheInstallTypeRecordsWalkTheAvailableTypes) {
  const std::vector<char> first = AskRecord(CM_GETINSTALLTYPE, "");
  EXPECT_EQ(Field(first, &KxInstallTypeRecord::id), "Typical");
  EXPECT_EQ(Field(first, &KxInstallTypeRecord::name), "Typical in C:\\App");
  EXPECT_EQ(Field(first, &KxInstallTypeRecord::next), "Custom") << "Never is not available";
  const std::vector<char> custom = AskRecord(CM_GETINSTALLTYPE, "Custom");
  KxInstallTypeRecord header;
  std::memcpy(&header, custom.data(), sizeof(header));
  EXPECT_EQ(header.custom, -1);
  EXPECT_EQ(Field(custom, &KxInstallTypeRecord::next), "(null)");
  EXPECT_TRUE(AskRecord(CM_GETINSTALLTYPE, "Never").empty());

  EXPECT_EQ(alpha_.Command(CM_SETINSTALLTYPE, TextParameter("Never")), -1);
  EXPECT_EQ(alpha_.Command(CM_SETINSTALLTYPE, TextParameter("Typical")), 0);
  EXPECT_NE(gamma_.Log().find("EV_INSTALLTYPECHANGED(Typical,0)"), std::string::npos)
      << gamma_.Log();
}

TEST_F(PluginCommandsTest, TheLanguageSwitchReachesEveryPlugin) {
  EXPECT_EQ(alpha_.Command(CM_SETLANGUAGE, TextParameter("DEU")), 0);
  EXPECT_EQ(GetVariable(&MainDatabase(), "LangID", ""), "DEU");
  for (const PluginControl* plugin : {&alpha_, &beta_, &gamma_}) {
    EXPECT_NE(plugin->Log().find("EV_LANGUAGECHANGED(DEU,0)"), std::string::npos);
  }
  EXPECT_EQ(alpha_.Command(CM_SETLANGUAGE, 0), 0);
  EXPECT_EQ(GetVariable(&MainDatabase(), "LangID", ""), "DEU");
}

TEST_F(PluginCommandsTest, ConfigurationComesFromTheEntryWithoutAFile) {
  TkxPlugin& entry = *MainDatabase().Packages->Items(0)->Plugins->Items(0);
  TXMLTag tag;
  tag.Parse(
      "<config><paramgroup name=\"Main\"><param name=\"Title\" value=\"Hello\"/>"
      "<param name=\"Width\" value=\"5\"/></paramgroup><paramgroup name=\"Colors\"/></config>");
  entry.Config = std::make_unique<TkxPluginSimpleConfig>();
  entry.Config->Assign(tag);
  Plugins().PluginAt(0)->Config = entry.Config.get();
  TXMLTag custom;
  custom.Parse("<customconfig mode=\"full\"><page id=\"1\"/></customconfig>");
  Plugins().PluginAt(0)->CustomConfig = &custom;

  const auto param = [this](const char* group, const char* name, const char* defaultValue) {
    const std::string g = group, n = name, d = defaultValue;
    const KxParamQuery query{TextParameter(g), TextParameter(n), TextParameter(d)};
    return AskText(CM_GETPCPARAM, reinterpret_cast<kx_ptr>(&query));
  };
  EXPECT_EQ(param("main", "title", "none"), "Hello");
  EXPECT_EQ(param("Main", "Height", "7"), "7");
  EXPECT_EQ(AskText(CM_GETPCGROUPNAMES, 0, true), "Main\r\nColors");
  EXPECT_EQ(AskText(CM_GETPCPARAMNAMES, "Main"), "Title\r\nWidth");
  EXPECT_EQ(AskText(CM_GETPCPARAMNAMES, "Colors"), "");
  EXPECT_EQ(AskText(CM_GETPCCUSTOMCONFIG, 0, true),
            "<customconfig mode=\"full\">\r\n\t<page id=\"1\"/>\r\n</customconfig>\r\n");

  // A query of null texts is a query for nothing, with nothing as its default.
  const KxParamQuery nulls{};
  EXPECT_EQ(AskText(CM_GETPCPARAM, reinterpret_cast<kx_ptr>(&nulls)), "");
  EXPECT_EQ(alpha_.Command(CM_GETPCPARAM, 0, 0), 0);
  // A sender that is no loaded plug-in has no configuration.
  EXPECT_EQ(ExecuteCommand(99, CM_GETPCGROUPNAMES, 0, 0, false), 0);
  Plugins().PluginAt(0)->CustomConfig = nullptr;
}

TEST_F(PluginCommandsTest, ConfigurationComesFromTheConfigurationFile) {
  const std::string file = scratch_.Path() + "ui.ini";
  ASSERT_TRUE(WriteFileText(file, "[Main]\r\nTitle=From file\r\n[Colors]\r\nBack=1\r\n"));
  Plugins().PluginAt(0)->ConfigFileName = file;
  const std::string group = "Main", name = "Title", defaultValue = "x";
  const KxParamQuery query{TextParameter(group), TextParameter(name), TextParameter(defaultValue)};
  EXPECT_EQ(AskText(CM_GETPCPARAM, reinterpret_cast<kx_ptr>(&query)), "From file");
  EXPECT_EQ(AskText(CM_GETPCGROUPNAMES, 0, true), "Main\r\nColors");
  EXPECT_EQ(AskText(CM_GETPCPARAMNAMES, "Colors"), "Back");
}

TEST_F(PluginCommandsTest, ExpressionsAreCalculatedForThePlugin) {
  const kx_ptr result = alpha_.Command(CM_CALCEXPRESSION, TextParameter("1+1"));
  ASSERT_NE(result, 0);
  EXPECT_STREQ(reinterpret_cast<const char*>(result), "2");
  EXPECT_EQ(alpha_.Command(CM_FREEMEM, result), 0);
  EXPECT_EQ(alpha_.Command(CM_CALCBOOLEXPRESSION, TextParameter("2 > 1")), 1);
  EXPECT_EQ(alpha_.Command(CM_CALCBOOLEXPRESSION, TextParameter("2 < 1")), 0);

  // An error of the engine answers 0 after its box instead of travelling into the plug-in.
  testing::internal::CaptureStderr();
  EXPECT_EQ(alpha_.Command(CM_CALCEXPRESSION, TextParameter("a<-1")), 0);
  EXPECT_EQ(alpha_.Command(CM_CALCBOOLEXPRESSION, TextParameter("(")), 0);
  const std::string boxes = testing::internal::GetCapturedStderr();
  EXPECT_NE(boxes.find("Syntax error."), std::string::npos) << boxes;
}

TEST_F(PluginCommandsTest, APluginFunctionAnswersInAConditionOfTheDatabase) {
  const kx_ptr id = beta_.Command(CM_REGISTERFUNCTION, TextParameter("BetaJoin"), -1);
  EXPECT_NE(id, 0);
  EXPECT_EQ(gamma_.Command(CM_REGISTERFUNCTION, TextParameter("betajoin"), 1), 0) << "taken";
  EXPECT_EQ(ExecuteCommand(99, CM_REGISTERFUNCTION, TextParameter("Other"), 0, false), 0);

  TkxFeature feature;
  feature.Condition = "BetaJoin(\"x\", 2) = \"BetaJoin(x,2)\"";
  EXPECT_TRUE(CheckCondition(feature));
  EXPECT_NE(beta_.Log().find("EV_CALCFUNCTION"), std::string::npos);
  EXPECT_EQ(alpha_.Log(), "") << "only the owner is asked";

  // Once its owner is gone, the function has nobody to answer.
  UnloadPlugin(1);
  EXPECT_EQ(Evaluator().CalcExpression("BetaJoin(1)"), "");
}

TEST_F(PluginCommandsTest, GarbageFromAPluginFunctionIsNoResult) {
  ASSERT_NE(beta_.Command(CM_REGISTERFUNCTION, TextParameter("Garbage"), -1), 0);
  static char notABlock[] = "not from the allocator";
  beta_.Answer(EV_CALCFUNCTION, reinterpret_cast<kx_ptr>(notABlock));
  EXPECT_EQ(Evaluator().CalcExpression("Garbage(1)"), "");

  // A block filled to its end has no zero in it: read within the block all the same.
  beta_.Reset();
  const kx_ptr block = beta_.Command(CM_ALLOCMEM, 4);
  ASSERT_NE(block, 0);
  std::memcpy(reinterpret_cast<char*>(block), "abcd", 4);
  beta_.Answer(EV_CALCFUNCTION, block);
  EXPECT_EQ(Evaluator().CalcExpression("Garbage(1)"), "abcd");
}

TEST_F(PluginCommandsTest, MemoryBlocksAreZeroFilledAndCheckedWhenFreed) {
  const kx_ptr block = alpha_.Command(CM_ALLOCMEM, 100);
  ASSERT_NE(block, 0);
  EXPECT_EQ(AllocatedSize(reinterpret_cast<void*>(block)), 100u);
  const std::vector<char> zeros(100, 0);
  EXPECT_EQ(std::memcmp(reinterpret_cast<void*>(block), zeros.data(), 100), 0);
  EXPECT_EQ(alpha_.Command(CM_FREEMEM, block), 0);
  EXPECT_EQ(AllocatedSize(reinterpret_cast<void*>(block)), 0u);
  // Twice, or a pointer the allocator never gave: ignored.
  EXPECT_EQ(alpha_.Command(CM_FREEMEM, block), 0);
  static char stranger[8];
  EXPECT_EQ(alpha_.Command(CM_FREEMEM, reinterpret_cast<kx_ptr>(stranger)), 0);
  EXPECT_EQ(alpha_.Command(CM_ALLOCMEM, -1), 0);
  EXPECT_EQ(alpha_.Command(CM_ALLOCMEM, static_cast<kx_ptr>(kMaxPluginBlock) + 1), 0);
}

TEST_F(PluginCommandsTest, TheRunStateCommandsSetTheirFlags) {
  EXPECT_EQ(alpha_.Command(CM_SUSPENDINSTALL), 0);
  EXPECT_TRUE(RunState().WorkerPaused);
  EXPECT_EQ(alpha_.Command(CM_RESUMEINSTALL), 0);
  EXPECT_FALSE(RunState().WorkerPaused);
  EXPECT_EQ(alpha_.Command(CM_ADDLOGRECORD, TextParameter("Section"), TextParameter("a=b")), 0);
  EXPECT_FALSE(RunState().AbortRequested);
  EXPECT_EQ(alpha_.Command(CM_ABORTINSTALL), 0);
  EXPECT_TRUE(RunState().AbortRequested);
}

TEST_F(PluginCommandsTest, LogRecordsReachTheInstallLogWhileItIsOn) {
  ScratchFolder folder(CurrentTestName());
  const std::string log = folder.Path() + "install.log";
  LogSettings() = {log, false};
  EXPECT_EQ(alpha_.Command(CM_ADDLOGRECORD, TextParameter("Early"), TextParameter("a=b")), 0);
  LogSettings().On = true;
  struct {
    const char* section;
    const char* record;
    const char* readSection;
    const char* key;
    const char* value;
  } const cases[] = {
      {"Plain", "a=b", "Plain", "a", "b"},
      {"Plain", "k=v=w", "Plain", "k", "v=w"},
      {"Plain", "alone", "Plain", "alone", ""},
      {"In %AppDir%", "%AppDir%=at %AppDir%", "In C:\\App", "C:\\App", "at C:\\App"},
  };
  for (const auto& entry : cases) {
    EXPECT_EQ(
        alpha_.Command(CM_ADDLOGRECORD, TextParameter(entry.section), TextParameter(entry.record)),
        0);
    EXPECT_EQ(IniReadString(log, entry.readSection, entry.key, "<none>"), entry.value)
        << entry.record;
  }
  EXPECT_EQ(IniReadString(log, "Early", "a", "<none>"), "<none>") << "written while off";
  IniCloseAll();
  LogSettings() = TLogSettings();
}

// Every command with both parameters null answers without touching memory.
TEST_F(PluginCommandsTest, NullParametersNeverCrashACommand) {
  for (int32_t command = CM_ABORTINSTALL; command <= CM_ADDLOGRECORD; ++command) {
    SCOPED_TRACE(command);
    const kx_ptr answer = alpha_.Command(command, 0, 0);
    if (command == CM_GETFEATURE || command == CM_GETINSTALLTYPE || command == CM_CALCEXPRESSION ||
        command == CM_ALLOCMEM) {
      EXPECT_NE(answer, 0) << "the first record's size, an empty result, a one-byte block";
      if (command == CM_CALCEXPRESSION || command == CM_ALLOCMEM) FreeMem((void*)answer);
    } else if (command == CM_SETFEATURESTATE || command == CM_SETINSTALLTYPE) {
      EXPECT_EQ(answer, -1) << "there is no such object to choose";
    } else {
      EXPECT_EQ(answer, 0);
    }
  }
}

}  // namespace
