// The rules of file installation, one table each: whether an existing file is kept (versions and
// dates), which item an archive entry belongs to and where it goes, and the file search.
#include <gtest/gtest.h>

#include <algorithm>

#include "TestSupport.h"
#include "database/KXClasses.h"
#include "database/zrXMLParser.h"
#include "expressions/Common.h"
#include "install/FileInstall.h"
#include "support/zrFileFind.h"
#include "support/zrFileUtils.h"

namespace {

constexpr int64_t kSecond = 1000;

TEST(FileRulesTest, VersionsAndDatesDecideWhetherTheExistingFileIsKept) {
  const int64_t source = LocalStamp(DosToLocalTime(0x5A21, 0x6000));
  const struct {
    const char* existingVersion;  // nullptr: no version resource; "-": no file
    int64_t existingOffset;       // the existing file's date against the source's
    const char* sourceVersion;
    bool newer, same;
  } rows[] = {
      {"-", 0, "1.0.0.0", false, false},
      // The high word of a version resource is unsigned: 65535 is no negative number.
      {"65535.0.0.0", -kSecond, "1.0.0.0", true, false},
      {"1.0.0.0", 0, "65535.0.0.0", false, false},
      {"2.0.0.0", -100 * kSecond, "1.0.0.0", true, false},
      {"1.0.0.0", 100 * kSecond, "2.0.0.0", false, false},
      {"1.2.3.5", -kSecond, "1.2.3.4", true, false},
      {"1.2.3.4", kSecond, "1.2.3.5", false, false},
      {"1.2.3.4", kSecond, "1.2.3.4", true, false},
      {"1.2.3.4", 0, "1.2.3.4", false, true},
      {"1.2.3.4", -kSecond, "1.2.3.4", false, false},
      {"1.0.0.0", 0, "1.x", false, true},  // an unreadable word counts 0
      {"3.0.0.0", 0, "", false, true},     // no source version: the dates alone
      {"3.0.0.0", kSecond, "", true, false},
      {nullptr, 0, "9.0.0.0", false, true},  // no version resource: the dates alone
      {nullptr, 1, "9.0.0.0", true, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << (row.existingVersion ? row.existingVersion : "none")
                                    << " against " << row.sourceVersion);
    TExistingFile existing;
    existing.Exists = !row.existingVersion || std::string(row.existingVersion) != "-";
    if (row.existingVersion && existing.Exists) {
      existing.Version = VersionFromText(row.existingVersion);
    }
    existing.Stamp = source + row.existingOffset;
    EXPECT_EQ(ExistingIsNewer(existing, row.sourceVersion, source), row.newer);
    EXPECT_EQ(ExistingIsSame(existing, row.sourceVersion, source), row.same);
  }
}

// A real module's version resource (40000.8.65535.3: both high parts beyond 32767) and its date.
TEST(FileRulesTest, ExistingModuleIsReadForItsVersionAndDate) {
  ScratchFolder scratch(CurrentTestName());
  const std::string module = scratch.Path() + "versioned.dll";
  ASSERT_TRUE(CopyFileWithProgress(KX_TEST_VERSIONED_MODULE, module, {}, false));
  os::LocalDateTime date = DosToLocalTime(0x5A21, 0x6000);  // 2025-01-01 12:00:00
  date.second = 1;                                          // between two DOS steps
  TExistingFile facts = ExistingFileFacts(module);
  ASSERT_TRUE(facts.Exists);
  ASSERT_TRUE(facts.Version);
  EXPECT_EQ(VersionToText(*facts.Version), "40000.8.65535.3");
  EXPECT_TRUE(ExistingIsNewer(facts, "1.0.0.0", facts.Stamp + kSecond));
  EXPECT_FALSE(ExistingIsNewer(facts, "40000.9.0.0", facts.Stamp - kSecond));
  EXPECT_TRUE(ExistingIsSame(facts, "40000.8.65535.3", facts.Stamp));
  EXPECT_FALSE(ExistingFileFacts(scratch.Path() + "missing.dll").Exists);
  EXPECT_EQ(LocalTimeToDos(DosToLocalTime(0x5A21, 0x6000)), 0x5A216000u);
  EXPECT_EQ(LocalStamp(date) - LocalStamp(DosToLocalTime(0x5A21, 0x6000)), kSecond);
}

class EntryMatchingTest : public testing::Test {
 protected:
  void SetUp() override {
    FreeRunObjects();
    ConditionsEnabled = true;
    TXMLTag project;
    project.Parse(
        "<kx2project><components><component id=\"core\"><files>"
        "<file src=\"readme.txt\" dst=\"%InstallPath%\\readme.txt\"/>"
        "<file src=\"bin\\*.dll\" dst=\"%InstallPath%\\bin\\*.*\"/>"
        "<file src=\"cond.txt\" dst=\"%InstallPath%\\cond.txt\" condition=\"0\"/>"
        "<file src=\"old.txt\" dst=\"%InstallPath%\\old.txt\" action=\"remove\"/>"
        "<file src=\"ext.txt\" dst=\"%InstallPath%\\ext.txt\" flags=\"external\"/>"
        "<file src=\"noext\" dst=\"%InstallPath%\\noext\"/>"
        "<file src=\"docs\\*.*\" dst=\"%InstallPath%\\manual\\\"/>"
        "<file src=\"lib\\x.ocx\" dst=\"%InstallPath%\\sys\\\"/>"
        "<file src=\"*.txt\" dst=\"%InstallPath%\\any\\*.*\"/>"
        "</files></component></components></kx2project>");
    MainDatabase().Assign(project);
    SetVariable(&MainDatabase(), "InstallPath", "C:\\App");
  }
  void TearDown() override {
    FreeRunObjects();
    ConditionsEnabled = false;
  }
};

TEST_F(EntryMatchingTest, EntriesFindTheirItemAndDestination) {
  const struct {
    const char* entry;
    int item;  // index in the component's Files, -1 for none
    const char* destination;
  } rows[] = {
      {"data\\core\\readme.txt", 0, "C:\\App\\readme.txt"},
      {"DATA\\CORE\\README.TXT", 0, "C:\\App\\readme.txt"},
      {"data\\core\\bin\\a.dll", 1, "C:\\App\\bin\\a.dll"},
      {"data\\core\\bin\\sub\\b.dll", 1, "C:\\App\\bin\\sub\\b.dll"},
      {"data\\core\\bin\\a.exe", -1, ""},
      {"data\\other\\readme.txt", -1, ""},
      {"readme.txt", -1, ""},
      {"data\\core\\cond.txt", 8, "C:\\App\\any\\cond.txt"},  // its own item's condition fails
      {"data\\core\\old.txt", 8, "C:\\App\\any\\old.txt"},    // a removal item installs nothing
      {"data\\core\\ext.txt", 8, "C:\\App\\any\\ext.txt"},    // nor does an external one
      {"data\\core\\noext", 5, "C:\\App\\noext"},
      {"data\\core\\docs\\sub\\guide.pdf", 6, "C:\\App\\manual\\sub\\guide.pdf"},
      {"data\\core\\docs\\empty\\.", 6, "C:\\App\\manual\\empty\\."},
      {"data\\core\\lib\\x.ocx", 7, "C:\\App\\sys\\x.ocx"},
      // Nothing an archive carries may lead out of the destination folder.
      {"data\\core\\docs\\..\\..\\evil.txt", 6, nullptr},
      {"data\\core\\docs\\c:evil.txt", 6, nullptr},
      {"data\\core\\docs\\con.txt", 6, nullptr},
  };
  TkxFiles& files = *MainDatabase().Components->Items(0)->Files;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.entry);
    TkxFile* item = MatchEntry(row.entry);
    EXPECT_EQ(item, row.item < 0 ? nullptr : files.Items(row.item));
    if (!item) continue;
    const std::string relative = std::string(row.entry).substr(10);
    std::string destination = "unchanged";
    EXPECT_EQ(ItemDestination(*item, relative, false, &MainDatabase(), destination),
              row.destination != nullptr);
    EXPECT_EQ(destination, row.destination ? row.destination : "");
  }
}

TEST(FileFindTest, MasksAndAttributesChooseTheEntries) {
  ScratchFolder scratch(CurrentTestName());
  const std::string root = scratch.Path();
  for (const char* file : {"a.txt", "b.TXT", "noext", "c.txt.bak"}) {
    ASSERT_TRUE(WriteFileText(root + file, file));
  }
  ASSERT_TRUE(ForceFolders(root + "sub"));
  ASSERT_TRUE(ForceFolders(root + "folder.txt"));
  ASSERT_TRUE(os::SetFileAttributes(root + "a.txt", os::kAttrReadOnly));
  const uint32_t kNotFiles = kAttrVolumeLabel | os::kAttrDirectory;
  const struct {
    const char* mask;
    uint32_t include, exclude;
    const char* names;  // sorted, space-separated
  } rows[] = {
      {"*.txt", 0, kNotFiles, "a.txt b.TXT"},
      {"*.*", 0, kNotFiles, "a.txt b.TXT c.txt.bak noext"},
      {"*.", 0, kNotFiles, "noext"},
      {"*", os::kAttrDirectory, 0, "folder.txt sub"},
      {"*.txt", os::kAttrDirectory, 0, "folder.txt"},
      {"*", os::kAttrReadOnly, 0, "a.txt"},
      {"*.txt", 0, os::kAttrReadOnly | kNotFiles, "b.TXT"},
      {"B.txt", 0, 0, "b.TXT"},
      {"missing\\*.*", 0, 0, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.mask);
    TzrFileFind find(root + row.mask, row.include, row.exclude);
    std::vector<std::string> names;
    TzrFoundFile found;
    while (find.Next(found)) {
      EXPECT_EQ(found.Path, ExtractFilePath(root + row.mask) + found.Name);
      names.push_back(found.Name);
    }
    std::sort(names.begin(), names.end());
    std::string joined;
    for (const std::string& name : names) joined += (joined.empty() ? "" : " ") + name;
    EXPECT_EQ(joined, row.names);
  }
}

}  // namespace
