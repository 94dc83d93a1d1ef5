#include "support/zrIniFile.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "support/Errors.h"
#include "support/zrFileUtils.h"

namespace {

using Lines = std::vector<std::string>;

struct Options {
  bool readOnly = false;
  bool skipComments = true;
  bool skipNoEquals = true;
  bool trimEquals = true;
  bool unquote = false;
};

class IniFileTest : public testing::Test {
 protected:
  std::string Path(const std::string& name) { return scratch_.Path() + name; }

  std::unique_ptr<TzrIniFile> OpenText(const std::string& text, Options options = {}) {
    EXPECT_TRUE(WriteFileText(Path("t.ini"), text));
    return Open("t.ini", options);
  }
  std::unique_ptr<TzrIniFile> Open(const std::string& name, Options options = {}) {
    return std::make_unique<TzrIniFile>(Path(name), options.readOnly, options.skipComments,
                                        options.skipNoEquals, options.trimEquals, options.unquote);
  }
  std::string FileText(const std::string& name = "t.ini") { return ReadFileText(Path(name)); }

  static Lines Values(TzrIniFile& ini, const std::string& section) {
    Lines lines;
    ini.ReadSectionValues(section, lines);
    return lines;
  }
  static Lines Image(TzrIniFile& ini) {
    Lines lines;
    ini.GetStrings(lines);
    return lines;
  }

  ScratchFolder scratch_{CurrentTestName()};
};

// ---------------------------------------------------------------------------------------------
// Reading lines

TEST_F(IniFileTest, LinesEndAtCrAtLfOrAtCrLf) {
  const char* texts[] = {
      "[s]\na=1\nb=2\n",          // Unix
      "[s]\ra=1\rb=2",            // classic Mac, no final line end
      "[s]\r\na=1\r\nb=2\r\n",    // Windows
      "[s]\r\na=1\nb=2\r",        // mixed
      "[s]\n\ra=1\r\r\n\nb=2\n",  // LF CR is two line ends, and blank lines vanish
  };
  for (const char* text : texts) {
    auto ini = OpenText(text);
    EXPECT_EQ(Values(*ini, "s"), (Lines{"a=1", "b=2"})) << testing::PrintToString(text);
    EXPECT_FALSE(ini->Modified);
  }
}

TEST_F(IniFileTest, LfOnlyFileSurvivesWriteBack) {
  auto ini = OpenText("[s]\na=1\nb=2\n[t]\nc=3\n");
  ini->WriteString("t", "d", "4");
  ini->UpdateFile();
  EXPECT_EQ(FileText(), "[s]\r\na=1\r\nb=2\r\n\r\n[t]\r\nc=3\r\nd=4\r\n\r\n");
}

TEST_F(IniFileTest, NormalisesLinesAsTheOptionsSay) {
  struct Case {
    const char* line;
    Options options;
    Lines values;
  } cases[] = {
      {"  a \t=\t 1 ", {}, {"a=1"}},
      {"a = x = y", {}, {"a=x = y"}},  // only the first "=" is trimmed
      {"a \t= 1", {.trimEquals = false}, {"a \t= 1"}},
      {"=  1", {}, {"=  1"}},  // a line that begins with "=" is left alone
      {"a=\"x y\"", {}, {"a=\"x y\""}},
      {"a=\"x y\"", {.unquote = true}, {"a=x y"}},
      {"a='x'", {.unquote = true}, {"a=x"}},
      {"a=\"\"", {.unquote = true}, {"a="}},
      {"a=\"x'", {.unquote = true}, {"a=\"x'"}},  // quotes must match
      {"a=\"", {.unquote = true}, {"a=\""}},      // one quote is no pair
      {"a = 'x'", {.unquote = true}, {"a=x"}},    // trimmed first, then unquoted
      {"no equals", {}, {}},
      {"no equals", {.skipNoEquals = false}, {"no equals"}},
      {"\x1A", {}, {}},  // end-of-file mark
      {";x=1", {.skipComments = false}, {";x=1"}},
  };
  for (const Case& c : cases) {
    auto ini = OpenText(std::string("[s]\r\n") + c.line + "\r\n", c.options);
    EXPECT_EQ(Values(*ini, "s"), c.values) << c.line;
  }
}

TEST_F(IniFileTest, SectionHeadersAreTrimmedButNamesAreNot) {
  auto ini = OpenText("  [ spaced ]  \r\na=1\r\n[]\r\nb=2\r\n[x]y\r\n");
  Lines sections;
  ini->ReadSections(sections);
  EXPECT_EQ(sections, (Lines{" spaced ", ""}));
  EXPECT_EQ(ini->ReadString(" spaced ", "a", "-"), "1");
  EXPECT_EQ(ini->ReadString("", "b", "-"), "2");
}

TEST_F(IniFileTest, LinesBeforeTheFirstHeaderAreDroppedExceptComments) {
  auto ini = OpenText("stray=1\r\n; about this file\r\n[s]\r\na=1\r\n");
  EXPECT_EQ(ini->Preamble, (Lines{"; about this file"}));
  EXPECT_EQ(Image(*ini), (Lines{"; about this file", "", "[s]", "a=1", ""}));
}

TEST_F(IniFileTest, MissingFileGivesAnEmptyImageAndIsNotCreatedUntilWritten) {
  auto ini = Open("missing.ini");
  EXPECT_EQ(ini->ReadString("s", "a", "default"), "default");
  EXPECT_FALSE(ini->Modified);
  ini.reset();
  EXPECT_FALSE(FileExists(Path("missing.ini")));

  ini = Open("missing.ini");
  ini->WriteString("s", "a", "1");
  ini.reset();
  EXPECT_EQ(FileText("missing.ini"), "[s]\r\na=1\r\n\r\n");
}

// ---------------------------------------------------------------------------------------------
// Duplicate sections

TEST_F(IniFileTest, DuplicateSectionsKeepEveryLine) {
  auto ini = OpenText("[a]\r\nx=1\r\n[b]\r\ny=1\r\n[A]\r\nx=2\r\nz=3\r\n[a]\r\nw=4\r\n");
  EXPECT_TRUE(ini->Modified);
  Lines sections;
  ini->ReadSections(sections);
  EXPECT_EQ(sections, (Lines{"a", "b"}));
  EXPECT_EQ(ini->ReadString("a", "x", "-"), "1");  // the first line of a key wins
  EXPECT_EQ(ini->ReadString("a", "z", "-"), "3");
  EXPECT_EQ(Values(*ini, "a"), (Lines{"x=1", "x=2", "z=3", "w=4"}));
  ini.reset();  // rewritten although nothing else changed
  EXPECT_EQ(FileText(), "[a]\r\nx=1\r\nx=2\r\nz=3\r\nw=4\r\n\r\n[b]\r\ny=1\r\n\r\n");
}

TEST_F(IniFileTest, MergeCallbackChoosesTheSurvivorWithoutLosingLines) {
  ASSERT_TRUE(WriteFileText(Path("t.ini"), "[a]\r\nx=1\r\n[b]\r\ny=1\r\n[A]\r\nx=2\r\n"));
  TzrIniFile ini("", false, true, true, true, false);  // no file yet: the callback comes first
  std::vector<std::string> seen;
  ini.MergeData = 7;
  ini.MergeCallback = [&seen](uint32_t data, const std::string& name, const TIniLines& earlier,
                              const TIniLines& later) {
    seen.push_back(std::to_string(data) + " " + name + " " + earlier[0].Text + " " + later[0].Text);
    return false;  // the later section takes the place
  };
  ini.Open(Path("t.ini"));
  EXPECT_EQ(seen, (Lines{"7 a x=1 x=2"}));
  EXPECT_TRUE(ini.Modified);
  Lines sections;
  ini.ReadSections(sections);
  EXPECT_EQ(sections, (Lines{"b", "A"}));
  EXPECT_EQ(ini.ReadString("a", "x", "-"), "2");
  EXPECT_EQ(Values(ini, "a"), (Lines{"x=2", "x=1"}));
}

TEST_F(IniFileTest, DeletedKeyDoesNotComeBackFromAMergedDuplicate) {
  auto ini = OpenText("[a]\r\nx=1\r\n[a]\r\nx=2\r\ny=3\r\n");
  ini->DeleteKey("a", "X");
  EXPECT_EQ(ini->ReadString("a", "x", "gone"), "gone");
  EXPECT_EQ(Values(*ini, "a"), (Lines{"y=3"}));
}

// ---------------------------------------------------------------------------------------------
// Comments

TEST_F(IniFileTest, CommentsKeepTheirPlaceAndAreWrittenBack) {
  auto ini = OpenText(
      "; preamble one\r\n;preamble two\r\n[s]\r\n; about a\r\na = 1\r\n\r\n; trailing\r\n"
      "[only comments]\r\n; nothing else\r\n[empty]\r\n");
  ini->WriteString("s", "b", "2");
  ini->UpdateFile();
  EXPECT_EQ(FileText(),
            "; preamble one\r\n;preamble two\r\n\r\n"
            "[s]\r\n; about a\r\na=1\r\n; trailing\r\nb=2\r\n\r\n"
            "[only comments]\r\n; nothing else\r\n\r\n");
}

TEST_F(IniFileTest, CommentsAreInvisibleToKeyOperations) {
  auto ini = OpenText("[s]\r\n;x=1\r\na=1\r\n");
  EXPECT_EQ(ini->ReadString("s", ";x", "none"), "none");
  Lines keys;
  ini->ReadSection("s", keys);
  EXPECT_EQ(keys, (Lines{"a"}));
  EXPECT_EQ(Values(*ini, "s"), (Lines{"a=1"}));

  ini->DeleteKey("s", ";x");
  ini->WriteString("s", ";x", "2");  // a new line: the comment is no key to replace
  EXPECT_EQ(Image(*ini), (Lines{"[s]", ";x=1", "a=1", ";x=2", ""}));
}

// ---------------------------------------------------------------------------------------------
// Key operations

TEST_F(IniFileTest, ReadStringIgnoresCaseAndFallsBackToTheDefault) {
  auto ini = OpenText("[Main]\r\nName=Value\r\nEmpty=\r\n[Other]\r\nName=Other\r\n");
  struct Case {
    const char* section;
    const char* key;
    const char* expected;
  } cases[] = {
      {"Main", "Name", "Value"}, {"MAIN", "name", "Value"},     {"other", "NAME", "Other"},
      {"Main", "Empty", ""},     {"Main", "Missing", "def"},    {"Missing", "Name", "def"},
      {"Main", "Nam", "def"},    {"Main", "Name=Value", "def"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ini->ReadString(c.section, c.key, "def"), c.expected) << c.section << "/" << c.key;
  }
}

TEST_F(IniFileTest, SectionSearchFindsEverySectionFromAnyStartingPoint) {
  std::string text;
  for (int i = 0; i < 10; ++i) {
    text += "[s" + std::to_string(i) + "]\r\nk=" + std::to_string(i) + "\r\n";
  }
  auto ini = OpenText(text);
  for (int i : {9, 0, 5, 4, 9, 1, 1, 8, 0}) {
    EXPECT_EQ(ini->ReadString("S" + std::to_string(i), "k", "-"), std::to_string(i));
    Lines keys;
    ini->ReadSection("s" + std::to_string(i), keys);
    EXPECT_EQ(keys, (Lines{"k"}));
  }
  EXPECT_EQ(ini->ReadString("s10", "k", "-"), "-");
}

// Long sections are searched through a key index, short ones line by line: both must agree.
TEST_F(IniFileTest, KeyLookupsAgreeForShortAndLongSections) {
  for (int count : {3, 40, 400}) {
    std::string text = "[s]\r\n;k2=comment\r\n";
    for (int i = 0; i < count; ++i)
      text += "k" + std::to_string(i) + "=v" + std::to_string(i) + "\r\n";
    text += "[S]\r\nk1=duplicate\r\n";
    auto ini = OpenText(text);
    SCOPED_TRACE(count);

    EXPECT_EQ(ini->ReadString("s", "K1", "-"), "v1");
    EXPECT_EQ(ini->ReadString("s", ";k2", "-"), "-");
    EXPECT_EQ(ini->ReadString("s", "k" + std::to_string(count - 1), "-"),
              "v" + std::to_string(count - 1));
    ini->WriteString("s", "new", "n");
    EXPECT_EQ(ini->ReadString("s", "NEW", "-"), "n");
    ini->WriteString("s", "K0", "replaced");
    EXPECT_EQ(ini->ReadString("s", "k0", "-"), "replaced");
    ini->DeleteKey("s", "k1");
    EXPECT_EQ(ini->ReadString("s", "k1", "gone"), "gone");
    EXPECT_EQ(ini->ReadString("s", "k2", "-"), "v2");
    ini->WriteString("s", "k1", "again");
    EXPECT_EQ(ini->ReadString("s", "k1", "-"), "again");

    Lines values = Values(*ini, "s");
    ASSERT_EQ(values.size(), static_cast<size_t>(count + 1));
    EXPECT_EQ(values.front(), "K0=replaced");
    EXPECT_EQ(values[values.size() - 2], "new=n");
    EXPECT_EQ(values.back(), "k1=again");
    EXPECT_EQ(Image(*ini)[1], ";k2=comment");
  }
}

TEST_F(IniFileTest, WriteStringSetsModifiedOnlyForAChange) {
  auto ini = OpenText("[s]\r\na=1\r\n");
  ini->WriteString("S", "A", "1");  // the same line but for the key's spelling
  EXPECT_TRUE(ini->Modified);
  ini->UpdateFile();
  ini->WriteString("s", "A", "1");
  EXPECT_FALSE(ini->Modified);
  ini->WriteString("s", "a", "1");  // the key's spelling is part of the line
  EXPECT_TRUE(ini->Modified);
  ini->UpdateFile();
  ini->WriteString("s", "a", "X");
  EXPECT_TRUE(ini->Modified);
  EXPECT_EQ(ini->ReadString("s", "a", "-"), "X");
  ini->WriteString("new", "b", "2");
  EXPECT_EQ(Image(*ini), (Lines{"[s]", "a=X", "", "[new]", "b=2", ""}));
}

TEST_F(IniFileTest, WriteStringWithAnEmptyKeyErasesTheSection) {
  auto ini = OpenText("[s]\r\na=1\r\n[t]\r\nb=2\r\n");
  ini->WriteString("S", "", "");
  EXPECT_TRUE(ini->Modified);
  EXPECT_EQ(Image(*ini), (Lines{"[t]", "b=2", ""}));

  ini->WriteString("", "", "");  // all empty: a flush
  EXPECT_FALSE(ini->Modified);
  EXPECT_EQ(FileText(), "[t]\r\nb=2\r\n\r\n");
}

TEST_F(IniFileTest, ReadIntegerReadsDecimalAndHexadecimal) {
  struct Case {
    const char* value;
    int32_t expected;
  } cases[] = {
      {"12", 12},  {"-5", -5}, {"0x1F", 31}, {"0X1f", 31}, {"$10", 16},        {"12abc", 99},
      {"abc", 99}, {"", 99},   {"0x", 99},   {"1 2", 99},  {"0xFFFFFFFF", -1}, {"2147483648", 99},
  };
  for (const Case& c : cases) {
    auto ini = OpenText(std::string("[s]\r\nv=") + c.value + "\r\n");
    EXPECT_EQ(ini->ReadInteger("s", "v", 99), c.expected) << c.value;
  }
  auto ini = OpenText("");
  EXPECT_EQ(ini->ReadInteger("s", "missing", 42), 42);
}

TEST_F(IniFileTest, BooleansAreNonZeroIntegers) {
  auto ini = OpenText("[s]\r\nzero=0\r\none=1\r\ntwo=2\r\nhex=0x0\r\nword=yes\r\n");
  EXPECT_FALSE(ini->ReadBool("s", "zero", true));
  EXPECT_TRUE(ini->ReadBool("s", "one", false));
  EXPECT_TRUE(ini->ReadBool("s", "two", false));
  EXPECT_FALSE(ini->ReadBool("s", "hex", true));
  EXPECT_TRUE(ini->ReadBool("s", "word", true));
  EXPECT_FALSE(ini->ReadBool("s", "word", false));
  EXPECT_TRUE(ini->ReadBool("s", "missing", true));

  ini->WriteBool("w", "t", true);
  ini->WriteBool("w", "f", false);
  ini->WriteInteger("w", "n", -17);
  EXPECT_EQ(Values(*ini, "w"), (Lines{"t=1", "f=0", "n=-17"}));
}

TEST_F(IniFileTest, ReadSectionValuesKeepsFormerLinesOfOtherKeys) {
  auto ini = OpenText("[s]\r\na=1\r\nB=2\r\n");
  Lines target{"b=old", "q=1", "A=old"};
  ini->ReadSectionValues("S", target);
  EXPECT_EQ(target, (Lines{"a=1", "B=2", "q=1"}));

  Lines untouched{"x=1"};
  ini->ReadSectionValues("missing", untouched);
  EXPECT_EQ(untouched, (Lines{"x=1"}));
}

TEST_F(IniFileTest, ReadSectionAppendsAndReadSectionsReplaces) {
  auto ini = OpenText("[s]\r\na=1\r\nb=2\r\n[t]\r\nc=3\r\n");
  Lines keys{"before"};
  ini->ReadSection("s", keys);
  ini->ReadSection("missing", keys);
  EXPECT_EQ(keys, (Lines{"before", "a", "b"}));
  Lines sections{"before"};
  ini->ReadSections(sections);
  EXPECT_EQ(sections, (Lines{"s", "t"}));
}

TEST_F(IniFileTest, WriteSectionValuesNeverErasesTheSection) {
  auto ini = OpenText("[s]\r\nkeep=1\r\n");
  ini->WriteSectionValues("s", {"a=1", "no equals", "=erase?", "b=x=y", "a=2"});
  EXPECT_EQ(Values(*ini, "s"), (Lines{"keep=1", "a=2", "b=x=y"}));
}

TEST_F(IniFileTest, EraseSectionAndDeleteKey) {
  auto ini = OpenText("[s]\r\na=1\r\nb=2\r\n[t]\r\nc=3\r\n");
  ini->EraseSection("missing");
  EXPECT_FALSE(ini->Modified);
  ini->EraseSection("T");
  EXPECT_TRUE(ini->Modified);
  EXPECT_EQ(ini->ReadString("t", "c", "gone"), "gone");

  ini->DeleteKey("s", "A");
  ini->DeleteKey("created", "x");  // an empty section, never written
  Lines sections;
  ini->ReadSections(sections);
  EXPECT_EQ(sections, (Lines{"s", "created"}));
  ini->UpdateFile();
  EXPECT_EQ(FileText(), "[s]\r\nb=2\r\n\r\n");
}

TEST_F(IniFileTest, LineBreaksInTextAreWrittenAsBlanks) {
  auto ini = Open("t.ini");
  ini->WriteString("s", "a", "one\r\n[forged]\r\nb=2");
  ini->WriteString("t\n", "c", "3");
  ini.reset();
  ini = Open("t.ini");
  Lines sections;
  ini->ReadSections(sections);
  EXPECT_EQ(sections, (Lines{"s", "t "}));
  EXPECT_EQ(ini->ReadString("s", "a", "-"), "one  [forged]  b=2");
  EXPECT_EQ(ini->ReadString("s", "b", "none"), "none");
}

// ---------------------------------------------------------------------------------------------
// The file

TEST_F(IniFileTest, ChangesReachTheFileOnlyWhenFlushed) {
  const std::string text = "[s]\r\na=1\r\n";
  auto ini = OpenText(text);
  ini->WriteString("s", "b", "2");
  EXPECT_EQ(FileText(), text);
  ini->UpdateFile();
  EXPECT_FALSE(ini->Modified);
  EXPECT_EQ(FileText(), "[s]\r\na=1\r\nb=2\r\n\r\n");
  ini->WriteString("s", "c", "3");
  ini.reset();
  EXPECT_EQ(FileText(), "[s]\r\na=1\r\nb=2\r\nc=3\r\n\r\n");
}

TEST_F(IniFileTest, RewriteCutsTheFileToTheNewImage) {
  std::string text = "[big]\r\n";
  for (int i = 0; i < 200; ++i) text += "key" + std::to_string(i) + "=value\r\n";
  auto ini = OpenText(text + "[small]\r\nx=1\r\n");
  ini->EraseSection("big");
  ini->UpdateFile();
  EXPECT_EQ(FileText(), "[small]\r\nx=1\r\n\r\n");
  ini->WriteString("small", "y", "2");  // a second flush through the same object
  ini->UpdateFile();
  EXPECT_EQ(FileText(), "[small]\r\nx=1\r\ny=2\r\n\r\n");
}

TEST_F(IniFileTest, ReadOnlyObjectNeverWritesAndHoldsNoFile) {
  const std::string text = "[s]\r\na = 1\r\n";
  auto ini = OpenText(text, {.readOnly = true});
  EXPECT_FALSE(ini->IsFileOpen());
  ini->WriteString("s", "b", "2");
  ini->UpdateFile();
  EXPECT_FALSE(ini->Modified);
  ini.reset();
  EXPECT_EQ(FileText(), text);

  auto writable = OpenText(text);
  EXPECT_TRUE(writable->IsFileOpen());
}

TEST_F(IniFileTest, FirstWriteCreatesTheFolderChain) {
  auto ini = Open("sub\\deeper\\new.ini");
  ini->WriteString("s", "a", "1");
  ini->UpdateFile();
  EXPECT_EQ(FileText("sub\\deeper\\new.ini"), "[s]\r\na=1\r\n\r\n");
}

TEST_F(IniFileTest, FailedWriteIsReportedAndKeepsTheChangesPending) {
  ASSERT_TRUE(WriteFileText(Path("blocker"), "a file where a folder should be"));
  auto ini = Open("blocker\\t.ini");
  ini->WriteString("s", "a", "1");
  try {
    ini->UpdateFile();
    FAIL() << "the write succeeded";
  } catch (const KxError& error) {
    EXPECT_EQ(std::string(error.what()), "Cannot write file " + Path("blocker\\t.ini"));
  }
  EXPECT_TRUE(ini->Modified);
  EXPECT_EQ(ini->ReadString("s", "a", "-"), "1");
}

TEST_F(IniFileTest, LoadReadsAFreshImage) {
  auto ini = OpenText("[s]\r\na=1\r\n");
  ini->WriteString("s", "b", "2");
  ini->Load();  // pending changes are written first, and nothing is read twice
  EXPECT_EQ(Values(*ini, "s"), (Lines{"a=1", "b=2"}));
  EXPECT_FALSE(ini->Modified);
}

TEST_F(IniFileTest, OpenFlushesTheFormerFile) {
  auto ini = OpenText("[s]\r\na=1\r\n");
  ini->WriteString("s", "a", "2");
  ASSERT_TRUE(WriteFileText(Path("other.ini"), "[o]\r\nx=y\r\n"));
  ini->Open(Path("other.ini"));
  EXPECT_EQ(FileText(), "[s]\r\na=2\r\n\r\n");
  EXPECT_EQ(ini->FileName, Path("other.ini"));
  EXPECT_EQ(ini->ReadString("o", "x", "-"), "y");
  EXPECT_EQ(ini->ReadString("s", "a", "-"), "-");
}

TEST(IniFullNameTest, BareNamesLiveInTheWindowsFolder) {
  std::string windows = WithTrailingBackslash(os::WindowsDir());
  EXPECT_EQ(IniFullName("setup.ini"), windows + "setup.ini");
  EXPECT_EQ(IniFullName("C:\\a\\setup.ini"), "C:\\a\\setup.ini");
  EXPECT_EQ(IniFullName("sub\\setup.ini"), "sub\\setup.ini");
  EXPECT_EQ(IniFullName("C:setup.ini"), "C:setup.ini");
  EXPECT_EQ(IniFullName("/tmp/setup.ini"), "/tmp/setup.ini");
  EXPECT_EQ(IniFullName(""), "");
}

}  // namespace
