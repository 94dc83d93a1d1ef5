#include "expressions/Evaluator.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "database/KXClasses.h"
#include "database/zrXMLParser.h"
#include "expressions/Common.h"
#include "expressions/PluginChannel.h"
#include "os/PeTestImage.h"
#include "os/os.h"
#include "support/zrFileUtils.h"
#include "support/zrRegIni.h"

namespace {

struct Case {
  const char* expression;
  const char* expected;  // the result; with error set, the position of the syntax error
  bool error = false;
};

class KxEvaluatorTest : public testing::Test {
 protected:
  KxEvaluatorTest() {
    TXMLTag tag;
    tag.Parse(
        "<kx2project><variables>"
        "<var name=\"Empty\" value=\"\"/>"
        "<var name=\"N\" value=\"5\"/>"
        "<var name=\"Ref\" value=\"%N%\"/>"
        "<var name=\"Dir\" value=\"C:\\Program Files\"/>"
        "<var name=\"Ping\" value=\"%Pong%\"/>"
        "<var name=\"Pong\" value=\"%Ping%\"/>"
        "</variables></kx2project>");
    db_.Assign(tag);
  }

  std::string Eval(const std::string& text) { return evaluator_.CalcExpression(text); }

  // The message of the error the evaluation raises, "" when it raises none.
  std::string ErrorOf(const std::string& text) {
    try {
      Eval(text);
    } catch (const KxError& e) {
      return e.what();
    }
    return std::string();
  }

  void CheckCases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.expression);
      if (c.error) {
        EXPECT_EQ(ErrorOf(c.expression),
                  std::string("Syntax error.\r\nPosition ") + c.expected + ".");
      } else {
        EXPECT_EQ(Eval(c.expression), c.expected);
      }
    }
  }

  TkxMainDatabase db_;
  TkxEvaluator evaluator_{db_};
};

// ---------------------------------------------------------------------------------------------
// Operators and the character classes of the installer

TEST_F(KxEvaluatorTest, ArithmeticReadsNumbersAndWritesFifteenDigits) {
  CheckCases({
      {"1+2", "3"},
      {"1 + 2", "3"},
      {"10 / 4", "2.5"},
      {"7 - 10", "-3"},
      {"0.1 + 0.2", "0.3"},
      {"1 / 3", "0.333333333333333"},
      {"2 / 3", "0.666666666666667"},
      {"1e3 * 2", "2000"},
      {"100000 * 1000000000", "100000000000000"},
      {"1000000 * 1000000000", "1E+15"},
      {"1 / 100000", "0.00001"},
      {"+007", "7"},
      {"+abc", "0"},
      {"abc + 1", "1"},
      {"3.50 & x", "3.50x"},
      {".5 * 2", "1"},
  });
}

// Operands are read and computed in extended precision; a result is written as long as it is
// finite there, beyond the range of a double too.
TEST_F(KxEvaluatorTest, ResultsBeyondTheDoubleRangeAreNumbers) {
  CheckCases({
      {"+1e400", "1E+400"},
      {"1e300 * 1e300", "1E+600"},
      {"-1e300 * 1e300", "-1E+600"},
      {"1 / 1e300 / 1e300", "1E-600"},
      {"1e300 * 1e300 / 1e300", "1E+300"},
      {"1e4000 + 0.5", "1E+4000"},
      {"1e400 > 1e399", "1"},
  });
  for (const char* text : {"1e4000 * 1e4000", "-1e4932 * 10", "1e4932 + 1e4932"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(ErrorOf(text), "Floating point overflow.");
  }
}

TEST_F(KxEvaluatorTest, DivisionByZeroEndsTheEvaluation) {
  for (const char* text : {"1 / 0", "0 / 0", "1 / abc", "5 / (2 - 2)"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(ErrorOf(text), "Division by zero.");
  }
}

TEST_F(KxEvaluatorTest, ComparisonsAndTruthOperators) {
  CheckCases({
      {"1 = 1.0", "0"},    {"'1' = 1", "1"},        {"a = A", "0"},      {"1 <> 1.0", "1"},
      {"abc <> abc", "0"}, {"1 < 1.5", "1"},        {"abc > 0", "0"},    {"10 > 9", "1"},
      {"2 >= 2", "1"},     {"2 <= 1.999", "0"},     {"-1 < 0", "1"},     {"1 and 1", "1"},
      {"1 and 2", "0"},    {"1 AND 1", "1"},        {"0 or 1", "1"},     {"2 or 0", "0"},
      {"1 Or 0", "1"},     {"not 1", "0"},          {"not x", "1"},      {"NOT 0", "1"},
      {"1.0 and 1", "0"},  {"\"x\" & \"y\"", "xy"}, {"'it''s'", "it's"}, {"", ""},
  });
}

TEST_F(KxEvaluatorTest, PrioritiesAndPrefixes) {
  CheckCases({
      {"1 + 2 * 3", "7"},
      {"2 * 3 + 1", "7"},
      {"10 - 2 - 3", "5"},
      {"1 and 3 = 1 + 2", "0"},
      {"1 or 1 and 0", "1"},
      {"1 & 2 + 3", "15"},
      {"(1 + 2) * (3 + 4)", "21"},
      {"-1 + 2", "1"},
      {"- - 1", "-1"},
      {"not -1", "-1"},
      {"-(2 + 3) * 2", "-10"},
      {"a < -1", "0"},
      {"1 +", "1"},
      {"(1 + 2", "3"},
      {"1 + 2) * 5", "3"},
  });
}

TEST_F(KxEvaluatorTest, SyntaxErrorsNameTheBytePosition) {
  CheckCases({
      {"a<-1", "4", true},
      {"not not 1", "8", true},
      {"- not 1", "6", true},
      {"FileExists()", "12", true},
      {"ActiveInstallType()", "18", true},
      {"Foo(1)", "4", true},
      {"\"\" = \"\"", "3", true},
      {"Length(\"\")", "10", true},
      {"SubStr(a, 1)", "12", true},
      {"Iif(1, 2) & x", "9", true},
      {"5 % 2", "3", true},  // "%" belongs to operands here, it is no operator
      {"1 \t 2", "3", true},
  });
  EXPECT_EQ(Eval("Foo"), "Foo");
}

// ---------------------------------------------------------------------------------------------
// Variables in operands

TEST_F(KxEvaluatorTest, OperandsAreExpanded) {
  CheckCases({
      {"%N% + 1", "6"},
      {"%Ref% * 2", "10"},
      {"%n% & x", "5x"},
      {"%N%.5 + 0", "5.5"},
      {"\"%Dir%\\app\"", "C:\\Program Files\\app"},
      {"\"100%%\"", "100%"},
      {"%Empty% = \"x\"", "0"},
      {"\"x\" = %Empty%", "x"},
      {"\"x\" <> %Empty%", "x"},
      {"NormalPath(%Empty%)", ""},
      {"Length(%Empty%)", "0"},
      // A function's result is an operand too, so a reference it builds is expanded.
      {"SubStr(\"%%N%%\", 1, 3)", "5"},
      {"(\"%%\" & \"N%%\")", "5"},
  });
}

TEST_F(KxEvaluatorTest, EndlessReferenceEndsTheEvaluation) {
  std::string message = ErrorOf("%Ping% = 1");
  EXPECT_NE(message.find("Infinite reference"), std::string::npos) << message;
}

TEST_F(KxEvaluatorTest, LineBreaksReadAsBlanks) {
  EXPECT_EQ(Eval("1 +\r\n2"), "3");
  EXPECT_EQ(Eval("1\n+\n2"), "3");
  EXPECT_EQ(Eval("1 +\r2"), "3");
  EXPECT_EQ(Eval("\"a\r\nb\""), "a b");
  EXPECT_EQ(Eval("FileExists(\r\n\"x\") or\r\n1"), "1");
  EXPECT_TRUE(evaluator_.CalcBool("1 = 1\r\nand 2 > 1"));
  EXPECT_FALSE(evaluator_.CalcBool("1.0"));
  EXPECT_FALSE(evaluator_.CalcBool("2"));
  EXPECT_FALSE(evaluator_.CalcBool(""));
}

// ---------------------------------------------------------------------------------------------
// Functions of texts and numbers

TEST_F(KxEvaluatorTest, IifAndPaths) {
  CheckCases({
      {"Iif(1, a, b)", "a"},
      {"Iif(1.0, a, b)", "b"},
      {"iif(0, a, b)", "b"},
      {"Iif(2 > 1, FileName(\"C:\\x\\y.txt\"), b)", "y.txt"},
      {"FilePath(\"C:\\a\\b.txt\")", "C:\\a"},
      {"FilePath(\"C:\\b.txt\")", "C:"},
      {"FilePath(\"C:b.txt\")", "C:"},
      {"FilePath(\"b.txt\")", ""},
      {"FilePath(\"\\\\srv\\share\\f\")", "\\\\srv\\share"},
      {"FileName(\"C:\\a\\b.txt\")", "b.txt"},
      {"FileName(\"C:b\")", "b"},
      {"FileName(\"C:\\a\\\")", ""},
      {"FileName(b)", "b"},
      {"NormalPath(\"C:\\a\")", "C:\\a\\"},
      {"NormalPath(\"C:\\a\\\")", "C:\\a\\"},
  });
}

TEST_F(KxEvaluatorTest, SubStrFindSubStrAndLength) {
  CheckCases({
      {"SubStr(abcdef, 2, 3)", "bcd"},
      {"SubStr(abc, x, 2)", "ab"},
      {"SubStr(abc, 0, 2)", "ab"},
      {"SubStr(abc, -5, 2)", "ab"},
      {"SubStr(abc, 3, 5)", "c"},
      {"SubStr(abc, 4, 1)", ""},
      {"SubStr(abc, 1, 0)", ""},
      {"SubStr(abc, 1, -1)", ""},
      {"SubStr(abc, 2, x)", ""},
      {"SubStr(abc, 1, 2.5)", ""},
      {"FindSubStr(Hello, LL, 1)", "3"},
      {"FindSubStr(Hello, l, 4)", "4"},
      {"FindSubStr(Hello, x, 1)", "0"},
      {"FindSubStr(Hello, l, 0)", "3"},
      {"FindSubStr(Hello, l, x)", "3"},
      {"FindSubStr(Hello, l, 6)", "0"},
      {"FindSubStr(%Empty%, a, 1)", "0"},
      {"FindSubStr(abc, %Empty%, 1)", "0"},
      {"FindSubStr(\"\xE0\xE1\xE2\", \"\xC1\", 1)", "2"},  // the fixed upper-case table
      {"Length(abc)", "3"},
      {"Length('a b')", "3"},
      {"Length(12.50)", "5"},
  });
}

TEST_F(KxEvaluatorTest, RoundGoesHalfToEvenWithinThirtyTwoBits) {
  CheckCases({
      {"Round(2.5)", "2"},
      {"Round(3.5)", "4"},
      {"Round(-1.5)", "-2"},
      {"Round(-2.5)", "-2"},
      {"Round(0.49)", "0"},
      {"Round(1.5000001)", "2"},
      {"Round(-0.2)", "0"},
      {"Round(abc)", "0"},
      {"Round(2147483647)", "2147483647"},
      {"Round(-2147483648.4)", "-2147483648"},
  });
  for (const char* text :
       {"Round(2147483648)", "Round(2147483647.5)", "Round(-2147483649)", "Round(1e10)"}) {
    SCOPED_TRACE(text);
    EXPECT_NE(ErrorOf(text).find("out of the range"), std::string::npos);
  }
}

TEST_F(KxEvaluatorTest, CompareVersionComparesBothHalvesUnsigned) {
  CheckCases({
      {"CompareVersion(\"1.2\", \"1.2.0.0\")", "0"},
      {"CompareVersion(\"1.10\", \"1.9\")", "1"},
      {"CompareVersion(2, 10)", "-1"},
      {"CompareVersion(\"1.2.3.5\", \"1.2.3.4\")", "1"},
      {"CompareVersion(\"1.2.3.4.9\", \"1.2.3.4\")", "0"},
      {"CompareVersion(abc, 0)", "0"},
      // A major version of 32768 or more is newer, never older, than 1.0; so in the low half.
      {"CompareVersion(\"65535.0\", \"1.0\")", "1"},
      {"CompareVersion(\"1.0\", \"40000.1\")", "-1"},
      {"CompareVersion(\"1.2.32768\", \"1.2.1\")", "1"},
      // A part no version resource can hold does not spill into its neighbour.
      {"CompareVersion(\"1.70000\", \"2.0\")", "-1"},
  });
}

TEST_F(KxEvaluatorTest, CompareDateReadsTheFixedForm) {
  CheckCases({
      {"CompareDate(\"12/31/2002\", \"01/01/2003\")", "-1"},
      {"CompareDate(\"1/1/2003\", \"01/01/2003 00:00:00\")", "0"},
      {"CompareDate(\"01/01/2003 10:00\", \"01/01/2003 9:59:59\")", "1"},
      {"CompareDate(\"2/29/2004\", \"3/1/2004\")", "-1"},
      {"CompareDate(\"12/30/1899 00:00:00\", \"1/1/1980\")", "-1"},
      {"CompareDate(\"1/1/99\", \"1/1/2000\")", "-1"},
      {"CompareDate(\"1/1/03\", \"1/1/2003\")", "0"},
      {"CompareDate(\"6/15/2003 10:20:31\", \"6/15/2003 10:20:30\")", "1"},
  });
  for (const char* date :
       {"2003-01-01", "13/1/2003", "2/29/2003", "1/1/2003 24:00", "1/32/2003", "1/1/2003x", "1/1",
        "1/1/2003 10", "1/1/12003", "001/1/2003", "1.1.2003", "x"}) {
    SCOPED_TRACE(date);
    const std::string left = std::string("CompareDate(\"") + date + "\", \"1/1/2003\")";
    const std::string right = std::string("CompareDate(\"1/1/2003\", \"") + date + "\")";
    EXPECT_NE(ErrorOf(left).find("not a valid date"), std::string::npos);
    EXPECT_NE(ErrorOf(right).find("not a valid date"), std::string::npos);
  }
}

TEST_F(KxEvaluatorTest, CompareTextIgnoresCase) {
  CheckCases({
      {"CompareText(abc, ABC)", "0"},
      {"CompareText(a, b)", "-1"},
      {"CompareText(b, A)", "1"},
  });
}

TEST_F(KxEvaluatorTest, ZeroArgumentFunctionsTakeNoParentheses) {
  EXPECT_EQ(Eval("ActiveInstallType"), "");
  const std::string net = Eval("DotNetInstalled");
  EXPECT_TRUE(net == "0" || net == "1") << net;
  EXPECT_EQ(ErrorOf("DotNetInstalled()"), "Syntax error.\r\nPosition 16.");
}

// ---------------------------------------------------------------------------------------------
// Functions of files

class KxEvaluatorFileTest : public KxEvaluatorTest {
 protected:
  std::string Quoted(const std::string& name) { return "\"" + scratch_.Path() + name + "\""; }
  std::string Call(const std::string& function, const std::string& name) {
    return Eval(function + "(" + Quoted(name) + ")");
  }

  ScratchFolder scratch_{CurrentTestName()};
};

TEST_F(KxEvaluatorFileTest, ExistenceAndSize) {
  ASSERT_TRUE(WriteFileText(scratch_.Path() + "five.txt", "12345"));
  ASSERT_TRUE(WriteFileText(scratch_.Path() + "empty.txt", ""));
  ASSERT_TRUE(ForceFolders(scratch_.Path() + "sub"));

  EXPECT_EQ(Call("FileExists", "five.txt"), "1");
  EXPECT_EQ(Call("FileExists", "sub"), "0");
  EXPECT_EQ(Call("FileExists", "missing.txt"), "0");
  EXPECT_EQ(Call("FolderExists", "sub"), "1");
  EXPECT_EQ(Call("FolderExists", "sub\\"), "1");
  EXPECT_EQ(Call("FolderExists", "five.txt"), "0");
  EXPECT_EQ(Call("FolderExists", "missing"), "0");
  EXPECT_EQ(Call("FileSize", "five.txt"), "5");
  EXPECT_EQ(Call("FileSize", "empty.txt"), "0");
  EXPECT_EQ(Call("FileSize", "missing.txt"), "-1");
  // The first directory entry that matches, folders included.
  EXPECT_EQ(Call("FileSize", "f*.txt"), "5");
  EXPECT_EQ(Call("FileSize", "e?pty.*"), "0");
  EXPECT_EQ(Call("FileSize", "sub"), "0");
  EXPECT_EQ(Call("FileSize", "*.none"), "-1");
}

// Sizes beyond 32 bits keep their low word, read as a signed number. The file is sparse.
TEST_F(KxEvaluatorFileTest, FileSizeKeepsTheLowWordSigned) {
  struct Size {
    uint64_t bytes;
    const char* expected;
  };
  for (const Size& s : {Size{0x100000005ull, "5"}, Size{0xFFFFFFFEull, "-2"}}) {
    const std::string path = scratch_.Path() + "big.bin";
    {
      os::File file = os::File::Open(path, os::File::Mode::kCreate);
      ASSERT_TRUE(file.IsOpen());
      ASSERT_TRUE(file.Seek(static_cast<int64_t>(s.bytes - 1)));
      ASSERT_TRUE(file.Write("x", 1));
    }
    EXPECT_EQ(Call("FileSize", "big.bin"), s.expected);
    ASSERT_TRUE(os::DeleteFile(path));
  }
}

TEST_F(KxEvaluatorFileTest, FileVersionFromTheVersionResource) {
  // Every field given: replacing the default list afterwards trips a false warning of GCC 12.
  const PeTestImageOptions versioned{.pe32Plus = false,
                                     .withResources = true,
                                     .versionName = 1,
                                     .languages = {{0x0409, 40000u << 16 | 8, 65535u << 16 | 3}}};
  ASSERT_TRUE(WriteFileText(scratch_.Path() + "versioned.dll", BuildPeTestImage(versioned).Text()));
  const PeTestImageOptions bare{
      .pe32Plus = false, .withResources = false, .versionName = 1, .languages = {}};
  ASSERT_TRUE(WriteFileText(scratch_.Path() + "bare.dll", BuildPeTestImage(bare).Text()));
  ASSERT_TRUE(WriteFileText(scratch_.Path() + "notes.txt", "text"));

  EXPECT_EQ(Call("FileVersion", "versioned.dll"), "40000.8.65535.3");
  EXPECT_EQ(Call("FileVersion", "bare.dll"), "0");
  EXPECT_EQ(Call("FileVersion", "notes.txt"), "0");
  EXPECT_EQ(Call("FileVersion", "missing.dll"), "0");
  EXPECT_EQ(Eval("CompareVersion(FileVersion(" + Quoted("versioned.dll") + "), \"40000.8\")"), "1");
}

TEST_F(KxEvaluatorFileTest, FileDateInLocalTimeWithEvenSeconds) {
  const char d = os::DateSeparator(), t = os::TimeSeparator();
  auto text = [d, t](int month, int day, int year, int hour, int minute, int second) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%02d%c%02d%c%04d %02d%c%02d%c%02d", month, d, day, d,
                  year, hour, t, minute, t, second);
    return std::string(buffer);
  };
  const std::string zeroDate = text(12, 30, 1899, 0, 0, 0);
  EXPECT_EQ(Call("FileDate", "missing.txt"), zeroDate);
  ASSERT_TRUE(ForceFolders(scratch_.Path() + "sub"));
  EXPECT_EQ(Call("FileDate", "sub"), zeroDate);  // a folder is no file

  // 2003-06-15 10:20:31 UTC; every time zone keeps the odd second.
  const int64_t writeTime = 127001460310000000;
  const std::string path = scratch_.Path() + "dated.txt";
  ASSERT_TRUE(WriteFileText(path, "x"));
  ASSERT_TRUE(os::SetFileWriteTime(path, writeTime));
  os::LocalDateTime local;
  ASSERT_TRUE(os::FileTimeToLocalTime(writeTime, local));
  ASSERT_EQ(local.second, 31);
  EXPECT_EQ(Call("FileDate", "dated.txt"),
            text(local.month, local.day, local.year, local.hour, local.minute, 30));
}

TEST_F(KxEvaluatorFileTest, RenameFileMovesAndLogsOnRequest) {
  std::vector<std::string> logged;
  evaluator_.LogCopiedFile = [&logged](const std::string& file) { logged.push_back(file); };
  ASSERT_TRUE(WriteFileText(scratch_.Path() + "old.txt", "content"));

  EXPECT_EQ(Eval("RenameFile(" + Quoted("old.txt") + ", " + Quoted("new.txt") + ", 0)"), "1");
  EXPECT_FALSE(FileExists(scratch_.Path() + "old.txt"));
  EXPECT_EQ(ReadFileText(scratch_.Path() + "new.txt"), "content");
  EXPECT_TRUE(logged.empty());

  EXPECT_EQ(Eval("RenameFile(" + Quoted("new.txt") + ", " + Quoted("last.txt") + ", 1)"), "1");
  EXPECT_EQ(ReadFileText(scratch_.Path() + "last.txt"), "content");
  EXPECT_EQ(logged, std::vector<std::string>{scratch_.Path() + "last.txt"});

  // A failed move is no failure of the expression.
  EXPECT_EQ(Eval("RenameFile(" + Quoted("none.txt") + ", " + Quoted("other.txt") + ", 0)"), "1");
  EXPECT_FALSE(FileExists(scratch_.Path() + "other.txt"));

  // Without an active log nothing is recorded.
  evaluator_.LogCopiedFile = nullptr;
  EXPECT_EQ(Eval("RenameFile(" + Quoted("last.txt") + ", " + Quoted("end.txt") + ", 1)"), "1");
  EXPECT_TRUE(FileExists(scratch_.Path() + "end.txt"));
  EXPECT_EQ(logged.size(), 1u);
}

// ---------------------------------------------------------------------------------------------
// The registry

class KxEvaluatorRegistryTest : public KxEvaluatorTest {
 protected:
  static std::string Key() { return ScratchRegistryKey::CurrentTestKey(); }
  ScratchRegistryKey scratchKey_;
  std::string Call(const std::string& function, const std::string& key,
                   const std::vector<std::string>& more) {
    std::string text = function + "(\"" + key + "\"";
    for (const std::string& m : more) text += ", \"" + m + "\"";
    return Eval(text + ")");
  }
};

TEST_F(KxEvaluatorRegistryTest, KeysAndValuesExist) {
  ASSERT_TRUE(RegWriteString(Key(), "S", "text"));
  EXPECT_EQ(Call("RegKeyExists", Key(), {}), "1");
  EXPECT_EQ(Call("RegKeyExists", Key() + "\\missing", {}), "0");
  EXPECT_EQ(Call("RegParamExists", Key(), {"S"}), "1");
  EXPECT_EQ(Call("RegParamExists", Key(), {"s"}), "1");
  EXPECT_EQ(Call("RegParamExists", Key(), {"T"}), "0");
  EXPECT_EQ(Call("RegParamExists", Key() + "\\missing", {"S"}), "0");
}

TEST_F(KxEvaluatorRegistryTest, RegParamGivesTheTextOfTheValue) {
  ASSERT_TRUE(RegWriteString(Key(), "S", "C:\\App"));
  ASSERT_TRUE(RegWrite(Key(), "E", os::kRegExpandString, "C:\\x", 5));
  ASSERT_TRUE(RegWriteNumber(Key(), "D", 4294967295u));
  ASSERT_TRUE(RegWriteMultiString(Key(), "M", {"a", "b"}));
  const uint8_t bytes[] = {0x0A, 0xFF, 0x00};
  ASSERT_TRUE(RegWriteBinary(Key(), "B", bytes, sizeof bytes));
  ASSERT_TRUE(RegWrite(Key(), "N", os::kRegNone, "xy", 2));
  const uint8_t qword[8] = {1};
  ASSERT_TRUE(RegWrite(Key(), "Q", 11, qword, sizeof qword));

  EXPECT_EQ(Call("RegParam", Key(), {"S", "def"}), "C:\\App");
  EXPECT_EQ(Call("RegParam", Key(), {"E", "def"}), "C:\\x");
  EXPECT_EQ(Call("RegParam", Key(), {"D", "def"}), "4294967295");
  EXPECT_EQ(Call("RegParam", Key(), {"M", "def"}), "a\r\nb");
  EXPECT_EQ(Call("RegParam", Key(), {"B", "def"}), "0AFF00");
  EXPECT_EQ(Call("RegParam", Key(), {"N", "def"}), "def");
  EXPECT_EQ(Call("RegParam", Key(), {"Q", "def"}), "def");
  EXPECT_EQ(Call("RegParam", Key(), {"missing", "def"}), "def");
  EXPECT_EQ(Call("RegParam", Key() + "\\missing", {"S", "def"}), "def");
}

// ---------------------------------------------------------------------------------------------
// The user, features and install types

class KxEvaluatorAskUserTest : public KxEvaluatorTest {
 protected:
  void TearDown() override { os::RemoveProcessVariable("KX_MSGBOX_ANSWERS"); }

  // Runs the evaluation and returns the boxes it showed, as "caption: text" on standard error.
  std::string Boxes(const std::string& text, std::string& result) {
    testing::internal::CaptureStderr();
    result = Eval(text);
    return testing::internal::GetCapturedStderr();
  }

  static size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
      ++count;
    return count;
  }

  // Scripts every box of this process to answer with that button; false where the system's
  // boxes cannot be scripted.
  static bool ScriptAnswers(int answer) {
    std::string script = std::to_string(answer);
    for (int i = 0; i < 500; ++i) script += "," + std::to_string(answer);
    os::SetProcessVariable("KX_MSGBOX_ANSWERS", script);
    testing::internal::CaptureStderr();
    // A default button other than the scripted one: only a scripted box answers with it.
    const uint32_t flags = os::kMbYesNo | (answer == os::kIdYes ? uint32_t{os::kMbDefButton2} : 0u);
    const int probe = os::MessageBox(nullptr, "probe", "probe", flags);
    testing::internal::GetCapturedStderr();
    return probe == answer;
  }
};

TEST_F(KxEvaluatorAskUserTest, EachQuestionIsAskedOnce) {
  std::string first, second, third;
  std::string shown = Boxes("AskUser(Setup, \"Go on?\", 1, 0)", first);
  shown += Boxes("AskUser(Other, \"GO ON?\", 2, 1)", second);
  shown += Boxes("AskUser(Setup, \"a=b\", 0, 0) & AskUser(Setup, \"a=b\", 0, 0)", third);
  EXPECT_EQ(Count(shown, "Setup: Go on?"), 1u) << shown;
  EXPECT_EQ(Count(shown, "Other:"), 0u) << shown;
  EXPECT_EQ(Count(shown, "Setup: a=b"), 1u) << shown;
  EXPECT_EQ(first, "1");  // OK, the only button
  EXPECT_EQ(second, first);
  EXPECT_EQ(third, "11");
  EXPECT_EQ(evaluator_.AskUserAnswers, (std::vector<std::string>{"*Go on?*=1", "*a=b*=1"}));
}

TEST_F(KxEvaluatorAskUserTest, RememberedAnswersAreNotAskedAgain) {
  evaluator_.AskUserAnswers.push_back("*Delete files?*=0");
  std::string result;
  EXPECT_EQ(Boxes("AskUser(Setup, \"delete FILES?\", 1, 1)", result), "");
  EXPECT_EQ(result, "0");
  EXPECT_EQ(evaluator_.AskUserAnswers.size(), 1u);
}

TEST_F(KxEvaluatorAskUserTest, NoAndCancelAnswerFalse) {
  if (!ScriptAnswers(os::kIdNo)) GTEST_SKIP() << "the boxes of this system cannot be scripted";
  std::string result;
  Boxes("AskUser(Setup, \"Replace?\", 1, 1)", result);
  EXPECT_EQ(result, "0");
  ASSERT_TRUE(ScriptAnswers(os::kIdCancel));
  Boxes("AskUser(Setup, \"Continue?\", 2, 2)", result);
  EXPECT_EQ(result, "0");
  ASSERT_TRUE(ScriptAnswers(os::kIdYes));
  Boxes("AskUser(Setup, \"Install?\", 5, 1)", result);
  EXPECT_EQ(result, "1");
  EXPECT_EQ(evaluator_.AskUserAnswers,
            (std::vector<std::string>{"*Replace?*=0", "*Continue?*=0", "*Install?*=1"}));
}

// Conditions evaluated by the evaluator under test, as the run wires them.
class KxEvaluatorConditionTest : public KxEvaluatorTest {
 protected:
  void SetUp() override {
    TXMLTag tag;
    tag.Parse(
        "<p><installtypes><installtype id=\"typical\"/><installtype id=\"full\"/></installtypes>"
        "<features>"
        "<feature id=\"main\"><features><feature id=\"docs\"/></features></feature>"
        "<feature id=\"extra\"/>"
        "<feature id=\"cond\" condition=\"%N% = 4\"/>"
        "</features>"
        "<variables>"
        "<var name=\"Mode\" condition=\"FeatureEnabled(cond)\" value=\"full\"/>"
        "<var name=\"Mode\" value=\"basic\"/>"
        "</variables></p>");
    db_.MergeFrom(tag);
    ASSERT_EQ(db_.Features->Count(), 3);
    ASSERT_EQ(db_.Features->Items(0)->Features->Count(), 1);
    wasEnabled_ = ConditionsEnabled.load();
    oldHook_ = ConditionHook;
    ConditionsEnabled = true;
    ConditionHook = [this](const std::string& condition) { return evaluator_.CalcBool(condition); };
  }
  void TearDown() override {
    ConditionHook = oldHook_;
    ConditionsEnabled = wasEnabled_;
  }

  bool wasEnabled_ = false;
  std::function<bool(const std::string&)> oldHook_;
};

TEST_F(KxEvaluatorConditionTest, ActiveInstallType) {
  EXPECT_EQ(Eval("ActiveInstallType"), "");
  db_.InstallTypes->Active = db_.InstallTypes->Items(1);
  EXPECT_EQ(Eval("ActiveInstallType"), "full");
  EXPECT_EQ(Eval("ActiveInstallType = full and 1"), "1");
}

TEST_F(KxEvaluatorConditionTest, FeatureEnabledWantsTopLevelSelectedAndCondition) {
  TkxFeature& main = *db_.Features->Items(0);
  main.Selected = true;
  main.Features->Items(0)->Selected = true;
  db_.Features->Items(2)->Selected = true;

  EXPECT_EQ(Eval("FeatureEnabled(main)"), "1");
  EXPECT_EQ(Eval("FeatureEnabled(MAIN)"), "1");
  EXPECT_EQ(Eval("FeatureEnabled(docs)"), "0");  // nested features do not count
  EXPECT_EQ(Eval("FeatureEnabled(extra)"), "0");
  EXPECT_EQ(Eval("FeatureEnabled(cond)"), "0");
  EXPECT_EQ(Eval("FeatureEnabled(none)"), "0");
  SetVariable(&db_, "N", "4");
  EXPECT_EQ(Eval("FeatureEnabled(cond)"), "1");
  main.Selected = false;
  EXPECT_EQ(Eval("FeatureEnabled(main)"), "0");
}

// A condition met in the middle of an evaluation (a feature's, a variable's while its reference
// is expanded) is evaluated on its own; the outer expression reads on where it was.
TEST_F(KxEvaluatorConditionTest, ConditionsInsideAnEvaluationLeaveItIntact) {
  db_.Features->Items(0)->Selected = true;
  db_.Features->Items(2)->Selected = true;
  EXPECT_EQ(Eval("FeatureEnabled(cond) & FeatureEnabled(main) & \"|\" & 1 * 2"), "01|2");
  EXPECT_EQ(Eval("\"%Mode%\" & \":\" & %N%"), "basic:5");
  SetVariable(&db_, "N", "4");
  EXPECT_EQ(Eval("\"%Mode%\" & \":\" & %N%"), "full:4");
  EXPECT_TRUE(evaluator_.CalcBool("FeatureEnabled(cond) and \"%Mode%\" = full"));
}

// ---------------------------------------------------------------------------------------------
// Functions of plug-ins

// Reads the call block as a plug-in does and answers with a text it allocated, or with none.
class FakeChannel : public TkxPluginChannel {
 public:
  intptr_t Broadcast(int32_t, intptr_t, intptr_t, bool) override { return 0; }
  intptr_t BroadcastNamed(const std::string&, intptr_t, intptr_t, bool) override { return 0; }
  intptr_t SendToPlugin(const void* plugin, int32_t event, intptr_t first,
                        intptr_t second) override {
    ++calls;
    this->plugin = plugin;
    this->event = event;
    this->second = second;
    const char* block = reinterpret_cast<const char*>(first);
    // The header: a 32-bit ID, then two pointer-sized words, packed.
    std::memcpy(&id, block, 4);
    intptr_t name = 0, args = 0;
    std::memcpy(&name, block + 4, sizeof(intptr_t));
    std::memcpy(&args, block + 4 + sizeof(intptr_t), sizeof(intptr_t));
    const char* header = block + 4 + 2 * sizeof(intptr_t);
    nameFollowsHeader = reinterpret_cast<const char*>(name) == header;
    this->name = reinterpret_cast<const char*>(name);
    argsFollowName = reinterpret_cast<const char*>(args) == header + this->name.size() + 1;
    this->args.clear();
    const char* p = reinterpret_cast<const char*>(args);
    while (*p) {
      this->args.emplace_back(p);
      p += this->args.back().size() + 1;
    }
    // No arguments: two zero bytes, the second one right after the first.
    emptyListHasTwoZeros = !this->args.empty() || p[1] == 0;
    if (answer.empty()) return 0;
    char* text = static_cast<char*>(AllocMem(answer.size() + 1));
    std::memcpy(text, answer.c_str(), answer.size() + 1);
    return reinterpret_cast<intptr_t>(text);
  }

  int calls = 0;
  const void* plugin = nullptr;
  int32_t event = 0;
  intptr_t second = -1;
  int32_t id = -1;
  std::string name;
  std::vector<std::string> args;
  bool nameFollowsHeader = false;
  bool argsFollowName = false;
  bool emptyListHasTwoZeros = false;
  std::string answer;
};

class KxEvaluatorPluginTest : public KxEvaluatorTest {
 protected:
  void SetUp() override { SetPluginChannel(&channel_); }
  void TearDown() override { SetPluginChannel(nullptr); }

  FakeChannel channel_;
  const int plugin_ = 0;
  const int other_ = 0;
};

TEST_F(KxEvaluatorPluginTest, RegistrationRefusesNamesInUse) {
  EXPECT_EQ(evaluator_.RegisterFunction(&plugin_, "Checksum", 2), 24);
  EXPECT_EQ(evaluator_.RegisterFunction(&plugin_, "Serial", 0), 25);
  EXPECT_EQ(evaluator_.RegisterFunction(&other_, "CHECKSUM", 1), 0);
  EXPECT_EQ(evaluator_.RegisterFunction(&other_, "fileexists", 1), 0);
  EXPECT_EQ(evaluator_.RegisterFunction(nullptr, "Orphan", 1), 0);
  EXPECT_EQ(evaluator_.RegisterFunction(&plugin_, "", 1), 0);
  EXPECT_EQ(evaluator_.RegisterFunction(&plugin_, "Bad", -2), 0);
  EXPECT_EQ(evaluator_.RegisterFunction(&other_, "Sum", -1), 26);
  ASSERT_NE(evaluator_.FindFunction("checksum"), nullptr);
  EXPECT_EQ(evaluator_.FindFunction("checksum")->Owner, &plugin_);
  EXPECT_EQ(evaluator_.FindFunction("checksum")->ArgCount, 2);
  EXPECT_EQ(evaluator_.FindFunction("Orphan"), nullptr);
  // The built-in function keeps its meaning.
  EXPECT_EQ(Eval("FileExists(\"Z:\\no such file\")"), "0");
  EXPECT_EQ(channel_.calls, 0);
}

TEST_F(KxEvaluatorPluginTest, CallBlockCarriesIdNameAndArguments) {
  ASSERT_EQ(evaluator_.RegisterFunction(&plugin_, "Checksum", 2), 24);
  channel_.answer = "sum";
  EXPECT_EQ(Eval("Checksum(\"%N% + 1\", 'a b') & x"), "sumx");
  EXPECT_EQ(channel_.calls, 1);
  EXPECT_EQ(channel_.plugin, &plugin_);
  EXPECT_EQ(channel_.event, EV_CALCFUNCTION);
  EXPECT_EQ(channel_.second, 0);
  EXPECT_EQ(channel_.id, 24);
  EXPECT_EQ(channel_.name, "Checksum");
  EXPECT_TRUE(channel_.nameFollowsHeader);
  EXPECT_TRUE(channel_.argsFollowName);
  EXPECT_EQ(channel_.args, (std::vector<std::string>{"5 + 1", "a b"}));
}

TEST_F(KxEvaluatorPluginTest, EmptyArgumentsAndNoArguments) {
  ASSERT_EQ(evaluator_.RegisterFunction(&plugin_, "Serial", 0), 24);
  ASSERT_EQ(evaluator_.RegisterFunction(&plugin_, "Join", -1), 25);
  channel_.answer = "%N%";  // a result is an operand, expanded like any other
  EXPECT_EQ(Eval("Serial"), "5");
  EXPECT_EQ(channel_.name, "Serial");
  EXPECT_TRUE(channel_.argsFollowName);
  EXPECT_TRUE(channel_.args.empty());
  EXPECT_TRUE(channel_.emptyListHasTwoZeros);

  channel_.answer = "";  // no answer at all
  EXPECT_EQ(Eval("Join(1, 2, 3) & x"), "x");
  EXPECT_EQ(channel_.id, 25);
  EXPECT_EQ(channel_.args, (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_EQ(channel_.calls, 2);
}

TEST_F(KxEvaluatorPluginTest, PluginFunctionsServeConditionsToo) {
  TXMLTag tag;
  tag.Parse("<p><features><feature id=\"f\" condition=\"Serial = 7\"/></features></p>");
  db_.MergeFrom(tag);
  ASSERT_EQ(db_.Features->Count(), 1);
  db_.Features->Items(0)->Selected = true;
  const bool wasEnabled = ConditionsEnabled.load();
  auto oldHook = ConditionHook;
  ConditionsEnabled = true;
  ConditionHook = [this](const std::string& condition) { return evaluator_.CalcBool(condition); };

  ASSERT_EQ(evaluator_.RegisterFunction(&plugin_, "Serial", 0), 24);
  channel_.answer = "7";
  EXPECT_EQ(Eval("FeatureEnabled(f) & x"), "1x");
  EXPECT_EQ(channel_.id, 24);
  // Registered after the first condition was read: conditions know it all the same.
  ASSERT_EQ(evaluator_.RegisterFunction(&plugin_, "Later", 1), 25);
  db_.Features->Items(0)->Condition = "Later(%N%) = 7";
  EXPECT_EQ(Eval("FeatureEnabled(f) & x"), "1x");
  EXPECT_EQ(channel_.id, 25);
  EXPECT_EQ(channel_.args, std::vector<std::string>{"5"});

  ConditionHook = oldHook;
  ConditionsEnabled = wasEnabled;
}

TEST_F(KxEvaluatorPluginTest, WithoutPluginHostTheResultIsEmpty) {
  SetPluginChannel(nullptr);
  ASSERT_EQ(evaluator_.RegisterFunction(&plugin_, "Serial", 0), 24);
  EXPECT_EQ(Eval("Serial & x"), "x");
  EXPECT_EQ(channel_.calls, 0);
}

}  // namespace
