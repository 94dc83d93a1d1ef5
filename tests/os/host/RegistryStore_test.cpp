// The host registry store: its REGEDIT 5 text, its tree, and the file it shares between
// processes; then the OS layer's registry keys over it.
#include "os/host/RegistryStore.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "os/host/HostPaths.h"
#include "os/os.h"

namespace {

using os::RegRoot;
using os::host::ParseRegistryText;
using os::host::PrintRegistryText;
using os::host::RegistryKey;
using os::host::RegistryStore;
using os::host::RegistryTree;

std::vector<uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// The whole literal, inner NULs included, without the one the compiler adds.
template <size_t N>
std::string Raw(const char (&text)[N]) {
  return std::string(text, N - 1);
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

bool HasLine(const std::string& text, const std::string& line) {
  for (const std::string& candidate : Lines(text)) {
    if (candidate == line) return true;
  }
  return false;
}

const std::string kHeader = "Windows Registry Editor Version 5.00\r\n\r\n";

// ---------------------------------------------------------------------------------------------
// Text

struct Value {
  const char* name;
  uint32_t type;
  std::string data;  // the ANSI view
};

const std::vector<Value>& EveryKindOfValue() {
  static const std::vector<Value> values = {
      {"", 1, Raw("default\0")},
      {"@", 1, Raw("a value named @\0")},
      {"quote \" and \\ in a name", 1, Raw("\"C:\\x\\\"\0")},
      {"string", 1, Raw("text\0")},
      {"empty string", 1, Raw("\0")},
      {"no terminator", 1, "abc"},
      {"inner zero", 1, Raw("a\0b\0")},
      {"line break", 1, Raw("a\r\nb\0")},
      {"latin", 1, Raw("caf\xE9\0")},
      {"no data", 1, ""},
      {"expand", 2, Raw("%SystemRoot%\\x\0")},
      {"binary", 3, Raw("\x00\x01\xFE\xFF")},
      {"empty binary", 3, ""},
      {"dword", 4, Raw("\x2A\x00\x00\x80")},
      {"short dword", 4, Raw("\x01\x02")},
      {"multi", 7, Raw("\\??\\C:\\a\0\0\\??\\C:\\b\0!\\??\\C:\\c\0\0")},
      {"none", 0, "xy"},
      {"big endian", 5, Raw("\0\0\0\1")},
      {"qword", 11, Raw("\1\2\3\4\5\6\7\x08")},
      {"large type number", 0x12345678, "z"},
  };
  return values;
}

RegistryTree TreeWith(const std::vector<Value>& values) {
  RegistryTree tree;
  bool created = false;
  RegistryKey* key = tree.Create(RegRoot::kCurrentUser, "Software\\Test", created);
  for (const Value& value : values) {
    tree.SetAnsi(*key, value.name, value.type, reinterpret_cast<const uint8_t*>(value.data.data()),
                 value.data.size());
  }
  return tree;
}

TEST(RegistryTextTest, EveryKindOfValueSurvivesPrintAndParse) {
  RegistryTree tree = TreeWith(EveryKindOfValue());
  std::string text = PrintRegistryText(tree);
  RegistryTree parsed;
  std::string error;
  ASSERT_TRUE(ParseRegistryText(text, parsed, error)) << error << "\n" << text;
  RegistryKey* key = parsed.Find(RegRoot::kCurrentUser, "Software\\Test");
  ASSERT_NE(key, nullptr);
  ASSERT_EQ(key->values.size(), EveryKindOfValue().size());
  for (const Value& expected : EveryKindOfValue()) {
    os::host::RegistryValue* value = key->FindValue(expected.name);
    ASSERT_NE(value, nullptr) << expected.name;
    EXPECT_EQ(value->name, expected.name);
    EXPECT_EQ(value->type, expected.type) << expected.name;
    EXPECT_EQ(RegistryTree::AnsiData(*value), Bytes(expected.data)) << expected.name;
  }
  EXPECT_EQ(PrintRegistryText(parsed), text);
}

TEST(RegistryTextTest, WritesTheLinesOfARegistryExport) {
  std::string text = PrintRegistryText(TreeWith(EveryKindOfValue()));
  EXPECT_EQ(text.rfind(kHeader, 0), 0u);
  for (const char* line : {
           "[HKEY_CURRENT_USER\\Software]",
           "[HKEY_CURRENT_USER\\Software\\Test]",
           "@=\"default\"",
           "\"@\"=\"a value named @\"",
           "\"quote \\\" and \\\\ in a name\"=\"\\\"C:\\\\x\\\\\\\"\"",
           "\"string\"=\"text\"",
           "\"empty string\"=\"\"",
           "\"no terminator\"=hex(1):61,00,62,00,63,00",
           "\"inner zero\"=hex(1):61,00,00,00,62,00,00,00",
           "\"line break\"=hex(1):61,00,0d,00,0a,00,62,00,00,00",
           "\"latin\"=\"caf\xE9\"",
           "\"no data\"=hex(1):",
           "\"expand\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,\\",
           "\"binary\"=hex:00,01,fe,ff",
           "\"empty binary\"=hex:",
           "\"dword\"=dword:8000002a",
           "\"short dword\"=hex(4):01,02",
           "\"none\"=hex(0):78,79",
           "\"big endian\"=hex(5):00,00,00,01",
           "\"qword\"=hex(b):01,02,03,04,05,06,07,08",
           "\"large type number\"=hex(12345678):7a",
       }) {
    EXPECT_TRUE(HasLine(text, line)) << line << "\n" << text;
  }
  EXPECT_EQ(text.find("HKEY_LOCAL_MACHINE"), std::string::npos);  // empty roots take no block
}

TEST(RegistryTextTest, LongHexDataGoesOnContinuationLines) {
  std::string data;
  for (int i = 0; i < 300; ++i) data += static_cast<char>(i);
  RegistryTree tree = TreeWith({{"long", 3, data}});
  std::string text = PrintRegistryText(tree);
  std::vector<std::string> lines = Lines(text);
  size_t continued = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_LE(lines[i].size(), 80u) << lines[i];
    if (!lines[i].empty() && lines[i].back() == '\\') {
      ++continued;
      ASSERT_LT(i + 1, lines.size());
      EXPECT_EQ(lines[i + 1].substr(0, 2), "  ");
    }
  }
  EXPECT_GE(continued, 10u);
  RegistryTree parsed;
  std::string error;
  ASSERT_TRUE(ParseRegistryText(text, parsed, error)) << error;
  EXPECT_EQ(parsed.Find(RegRoot::kCurrentUser, "Software\\Test")->FindValue("long")->data,
            Bytes(data));
}

TEST(RegistryTextTest, ReadsHandWrittenFiles) {
  std::string text =
      "Windows Registry Editor Version 5.00\n"
      "; a comment\n"
      "[hkey_local_machine\\Software\\A]\n"
      "\"path\"=\"C:\\Windows\\x\"\n"  // single backslashes stand for themselves
      "  \"spaced\" = dword:1F  \n"
      "\"HEX\"=HEX:0A, 0b ,\\\n"
      "   0C,\n"
      "\"dup\"=\"first\"\n"
      "[HKEY_USERS\\.DEFAULT]\n"
      "[HKEY_LOCAL_MACHINE\\software\\a]\n"
      "\"DUP\"=\"second\"\n";
  RegistryTree tree;
  std::string error;
  ASSERT_TRUE(ParseRegistryText(text, tree, error)) << error;
  RegistryKey* key = tree.Find(RegRoot::kLocalMachine, "SOFTWARE\\a");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->name, "A");
  ASSERT_EQ(key->values.size(), 4u);
  EXPECT_EQ(RegistryTree::AnsiData(*key->FindValue("path")), Bytes(Raw("C:\\Windows\\x\0")));
  EXPECT_EQ(key->FindValue("spaced")->data, Bytes(Raw("\x1F\0\0\0")));
  EXPECT_EQ(key->FindValue("hex")->data, Bytes("\x0A\x0B\x0C"));
  EXPECT_EQ(key->FindValue("dup")->name, "dup");
  EXPECT_EQ(RegistryTree::AnsiData(*key->FindValue("dup")), Bytes(Raw("second\0")));
  EXPECT_NE(tree.Find(RegRoot::kUsers, ".DEFAULT"), nullptr);
}

TEST(RegistryTextTest, RefusesTextThatIsNoStoreAndNamesTheLine) {
  struct Case {
    std::string text;
    const char* error;
  } cases[] = {
      {"", "line 0"},
      {"REGEDIT4\r\n", "line 1: the first line"},
      {"\xFF\xFEW\0i\0", "UTF-16"},
      {kHeader + "\"a\"=\"b\"\r\n", "line 3: a value before the first key"},
      {kHeader + "[HKEY_CURRENT_CONFIG\\x]\r\n", "line 3: unknown root"},
      {kHeader + "[HKEY_CURRENT_USER\\x\r\n", "line 3"},
      {kHeader + "[HKEY_CURRENT_USER\\" + std::string(256, 'k') + "]\r\n",
       "line 3: malformed key path"},
      {kHeader + "[-HKEY_CURRENT_USER\\x]\r\n", "line 3"},
      {kHeader + "[HKEY_CURRENT_USER\\x]\r\n\"a\"=-\r\n", "line 4"},
      {kHeader + "[HKEY_CURRENT_USER\\x]\r\n\"a\"=\"open\r\n", "line 4: a quoted text"},
      {kHeader + "[HKEY_CURRENT_USER\\x]\r\n\"a\"=\"b\" junk\r\n", "line 4"},
      {kHeader + "[HKEY_CURRENT_USER\\x]\r\n\"a\"=dword:123456789\r\n", "line 4"},
      {kHeader + "[HKEY_CURRENT_USER\\x]\r\n\"a\"=dword:\r\n", "line 4"},
      {kHeader + "[HKEY_CURRENT_USER\\x]\r\n\"a\"=hex:01,zz\r\n", "line 4"},
      {kHeader + "[HKEY_CURRENT_USER\\x]\r\n\"a\"=hex:01,,02\r\n", "line 4"},
      {kHeader + "[HKEY_CURRENT_USER\\x]\r\n\"a\"=hex:123\r\n", "line 4"},
      {kHeader + "[HKEY_CURRENT_USER\\x]\r\n\"a\"=hex(q):01\r\n", "line 4"},
      {kHeader + "[HKEY_CURRENT_USER\\x]\r\n\"a\"=hex:01,\\\r\n", "past the end of the file"},
      {kHeader + "[HKEY_CURRENT_USER\\x]\r\n\"a\"=str:\"b\"\r\n", "line 4"},
      {kHeader + "[HKEY_CURRENT_USER\\x]\r\nname=\"b\"\r\n", "line 4"},
  };
  for (const Case& c : cases) {
    RegistryTree tree;
    std::string error;
    EXPECT_FALSE(ParseRegistryText(c.text, tree, error)) << c.text;
    EXPECT_NE(error.find(c.error), std::string::npos) << c.text << " gave: " << error;
  }
}

TEST(RegistryTextTest, FailedParseLeavesTheTreeAsItWas) {
  RegistryTree tree = TreeWith({{"kept", 4, Raw("\1\0\0\0")}});
  std::string error;
  EXPECT_FALSE(ParseRegistryText(kHeader + "[HKEY_CURRENT_USER\\other]\r\nbad\r\n", tree, error));
  ASSERT_NE(tree.Find(RegRoot::kCurrentUser, "Software\\Test"), nullptr);
  EXPECT_NE(tree.Find(RegRoot::kCurrentUser, "Software\\Test")->FindValue("kept"), nullptr);
  EXPECT_EQ(tree.Find(RegRoot::kCurrentUser, "other"), nullptr);
}

TEST(RegistryTextTest, StringsOfOtherProgramsKeepTheirUnicodeUnits) {
  RegistryTree tree;
  bool created = false;
  RegistryKey* key = tree.Create(RegRoot::kCurrentUser, "x", created);
  key->PutValue("wide", 1, {0x41, 0x00, 0x3A, 0x04, 0x00, 0x00});  // "A", U+043A
  std::string text = PrintRegistryText(tree);
  EXPECT_TRUE(HasLine(text, "\"wide\"=hex(1):41,00,3a,04,00,00")) << text;
  RegistryTree parsed;
  std::string error;
  ASSERT_TRUE(ParseRegistryText(text, parsed, error)) << error;
  os::host::RegistryValue* value = parsed.Find(RegRoot::kCurrentUser, "x")->FindValue("wide");
  EXPECT_EQ(value->data, key->values[0].data);
  EXPECT_EQ(RegistryTree::AnsiData(*value), Bytes(Raw("A?\0")));
}

// ---------------------------------------------------------------------------------------------
// Tree and paths

TEST(RegistryPathTest, SplitsNamesAndRefusesMalformedPaths) {
  struct Case {
    std::string path;
    bool valid;
    size_t names;
  } cases[] = {
      {"", true, 0},
      {"a", true, 1},
      {"a\\b\\", true, 2},
      {"\\a", false, 0},
      {"\\", false, 0},
      {"a\\\\b", true, 2},
      {"a\\b\\\\", true, 2},
      {std::string(255, 'k'), true, 1},
      {std::string(256, 'k'), false, 0},
      {"a\nb", false, 0},
      {Raw("a\0b"), false, 0},
  };
  for (const Case& c : cases) {
    std::vector<std::string> names{"stale"};
    EXPECT_EQ(os::host::SplitRegistryPath(c.path, names), c.valid) << c.path;
    if (c.valid) {
      EXPECT_EQ(names.size(), c.names) << c.path;
    }
  }
  std::string deep;
  for (int i = 0; i < 512; ++i) deep += "k\\";
  std::vector<std::string> names;
  EXPECT_TRUE(os::host::SplitRegistryPath(deep, names));
  EXPECT_FALSE(os::host::SplitRegistryPath(deep + "k", names));  // deeper than Windows allows
}

TEST(RegistryTreeTest, NamesCompareWithoutCaseAndKeepTheirSpelling) {
  RegistryTree tree;
  bool created = false;
  tree.Create(RegRoot::kLocalMachine, "Software\\MyApp", created);
  EXPECT_TRUE(created);
  created = false;
  std::string stored;
  RegistryKey* key = tree.Create(RegRoot::kLocalMachine, "SOFTWARE\\myapp\\New", created, &stored);
  EXPECT_TRUE(created);
  EXPECT_EQ(stored, "Software\\MyApp\\New");
  ASSERT_EQ(tree.Find(RegRoot::kLocalMachine, "software\\MYAPP\\new"), key);
  EXPECT_EQ(tree.Find(RegRoot::kCurrentUser, "Software\\MyApp"), nullptr);  // roots are apart
  key->PutValue("Value", 4, {1, 0, 0, 0});
  key->PutValue("VALUE", 3, {2});
  ASSERT_EQ(key->values.size(), 1u);
  EXPECT_EQ(key->values[0].name, "Value");
  EXPECT_EQ(key->values[0].type, 3u);
  EXPECT_TRUE(key->RemoveValue("value"));
  EXPECT_FALSE(key->RemoveValue("value"));
}

// ---------------------------------------------------------------------------------------------
// The store and its file

class RegistryStoreTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = "/tmp/kx-registry-" + std::to_string(getpid()) + "-" + CurrentTestName();
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
    file_ = dir_ + "/system.reg";
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  static std::string Text(RegistryStore& store, RegRoot root, const std::string& key,
                          const std::string& name) {
    uint32_t type = 0;
    std::vector<uint8_t> data;
    if (!store.QueryValue(root, key, name, type, data)) return "<missing>";
    return std::string(data.begin(), data.end());
  }
  static bool Put(RegistryStore& store, const std::string& name, const std::string& text) {
    std::string stored;
    return store.CreateKey(RegRoot::kCurrentUser, "Software\\Test", stored) &&
           store.SetValue(RegRoot::kCurrentUser, "Software\\Test", name, 1, text.c_str(),
                          text.size() + 1);
  }
  static std::string Get(RegistryStore& store, const std::string& name) {
    std::string text = Text(store, RegRoot::kCurrentUser, "Software\\Test", name);
    if (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
  }

  std::string dir_;
  std::string file_;
};

TEST_F(RegistryStoreTest, MissingFileIsSeededWithWhatTheEngineReads) {
  RegistryStore store(file_);
  const std::string currentVersion = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
  EXPECT_EQ(Text(store, RegRoot::kLocalMachine, currentVersion, "ProgramFilesDir"),
            Raw("C:\\Program Files\0"));
  EXPECT_EQ(Text(store, RegRoot::kLocalMachine, currentVersion, "CommonFilesDir"),
            Raw("C:\\Program Files\\Common Files\0"));
  EXPECT_EQ(Text(store, RegRoot::kLocalMachine, currentVersion + "\\Setup", "BootDir"),
            Raw("C:\\\0"));
  std::string text = ReadText(file_);
  EXPECT_EQ(text.rfind(kHeader, 0), 0u);
  EXPECT_TRUE(HasLine(text, "\"BootDir\"=\"C:\\\\\""));

  const std::string userExplorer = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer";
  for (const char* name : {"AppData", "Desktop", "Programs", "Startup", "Start Menu", "Personal",
                           "Recent", "SendTo", "Templates", "NetHood", "Fonts"}) {
    std::string path = Text(store, RegRoot::kCurrentUser, userExplorer + "\\Shell Folders", name);
    EXPECT_EQ(path.rfind("C:\\", 0), 0u) << name << ": " << path;
    uint32_t type = 0;
    std::vector<uint8_t> data;
    EXPECT_TRUE(store.QueryValue(RegRoot::kCurrentUser, userExplorer + "\\User Shell Folders", name,
                                 type, data))
        << name;
    EXPECT_EQ(type, 2u) << name;
    EXPECT_EQ(std::string(data.begin(), data.end()), path) << name;
  }
  for (const char* name :
       {"Common Desktop", "Common Programs", "Common Startup", "Common Start Menu"}) {
    std::string path =
        Text(store, RegRoot::kLocalMachine, currentVersion + "\\Explorer\\Shell Folders", name);
    EXPECT_EQ(path.rfind("C:\\", 0), 0u) << name << ": " << path;
  }
  EXPECT_EQ(Text(store, RegRoot::kCurrentUser, userExplorer + "\\Shell Folders", "Fonts"),
            Raw("C:\\windows\\Fonts\0"));
  for (const char* fonts : {"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Fonts",
                            "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts"}) {
    EXPECT_EQ(Text(store, RegRoot::kLocalMachine, fonts, "Arial (TrueType)"), Raw("arial.ttf\0"));
  }
  std::string stored;
  EXPECT_TRUE(store.OpenKey(RegRoot::kCurrentUser, "environment", stored));
  EXPECT_EQ(stored, "Environment");
  EXPECT_TRUE(store.OpenKey(RegRoot::kUsers, ".DEFAULT", stored));
}

TEST_F(RegistryStoreTest, ExistingFileIsNeverSeeded) {
  const std::string text = kHeader + "[HKEY_CURRENT_USER\\Mine]\r\n\"v\"=\"1\"\r\n\r\n";
  WriteText(file_, text);
  RegistryStore store(file_);
  EXPECT_EQ(Text(store, RegRoot::kLocalMachine, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion",
                 "ProgramFilesDir"),
            "<missing>");
  EXPECT_EQ(Text(store, RegRoot::kCurrentUser, "mine", "V"), Raw("1\0"));
  EXPECT_EQ(ReadText(file_), text);  // reads leave the file alone
}

TEST_F(RegistryStoreTest, TwoStoresSeeEachOthersWrites) {
  // Two stores are two processes: each has its own cache and its own lock.
  RegistryStore first(file_);
  RegistryStore second(file_);
  for (int round = 0; round < 50; ++round) {
    // Every round's file has the same size as the last one: the reader must still see it.
    std::string value = std::to_string(100 + round);
    RegistryStore& writer = round % 2 ? first : second;
    RegistryStore& reader = round % 2 ? second : first;
    ASSERT_TRUE(Put(writer, "v", value));
    ASSERT_EQ(Get(reader, "v"), value) << round;
  }
}

TEST_F(RegistryStoreTest, UnchangedFileIsNotParsedAgain) {
  RegistryStore store(file_);
  ASSERT_TRUE(Put(store, "first", "1"));
  uint64_t loads = store.LoadCount();
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(Put(store, "v" + std::to_string(i), "x"));
    ASSERT_EQ(Get(store, "v" + std::to_string(i)), "x");
  }
  EXPECT_EQ(store.LoadCount(), loads);
  RegistryStore other(file_);
  ASSERT_TRUE(Put(other, "from other", "y"));
  EXPECT_EQ(Get(store, "from other"), "y");
  EXPECT_EQ(store.LoadCount(), loads + 1);
}

TEST_F(RegistryStoreTest, FileChangedByHandIsReadAgain) {
  RegistryStore store(file_);
  ASSERT_TRUE(Put(store, "v", "before"));
  WriteText(file_, kHeader + "[HKEY_CURRENT_USER\\Software\\Test]\r\n\"v\"=\"edited by hand\"\r\n");
  EXPECT_EQ(Get(store, "v"), "edited by hand");
}

TEST_F(RegistryStoreTest, DamagedFileIsNeverOverwritten) {
  const std::string valid = kHeader +
                            "[HKEY_CURRENT_USER\\Software\\Test]\r\n\"v\"=hex:01,02,\\\r\n"
                            "  03\r\n\r\n";
  const std::string damaged[] = {
      valid.substr(0, valid.find("  03")),  // cut in the middle of the data
      valid.substr(0, 20),                  // cut in the header
      "garbage\n",
      "",
      Raw("\xFF\xFE") + "W\0i\0n\0",
  };
  for (const std::string& text : damaged) {
    WriteText(file_, text);
    RegistryStore store(file_);
    EXPECT_FALSE(Put(store, "new", "value"));
    EXPECT_NE(store.Error().find("damaged"), std::string::npos) << store.Error();
    EXPECT_EQ(Get(store, "v"), "<missing>");
    EXPECT_EQ(ReadText(file_), text);
    // Mended by hand, the same store works again.
    WriteText(file_, valid);
    EXPECT_EQ(Text(store, RegRoot::kCurrentUser, "Software\\Test", "v"), "\1\2\3");
    EXPECT_TRUE(Put(store, "new", "value"));
  }
}

TEST_F(RegistryStoreTest, FailedSaveChangesNeitherFileNorStore) {
  RegistryStore store(file_);
  ASSERT_TRUE(Put(store, "v", "saved"));
  const std::string before = ReadText(file_);
  std::filesystem::create_directory(file_ + ".new");  // the temporary file cannot be made
  EXPECT_FALSE(Put(store, "v", "lost"));
  EXPECT_NE(store.Error().find("cannot write"), std::string::npos) << store.Error();
  EXPECT_EQ(ReadText(file_), before);
  EXPECT_EQ(Get(store, "v"), "saved");
  std::filesystem::remove(file_ + ".new");
  EXPECT_TRUE(Put(store, "v", "now"));
  RegistryStore fresh(file_);
  EXPECT_EQ(Get(fresh, "v"), "now");
}

TEST_F(RegistryStoreTest, SaveReplacesTheFileInOneStep) {
  RegistryStore store(file_);
  ASSERT_TRUE(Put(store, "v", "old"));
  const std::string oldText = ReadText(file_);
  ASSERT_EQ(link(file_.c_str(), (dir_ + "/old.reg").c_str()), 0);
  ASSERT_TRUE(Put(store, "v", "new"));
  // The old file was never written into: a reader holding it open saw it whole.
  EXPECT_EQ(ReadText(dir_ + "/old.reg"), oldText);
  EXPECT_TRUE(HasLine(ReadText(file_), "\"v\"=\"new\""));
  EXPECT_FALSE(std::filesystem::exists(file_ + ".new"));
}

TEST_F(RegistryStoreTest, PendingRenamesKeepTheirEmptyStrings) {
  const std::string key = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
  const std::string operations("\\??\\C:\\a.tmp\0\0\\??\\C:\\b.tmp\0!\\??\\C:\\b.dll\0\0", 43);
  {
    RegistryStore writer(file_);
    ASSERT_TRUE(writer.SetValue(RegRoot::kLocalMachine, key, "PendingFileRenameOperations", 7,
                                operations.data(), operations.size()));
  }
  RegistryStore reader(file_);
  uint32_t type = 0;
  std::vector<uint8_t> data;
  ASSERT_TRUE(
      reader.QueryValue(RegRoot::kLocalMachine, key, "pendingfilerenameoperations", type, data));
  EXPECT_EQ(type, 7u);
  EXPECT_EQ(data, Bytes(operations));
  std::string text = ReadText(file_);
  EXPECT_NE(text.find("\"PendingFileRenameOperations\"=hex(7):5c,00,3f,00,3f,00,5c,00,43,00"),
            std::string::npos)
      << text;
}

TEST_F(RegistryStoreTest, ConcurrentProcessesLoseNoWrite) {
  constexpr int kProcesses = 4;
  constexpr int kValues = 25;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      RegistryStore store(file_);
      bool ok = true;
      for (int i = 0; i < kValues; ++i) {
        ok = Put(store, "p" + std::to_string(p) + "_" + std::to_string(i), "x") && ok;
      }
      _exit(ok ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  RegistryStore store(file_);
  std::set<std::string> names;
  std::string name;
  for (uint32_t i = 0; store.EnumValue(RegRoot::kCurrentUser, "Software\\Test", i, name); ++i) {
    names.insert(name);
  }
  EXPECT_EQ(names.size(), static_cast<size_t>(kProcesses * kValues));
}

TEST_F(RegistryStoreTest, DeleteKeyRefusesRootsAndKeysWithSubkeys) {
  RegistryStore store(file_);
  std::string stored;
  ASSERT_TRUE(store.CreateKey(RegRoot::kCurrentUser, "a\\b", stored));
  EXPECT_FALSE(store.DeleteKey(RegRoot::kCurrentUser, ""));
  EXPECT_FALSE(store.DeleteKey(RegRoot::kCurrentUser, "a"));
  EXPECT_EQ(store.Error(), "the key has subkeys");
  EXPECT_FALSE(store.DeleteKey(RegRoot::kCurrentUser, "a\\missing"));
  EXPECT_TRUE(store.DeleteKey(RegRoot::kCurrentUser, "A\\B"));
  EXPECT_TRUE(store.DeleteKey(RegRoot::kCurrentUser, "a"));
  EXPECT_FALSE(store.OpenKey(RegRoot::kCurrentUser, "a", stored));
  EXPECT_EQ(ReadText(file_).find("HKEY_CURRENT_USER\\a]"), std::string::npos);
}

TEST_F(RegistryStoreTest, ListsSubkeysByNameAndValuesInTheirOrder) {
  RegistryStore store(file_);
  std::string stored;
  for (const char* name : {"k\\beta", "k\\Alpha", "k\\gamma"}) {
    ASSERT_TRUE(store.CreateKey(RegRoot::kCurrentUser, name, stored));
  }
  for (const char* name : {"z", "a", "m"}) {
    ASSERT_TRUE(store.SetValue(RegRoot::kCurrentUser, "k", name, 3, "", 0));
  }
  std::vector<std::string> keys, values;
  std::string name;
  for (uint32_t i = 0; store.EnumKey(RegRoot::kCurrentUser, "k", i, name); ++i) {
    keys.push_back(name);
  }
  for (uint32_t i = 0; store.EnumValue(RegRoot::kCurrentUser, "k", i, name); ++i) {
    values.push_back(name);
  }
  EXPECT_EQ(keys, (std::vector<std::string>{"Alpha", "beta", "gamma"}));
  EXPECT_EQ(values, (std::vector<std::string>{"z", "a", "m"}));
}

TEST_F(RegistryStoreTest, RefusesNamesTheFileCannotHold) {
  RegistryStore store(file_);
  std::string stored;
  EXPECT_FALSE(store.CreateKey(RegRoot::kCurrentUser, "a\r\nb", stored));
  ASSERT_TRUE(store.CreateKey(RegRoot::kCurrentUser, "k", stored));
  EXPECT_FALSE(store.SetValue(RegRoot::kCurrentUser, "k", "line\nbreak", 3, "", 0));
  EXPECT_FALSE(store.SetValue(RegRoot::kCurrentUser, "k", std::string(16384, 'n'), 3, "", 0));
  EXPECT_TRUE(store.SetValue(RegRoot::kCurrentUser, "k", std::string(16383, 'n'), 3, "", 0));
}

// ---------------------------------------------------------------------------------------------
// The OS layer's keys over the machine's store

class HostRegKeyTest : public testing::Test {
 protected:
  void SetUp() override {
    root_ = "/tmp/kx-regkey-" + std::to_string(getpid()) + "-" + CurrentTestName();
    std::filesystem::remove_all(root_);
    setenv("KX_ROOT", root_.c_str(), 1);
    os::host::ResetMachineRoot();
  }
  void TearDown() override {
    std::filesystem::remove_all(root_);
    unsetenv("KX_ROOT");
    os::host::ResetMachineRoot();
  }
  std::string root_;
};

TEST_F(HostRegKeyTest, OpenNeedsTheKeyAndCreateMakesItsParents) {
  EXPECT_FALSE(os::RegKey::Open(RegRoot::kCurrentUser, "Software\\kx\\a", false).IsOpen());
  os::RegKey created = os::RegKey::Create(RegRoot::kCurrentUser, "Software\\kx\\a");
  ASSERT_TRUE(created.IsOpen());
  EXPECT_TRUE(os::RegKey::Open(RegRoot::kCurrentUser, "SOFTWARE\\KX", false).IsOpen());
  EXPECT_FALSE(os::RegKey::Open(RegRoot::kCurrentUser, "\\Software\\kx", false).IsOpen());
  EXPECT_FALSE(os::RegKey::Open(RegRoot::kLocalMachine, "Software\\kx", false).IsOpen());
}

TEST_F(HostRegKeyTest, KeyOpenedForReadingRefusesChanges) {
  ASSERT_TRUE(os::RegKey::Create(RegRoot::kCurrentUser, "k").SetValue("v", 4, "\1\0\0\0", 4));
  os::RegKey reading = os::RegKey::Open(RegRoot::kCurrentUser, "k", false);
  ASSERT_TRUE(reading.IsOpen());
  EXPECT_FALSE(reading.SetValue("v", 4, "\2\0\0\0", 4));
  EXPECT_FALSE(reading.DeleteValue("v"));
  os::RegKey writing = os::RegKey::Open(RegRoot::kCurrentUser, "k", true);
  EXPECT_TRUE(writing.SetValue("v", 4, "\2\0\0\0", 4));
  uint32_t type = 0;
  std::vector<uint8_t> data;
  ASSERT_TRUE(reading.QueryValue("V", type, data));
  EXPECT_EQ(data, (std::vector<uint8_t>{2, 0, 0, 0}));
  EXPECT_TRUE(writing.DeleteValue("v"));
  EXPECT_FALSE(reading.QueryValue("v", type, data));
}

TEST_F(HostRegKeyTest, DeletedKeyFailsThroughHandlesStillOpen) {
  os::RegKey key = os::RegKey::Create(RegRoot::kCurrentUser, "gone\\soon");
  ASSERT_TRUE(key.IsOpen());
  EXPECT_FALSE(os::RegDeleteKey(RegRoot::kCurrentUser, "gone"));
  EXPECT_TRUE(os::RegDeleteKey(RegRoot::kCurrentUser, "gone\\soon"));
  EXPECT_FALSE(key.SetValue("v", 3, "", 0));
  std::string name;
  EXPECT_FALSE(key.EnumValue(0, name));
}

TEST_F(HostRegKeyTest, MovedKeyKeepsItsHandle) {
  os::RegKey key = os::RegKey::Create(RegRoot::kCurrentUser, "k");
  os::RegKey moved(std::move(key));
  EXPECT_FALSE(key.IsOpen());
  ASSERT_TRUE(moved.IsOpen());
  EXPECT_TRUE(moved.SetValue("v", 3, "a", 1));
  os::RegKey assigned;
  assigned = std::move(moved);
  EXPECT_FALSE(moved.IsOpen());
  EXPECT_TRUE(assigned.SetValue("w", 3, "b", 1));
  assigned.Close();
  EXPECT_FALSE(assigned.IsOpen());
  EXPECT_FALSE(assigned.SetValue("x", 3, "c", 1));
}

// The independent reader on the host: what the keys write is in the machine's file as export
// lines that any .reg reader understands.
TEST_F(HostRegKeyTest, WritesReachTheMachineFileAsExportLines) {
  os::RegKey key = os::RegKey::Create(RegRoot::kCurrentUser, "Software\\kx-check");
  ASSERT_TRUE(key.IsOpen());
  ASSERT_TRUE(key.SetValue("text", 1, "C:\\a \"b\"", 9));
  ASSERT_TRUE(key.SetValue("expand", 2, "%TEMP%", 7));
  ASSERT_TRUE(key.SetValue("number", 4, "\x2A\0\0\0", 4));
  ASSERT_TRUE(key.SetValue("binary", 3, "\x01\xAB", 2));
  ASSERT_TRUE(key.SetValue("multi", 7, "a\0\0b\0\0", 6));
  ASSERT_TRUE(key.SetValue("", 1, "default", 8));
  std::string text = ReadText(root_ + "/system.reg");
  for (const char* line : {
           "[HKEY_CURRENT_USER\\Software\\kx-check]",
           "\"text\"=\"C:\\\\a \\\"b\\\"\"",
           "\"expand\"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,00,00",
           "\"number\"=dword:0000002a",
           "\"binary\"=hex:01,ab",
           "\"multi\"=hex(7):61,00,00,00,00,00,62,00,00,00,00,00",
           "@=\"default\"",
       }) {
    EXPECT_TRUE(HasLine(text, line)) << line << "\n" << text;
  }
}

}  // namespace
