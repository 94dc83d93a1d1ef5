// The INI operations by file name and their cache of open INI objects.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "support/Errors.h"
#include "support/zrFileUtils.h"
#include "support/zrIniFile.h"
#include "support/zrRegIni.h"

namespace {

using Lines = std::vector<std::string>;

class IniCacheTest : public testing::Test {
 protected:
  void SetUp() override {
    savedDefaults_ = IniDefaults();
    IniDefaults().Unquote = false;  // as the driver runs
  }
  void TearDown() override {
    try {
      IniCloseAll();
    } catch (const KxError&) {
    }
    IniDefaults() = savedDefaults_;
  }

  std::string Path(const std::string& name) { return scratch_.Path() + name; }

  ScratchFolder scratch_{CurrentTestName()};
  TIniDefaults savedDefaults_;
};

TEST_F(IniCacheTest, WritesReachTheDiskOnlyWhenTheFileIsClosed) {
  std::string file = Path("a.ini");
  EXPECT_TRUE(IniWriteString(file, "s", "k", "v"));
  EXPECT_FALSE(FileExists(file));
  EXPECT_EQ(IniReadString(file, "s", "k", "-"), "v");
  IniClose(file);
  EXPECT_EQ(ReadFileText(file), "[s]\r\nk=v\r\n\r\n");
  IniClose(file);  // closing what is not cached does nothing
}

TEST_F(IniCacheTest, FileReadThenWrittenIsReopenedWritable) {
  std::string file = Path("a.ini");
  ASSERT_TRUE(WriteFileText(file, "[s]\r\na=1\r\n"));
  EXPECT_EQ(IniReadString(file, "s", "a", "-"), "1");
  // Changed behind the reader's back: the writer that replaces the reader loads it afresh.
  ASSERT_TRUE(WriteFileText(file, "[s]\r\na=2\r\n"));
  EXPECT_EQ(IniReadString(file, "s", "a", "-"), "1");
  IniWriteString(file, "s", "b", "3");
  EXPECT_EQ(IniReadString(file, "s", "a", "-"), "2");
  EXPECT_EQ(ReadFileText(file), "[s]\r\na=2\r\n");
  IniClose(file);
  EXPECT_EQ(ReadFileText(file), "[s]\r\na=2\r\nb=3\r\n\r\n");
}

TEST_F(IniCacheTest, ReaderNeverWritesEvenWhenItMergedDuplicates) {
  std::string file = Path("a.ini");
  const std::string text = "[s]\r\na=1\r\n[S]\r\nb=2\r\n";
  ASSERT_TRUE(WriteFileText(file, text));
  EXPECT_EQ(IniReadString(file, "s", "b", "-"), "2");
  IniCloseAll();
  EXPECT_EQ(ReadFileText(file), text);
}

TEST_F(IniCacheTest, EverySpellingOfAPathSharesOneObject) {
  std::string file = Path("Mixed.Ini");
  IniWriteString(file, "s", "k", "v");
  Lines upper = {Path("MIXED.INI"), Path("mixed.ini")};
  for (const std::string& spelling : upper) {
    EXPECT_EQ(IniReadString(spelling, "S", "K", "-"), "v") << spelling;
  }
  IniClose(Path("MIXED.INI"));
  // The file was created by the first caller's spelling, not the cache's upper-cased key.
  std::vector<os::FindData> entries;
  ASSERT_TRUE(os::ListFolder(scratch_.Path(), entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "Mixed.Ini");
}

TEST_F(IniCacheTest, BareNameIsTheFileInTheWindowsFolder) {
  std::string name = "kxtest_" + CurrentTestName() + ".ini";
  std::string full = WithTrailingBackslash(os::WindowsDir()) + name;
  DeleteFileForced(full);
  IniWriteString(name, "s", "k", "bare");
  EXPECT_EQ(IniReadString(full, "s", "k", "-"), "bare");
  IniClose(full);
  EXPECT_EQ(ReadFileText(full), "[s]\r\nk=bare\r\n\r\n");
  EXPECT_TRUE(DeleteFileForced(full));
}

TEST_F(IniCacheTest, CloseAllSavesEveryFile) {
  IniWriteString(Path("one.ini"), "s", "k", "1");
  IniWriteString(Path("two.ini"), "s", "k", "2");
  IniCloseAll();
  EXPECT_EQ(ReadFileText(Path("one.ini")), "[s]\r\nk=1\r\n\r\n");
  EXPECT_EQ(ReadFileText(Path("two.ini")), "[s]\r\nk=2\r\n\r\n");
}

TEST_F(IniCacheTest, CloseAllReportsAFailedFileAfterSavingTheOthers) {
  ASSERT_TRUE(WriteFileText(Path("blocker"), "x"));
  IniWriteString(Path("blocker\\bad.ini"), "s", "k", "1");
  IniWriteString(Path("good.ini"), "s", "k", "2");
  EXPECT_THROW(IniCloseAll(), KxError);
  EXPECT_EQ(ReadFileText(Path("good.ini")), "[s]\r\nk=2\r\n\r\n");
  EXPECT_NO_THROW(IniCloseAll());  // the failed object left the cache too
}

TEST_F(IniCacheTest, CloseReportsAFailedWrite) {
  ASSERT_TRUE(WriteFileText(Path("blocker"), "x"));
  std::string file = Path("blocker\\bad.ini");
  IniWriteString(file, "s", "k", "1");
  EXPECT_THROW(IniClose(file), KxError);
  EXPECT_EQ(IniReadString(file, "s", "k", "gone"), "gone");
}

TEST_F(IniCacheTest, ListsReplaceTheCallersList) {
  std::string file = Path("a.ini");
  ASSERT_TRUE(WriteFileText(file, "[s]\r\n; note\r\na=1\r\nb=2\r\n[t]\r\nc=3\r\n"));
  Lines list{"old=1"};
  IniListSections(file, list);
  EXPECT_EQ(list, (Lines{"s", "t"}));
  list = {"old=1"};
  IniListKeys(file, "s", list);
  EXPECT_EQ(list, (Lines{"a", "b"}));
  list = {"old=1"};
  IniListValues(file, "s", list);
  EXPECT_EQ(list, (Lines{"a=1", "b=2"}));
  list = {"old=1"};
  IniListValues(file, "missing", list);
  EXPECT_EQ(list, Lines{});
}

TEST_F(IniCacheTest, WriteLinesAndDeleteKey) {
  std::string file = Path("a.ini");
  ASSERT_TRUE(WriteFileText(file, "[s]\r\n; kept\r\nold=1\r\n"));
  IniWriteLines(file, "s", {"a=1", "b = 2", "=no key", "no equals", "c=x=y"});
  IniDeleteKey(file, "s", "old");
  IniClose(file);
  EXPECT_EQ(ReadFileText(file), "[s]\r\n; kept\r\na=1\r\nb = 2\r\nc=x=y\r\n\r\n");
}

TEST_F(IniCacheTest, QuotesAreRemovedOnlyWhenTheSharedOptionIsOn) {
  std::string file = Path("a.ini");
  ASSERT_TRUE(WriteFileText(file, "[s]\r\nq=\"x\"\r\n"));
  EXPECT_EQ(IniReadString(file, "s", "q", "-"), "\"x\"");
  IniClose(file);
  IniDefaults().Unquote = true;
  EXPECT_EQ(IniReadString(file, "s", "q", "-"), "x");
}

}  // namespace
