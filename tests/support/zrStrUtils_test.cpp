#include "support/zrStrUtils.h"

#include <climits>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using Strings = std::vector<std::string>;

TEST(UpperCaseTableTest, MapsLettersOfBothAlphabetsAndNothingElse) {
  struct Case {
    unsigned char in, out;
  };
  const Case cases[] = {{'a', 'A'},   {'z', 'Z'},   {'A', 'A'},   {'`', '`'},   {'{', '{'},
                        {0xE0, 0xC0}, {0xE9, 0xC9}, {0xFF, 0xDF}, {0xC0, 0xC0}, {0x83, 0x81},
                        {0x90, 0x80}, {0xB4, 0xA5}, {0xB8, 0xA8}, {0xBC, 0xA3}, {0xBE, 0xBD},
                        {0xBF, 0xAF}, {0xB5, 0xB5}, {0x80, 0x80}};
  for (const Case& c : cases) EXPECT_EQ(UpperChar(c.in), c.out) << "byte " << int{c.in};

  int changed = 0;
  for (int c = 0; c < 256; ++c) {
    unsigned char upper = UpperChar(static_cast<unsigned char>(c));
    if (upper != c) ++changed;
    EXPECT_EQ(UpperChar(upper), upper) << "capital of " << c << " is itself lower-case";
  }
  EXPECT_EQ(changed, 26 + 47);
}

TEST(CharSetTest, HoldsExactlyTheBytesItWasBuiltFrom) {
  const CharSet set(std::string_view("\0 ,\xFF", 4));
  for (int c = 0; c < 256; ++c) {
    bool expected = c == 0 || c == ' ' || c == ',' || c == 0xFF;
    EXPECT_EQ(set.Contains(static_cast<unsigned char>(c)), expected) << "byte " << c;
  }
}

TEST(EditingTest, ReplaceAll) {
  struct Case {
    std::string text, oldText, newText, expected;
  };
  const Case cases[] = {{"a||b||", "||", "\r\n", "a\r\nb\r\n"},
                        {"|||", "||", "x", "x|"},
                        {"aaa", "a", "aa", "aaaaaa"},  // replacements are not searched again
                        {"abc", "b", "", "ac"},
                        {"ABC", "b", "x", "ABC"},
                        {"abc", "", "x", "abc"},
                        {"", "a", "b", ""}};
  for (const Case& c : cases) {
    EXPECT_EQ(ReplaceAll(c.text, c.oldText, c.newText), c.expected) << c.text << " / " << c.oldText;
  }
}

TEST(EditingTest, DeleteCharAndPadLeft) {
  EXPECT_EQ(DeleteBlanks(" a b  c "), "abc");
  EXPECT_EQ(DeleteChar("\xE9x\xE9", '\xE9'), "x");
  EXPECT_EQ(DeleteChar("abc", 'x'), "abc");

  EXPECT_EQ(PadLeft('0', "7", 3), "007");
  EXPECT_EQ(PadLeft('0', "1234", 3), "1234");
  EXPECT_EQ(PadLeft(' ', "", 2), "  ");
  EXPECT_EQ(PadLeft('0', "12", -1), "12");
}

TEST(EditingTest, TrimRemovesBlanksAndControlBytesAtBothEnds) {
  EXPECT_EQ(Trim(" \t a b \r\n"), "a b");
  EXPECT_EQ(Trim("\xA0x\xA0"), "\xA0x\xA0");  // a no-break space is not a blank
  EXPECT_EQ(Trim("  "), "");
  EXPECT_EQ(Trim(""), "");
}

TEST(EditingTest, TextBeforeAndAfter) {
  struct Case {
    std::string line, name, value;
  };
  const Case cases[] = {
      {"a=b=c", "a", "b=c"}, {"abc", "abc", ""}, {"=x", "", "x"}, {"x=", "x", ""}, {"", "", ""}};
  for (const Case& c : cases) {
    EXPECT_EQ(NameOf(c.line), c.name) << c.line;
    EXPECT_EQ(ValueOf(c.line), c.value) << c.line;
  }
}

TEST(SearchTest, FindFromIgnoresCaseThroughTheTable) {
  struct Case {
    std::string sub, text;
    int start, expected;
  };
  const Case cases[] = {{"\xE9", "CAF\xC9", 1, 4}, {"b", "abcb", 3, 4}, {"B", "abcb", 0, 2},
                        {"b", "abcb", -5, 2},      {"b", "abcb", 4, 4}, {"b", "abcb", 5, 0},
                        {"", "abc", 1, 0},         {"a", "", 1, 0},     {"abcd", "abc", 1, 0},
                        {"\xB8", "x\xA8", 1, 2}};
  for (const Case& c : cases) {
    EXPECT_EQ(FindFrom(c.sub, c.text, c.start), c.expected) << c.sub << " in " << c.text;
  }
}

TEST(SearchTest, FindNthCountsOverlappingOccurrences) {
  struct Case {
    std::string sub, text;
    int n, expected;
  };
  const Case cases[] = {{",", "a,b,c", 2, 4}, {",", "a,b,c", 3, 0}, {"aa", "aaaa", 3, 3},
                        {"aa", "aaaa", 4, 0}, {"A", "aA", 1, 2},    {",", "a,b", 0, 0},
                        {"", "abc", 1, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(FindNth(c.sub, c.text, c.n), c.expected) << c.sub << " #" << c.n << " in " << c.text;
  }
}

TEST(SearchTest, PosWild) {
  struct Case {
    std::string sub, text;
    int expected;
  };
  const Case cases[] = {{"b?d", "abcd", 2},  {"??", "abc", 1},   {"c?", "abc", 0},
                        {"?", "", 0},        {"", "abc", 0},     {"B", "abc", 0},
                        {"\xE9", "\xC9", 0}, {"cd", "abcdcd", 3}};
  for (const Case& c : cases) EXPECT_EQ(PosWild(c.sub, c.text), c.expected) << c.sub;
}

TEST(SearchTest, MatchWild) {
  struct Case {
    std::string text, pattern;
    bool ignoreCase, expected;
  };
  const Case cases[] = {
      {"setup.EXE", "*.exe", true, true},
      {"setup.EXE", "*.exe", false, false},
      {"aba", "ab*ba", false, false},  // the last segment may not reuse matched bytes
      {"xaybzc", "*a*b*c", false, true},
      {"abcbc", "a*bc", false, true},
      {"abcbd", "a*bc", false, false},
      {"mississippi", "m*iss*ppi", false, true},
      {"abc", "a?c", false, true},
      {"ac", "a?c", false, false},
      {"abc", "abc*", false, true},
      {"abc", "a**c", false, true},
      {"ab", "*?*?*", false, true},
      {"a", "*?*?*", false, false},
      {"", "*", false, true},
      {"", "**", false, true},
      {"", "", false, true},
      {"", "?", false, false},
      {"a", "", false, false},
      {"a*c", "a*c", false, true},
      {"\xE9t\xE9", "\xC9*", true, true},
      {"\xE9t\xE9", "\xC9*", false, false}};
  for (const Case& c : cases) {
    EXPECT_EQ(MatchWild(c.text, c.pattern, c.ignoreCase), c.expected)
        << c.text << " ~ " << c.pattern << (c.ignoreCase ? " (ignoring case)" : "");
  }
  EXPECT_TRUE(HasWildcards("a*"));
  EXPECT_TRUE(HasWildcards("?"));
  EXPECT_FALSE(HasWildcards("abc"));
  EXPECT_FALSE(HasWildcards(""));
}

TEST(WordsTest, CountWordsSkipsEmptyRuns) {
  struct Case {
    std::string text, delims;
    int expected;
  };
  const Case cases[] = {{"", " ", 0},       {"   ", " ", 0}, {"a b", " ", 2},      {"1..2", ".", 2},
                        {" a  b ", " ", 2}, {"abc", "", 1},  {"a\xA0z", "\xA0", 2}};
  for (const Case& c : cases) {
    EXPECT_EQ(CountWords(c.text, CharSet(c.delims)), c.expected) << "[" << c.text << "]";
  }
}

TEST(WordsTest, WordStartAndGetWord) {
  struct Case {
    int n;
    std::string text, delims;
    int start;
    std::string word;
  };
  const Case cases[] = {{2, "1..2", ".", 4, "2"},     {1, "  ab cd", " ", 3, "ab"},
                        {2, "  ab cd", " ", 6, "cd"}, {3, "ab cd", " ", 0, ""},
                        {0, "ab", " ", 0, ""},        {2, "a,b c", " ,", 3, "b"},
                        {1, "", " ", 0, ""},          {2, "a\xFFz", "\xFF", 3, "z"}};
  for (const Case& c : cases) {
    const CharSet delims(c.delims);
    EXPECT_EQ(WordStart(c.n, c.text, delims), c.start) << c.n << " of [" << c.text << "]";
    EXPECT_EQ(GetWord(c.n, c.text, delims), c.word) << c.n << " of [" << c.text << "]";
  }
}

TEST(WordsTest, WordInList) {
  struct Case {
    std::string word, list;
    bool caseSensitive, expected;
  };
  const Case cases[] = {{"b", "a,b,c", true, true},      {"B", "a,b,c", true, false},
                        {"B", "a,b,c", false, true},     {"\xE9", "x,\xC9", false, true},
                        {"\xE9", "x,\xC9", true, false}, {"ab", "abc,b", true, false},
                        {"", "a,,b", false, false},      {"c", "a,b,c", true, true}};
  for (const Case& c : cases) {
    EXPECT_EQ(WordInList(c.word, c.list, CharSet(","), c.caseSensitive), c.expected)
        << c.word << " in " << c.list;
  }
}

TEST(ListsTest, Dequote) {
  struct Case {
    std::string text;
    char quote;
    std::string expected;
  };
  const Case cases[] = {{"'it''s' rest", '\'', "it's"},
                        {"abc", '\'', "abc"},
                        {"'abc", '\'', "abc"},
                        {"''", '\'', ""},
                        {"'a'''", '\'', "a'"},
                        {"\"x\"y", '"', "x"},
                        {"\"x\"", '\'', "\"x\""},
                        {"", '\'', ""},
                        {"'a'b'", '\'', "a"}};
  for (const Case& c : cases) EXPECT_EQ(Dequote(c.text, c.quote), c.expected) << c.text;
}

TEST(ListsTest, ListFieldKeepsQuotedDelimiters) {
  struct Case {
    int n;
    std::string text, expected;
  };
  const Case cases[] = {
      {1, "a,b,c", "a"},
      {2, "a,,c", ""},
      {3, "a,,c", "c"},
      {3, "a,b", ""},
      {0, "a", ""},
      {1, "", ""},
      {1, "'x,y',z", "x,y"},
      {2, "'x,y',z", "z"},
      {1, "\"x,y\",z", "\"x,y\""},  // only single quotes are taken off
      {2, "\"it's, ok\",z", "z"},   // a single quote inside double quotes is ordinary
      {1, "'say \"a, b\"',z", "say \"a, b\""},
      {1, "'it''s',b", "it's"},
      {2, "a;b,c", "b"}};
  for (const Case& c : cases) {
    EXPECT_EQ(ListField(c.n, c.text, CharSet(",;")), c.expected) << c.n << " of " << c.text;
  }
}

TEST(ListsTest, BeforeLastUnquotedBackslash) {
  struct Case {
    std::string text, expected;
  };
  const Case cases[] = {
      {R"(C:\a\b.exe)", R"(C:\a)"},
      {"noslash", ""},
      {R"(\)", ""},
      {R"(C:\dir\"a\b")", R"(C:\dir)"},
      {R"(C:\x\'a\b')", R"(C:\x)"},
      {R"(a\"b'c\")", "a"},  // the single quote inside the double-quoted part is ordinary
  };
  for (const Case& c : cases) EXPECT_EQ(BeforeLastUnquotedBackslash(c.text), c.expected) << c.text;
}

TEST(NumbersTest, TextToInt) {
  struct Case {
    std::string text;
    std::optional<int32_t> expected;
  };
  // Decimal forms are covered through ReadInt; these are the edges of the strict reading.
  const Case cases[] = {
      {"2147483648", std::nullopt}, {"$00000000010", 16},         {"$100000000", std::nullopt},
      {"-$80000000", INT_MIN},      {"-$80000001", std::nullopt}, {"1 2", std::nullopt},
      {"-", std::nullopt},          {"$", std::nullopt},          {"$G", std::nullopt}};
  for (const Case& c : cases) EXPECT_EQ(TextToInt(c.text), c.expected) << "[" << c.text << "]";
}

TEST(NumbersTest, HexToInt) {
  struct Case {
    std::string text;
    int32_t expected;
  };
  const Case cases[] = {{"FF", 255},      {"$ff", 255}, {"ffffffff", -1}, {"7FFFFFFF", INT_MAX},
                        {"100000000", 0}, {"", 0},      {"xyz", 0},       {"1$2", 0},
                        {" $10", 16},     {" 10", 0}};
  for (const Case& c : cases) EXPECT_EQ(HexToInt(c.text), c.expected) << "[" << c.text << "]";
}

TEST(NumbersTest, IntToBase) {
  struct Case {
    int64_t value;
    int width, base;
    std::string expected;
  };
  const Case cases[] = {
      {255, 0, 16, "FF"}, {255, 4, 16, "00FF"}, {0, 3, 10, "000"},
      {0, 0, 2, "0"},     {5, 0, 2, "101"},     {35, 1, 36, "Z"},
      {36, 0, 36, "10"},  {10, 1, 10, "10"},    {-1, 3, 10, ""},
      {5, 0, 1, ""},      {5, 0, 37, ""},       {INT64_MAX, 0, 16, "7FFFFFFFFFFFFFFF"}};
  for (const Case& c : cases) {
    EXPECT_EQ(IntToBase(c.value, c.width, c.base), c.expected) << c.value << " base " << c.base;
  }
}

TEST(CommandLineTest, SplitCommandLine) {
  struct Case {
    std::string line, program, parameters;
  };
  const Case cases[] = {
      {R"("C:\My Setup\setup.exe" /s "/dir=C:\A B")", R"(C:\My Setup\setup.exe)",
       R"(/s "/dir=C:\A B")"},
      {"", "", ""},
      {" \t ", "", ""},
      {"prog", "prog", ""},
      {"prog  a\tb ", "prog", "a b"},
      {R"("" prog "" x)", "prog", "x"},
      {R"(prog a"b c"d)", "prog", R"("ab cd")"},
      {R"(prog "unclosed arg)", "prog", R"("unclosed arg")"},
      {"prog \"a\tb\"", "prog", "\"a\tb\""},
      {"prog \xC0\xE9 x", "prog", "\xC0\xE9 x"},  // bytes above 127 are no separators
      {std::string("prog a\0b", 8), "prog", "a"}};
  for (const Case& c : cases) {
    std::string program = "stale", parameters = "stale";
    SplitCommandLine(c.line, program, parameters);
    EXPECT_EQ(program, c.program) << c.line;
    EXPECT_EQ(parameters, c.parameters) << c.line;
  }
}

TEST(CommandLineTest, JoinedParametersReadBackTheSame) {
  const std::string lines[] = {"p \"a b\" c \"d\te\" \"\" f",
                               R"(p x"y z" "/dir=C:\Program Files\A")"};
  for (const std::string& line : lines) {
    std::string program, parameters;
    SplitCommandLine(line, program, parameters);
    Strings original = CommandLineParams(line);
    Strings reread = CommandLineParams(program + " " + parameters);
    EXPECT_EQ(reread, original) << line;
  }
}

TEST(CommandLineTest, LongParametersAreReadWhole) {
  const std::string longParam(1000, 'x');
  EXPECT_EQ(CommandLineParams("p " + longParam + " \"" + longParam + " y\""),
            (Strings{"p", longParam, longParam + " y"}));
}

TEST(CommandLineTest, SwitchPresentIn) {
  struct Case {
    std::string line, name;
    bool expected;
  };
  const Case cases[] = {{"setup.exe -S", "s", true},
                        {"setup.exe /silent", "s", false},
                        {"setup.exe /silent", "SILENT", true},
                        {"setup.exe a /b", "b", true},
                        {"/s", "s", false},  // the program is not a parameter
                        {"setup.exe -", "", false},
                        {"setup.exe s", "s", false},
                        {R"(setup.exe "/dir=C:\A B")", R"(dir=c:\a b)", true},
                        {"setup.exe /\xE9", "\xC9", true}};
  for (const Case& c : cases) EXPECT_EQ(SwitchPresentIn(c.line, c.name), c.expected) << c.line;
}

TEST(CommandLineTest, SwitchMatchInGivesTheFirstMatchingIndex) {
  struct Case {
    std::string line, pattern;
    bool expected;
    int index;
  };
  const Case cases[] = {{R"(setup.exe x /dir=C:\A /DIR=D:)", "dir=*", true, 2},
                        {"setup.exe /LOG=x", "log=?", true, 1},
                        {"setup.exe /LOG=xy", "log=?", false, 0},
                        {"setup.exe /a", "b*", false, 0},
                        {"/dir=x", "dir=*", false, 0}};
  for (const Case& c : cases) {
    int index = 99;
    EXPECT_EQ(SwitchMatchIn(c.line, c.pattern, index), c.expected) << c.line;
    EXPECT_EQ(index, c.index) << c.line;
  }
}

TEST(CommandLineTest, ProcessParametersAreBounded) {
  EXPECT_FALSE(ParamStr(0).empty());
  EXPECT_GE(ParamCount(), 0);
  EXPECT_EQ(ParamStr(ParamCount() + 1), "");
  EXPECT_EQ(ParamStr(-1), "");
}

}  // namespace
