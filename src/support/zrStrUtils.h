// zrStrUtils: the text helpers shared by every subsystem (parsers, the INI engine, the expression
// evaluator, file installation, the command-line driver).
//
// Texts are byte strings of the ANSI code page; an empty text is valid everywhere. Positions are
// 1-based and 0 means "not found". Case-insensitive comparisons go through a fixed upper-case table
// (the Windows-1251 mapping) so that results never depend on the machine's locale. Nothing here
// keeps state apart from constant tables, so every function may be called from any thread;
// the command-line wrappers read os::CommandLine() on each call.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A set of byte values, used for delimiters and switch characters. Built from the bytes of a text:
// CharSet(" ,") holds the blank and the comma.
class CharSet {
 public:
  constexpr CharSet() = default;
  constexpr explicit CharSet(std::string_view members) {
    for (char c : members) Add(static_cast<unsigned char>(c));
  }

  constexpr CharSet& Add(unsigned char c) {
    bits_[c >> 6] |= uint64_t{1} << (c & 63);
    return *this;
  }
  constexpr bool Contains(unsigned char c) const { return (bits_[c >> 6] >> (c & 63)) & 1; }

 private:
  std::array<uint64_t, 4> bits_{};
};

// The bytes that introduce a command-line switch.
inline constexpr CharSet kSwitchChars("-/");

// ---------------------------------------------------------------------------------------------
// Case

// Lower-to-upper mapping of the Windows-1251 code page: "a"-"z", 0xE0-0xFF and the fifteen
// Cyrillic lower-case letters of 0x80-0xBF map to their capitals, every other byte to itself.
extern const std::array<unsigned char, 256> kUpperCaseTable;

inline unsigned char UpperChar(unsigned char c) { return kUpperCaseTable[c]; }

// Text with every byte mapped through kUpperCaseTable.
std::string UpperCaseText(const std::string& text);
// Sorts list by UpperCaseText, as paths and registry keys compare on Windows.
void SortIgnoringCase(std::vector<std::string>& list);

// Whether a and b are equal with every byte mapped through kUpperCaseTable; no copy is made.
bool SameText(std::string_view a, std::string_view b);
// Whether text begins with prefix, as SameText compares; an empty prefix begins every text.
bool StartsText(std::string_view text, std::string_view prefix);

// ---------------------------------------------------------------------------------------------
// Editing

// Every occurrence of oldText, left to right, replaced by newText; the replacement is not searched
// again. Case-sensitive. An empty oldText leaves text unchanged.
std::string ReplaceAll(const std::string& text, const std::string& oldText,
                       const std::string& newText);

std::string DeleteChar(const std::string& text, char ch);
std::string DeleteBlanks(const std::string& text);  // DeleteChar(text, ' ')

// Text without its leading and trailing blanks and control bytes (values 0 to 32).
std::string Trim(const std::string& text);

// Text preceded by as many ch as make it width long; unchanged when already that long.
std::string PadLeft(char ch, const std::string& text, int width);

// The part before the first ch, or the whole text when there is none.
std::string TextBefore(const std::string& text, char ch);
// The part after the first ch, or "" when there is none.
std::string TextAfter(const std::string& text, char ch);
std::string NameOf(const std::string& line);   // TextBefore(line, '=')
std::string ValueOf(const std::string& line);  // TextAfter(line, '=')

// ---------------------------------------------------------------------------------------------
// Searching

// Position of the first occurrence of sub in text beginning at or after start, comparing bytes
// through kUpperCaseTable. A start below 1 counts as 1. 0 when sub or text is empty or nothing is
// found.
int FindFrom(const std::string& sub, const std::string& text, int start);

// Position of the n-th occurrence (n >= 1) of sub in text; occurrences may overlap. Case-sensitive.
// 0 when there are fewer, when sub is empty or when n < 1.
int FindNth(const std::string& sub, const std::string& text, int n);

// Position of the first occurrence of sub in text where "?" in sub matches any byte; otherwise
// case-sensitive. 0 when sub is empty or nothing is found.
int PosWild(const std::string& sub, const std::string& text);

// True if the whole text matches the whole pattern: "?" is any one byte, "*" any run of bytes.
// With ignoreCase both go through kUpperCaseTable first, which keeps the result independent of
// the locale.
bool MatchWild(const std::string& text, const std::string& pattern, bool ignoreCase);

// True if text contains "*" or "?".
bool HasWildcards(const std::string& text);

// ---------------------------------------------------------------------------------------------
// Words (maximal runs of bytes not in delims; empty runs do not count) and lists

int CountWords(const std::string& text, const CharSet& delims);
// Position of the n-th word (n >= 1), 0 when there is none.
int WordStart(int n, const std::string& text, const CharSet& delims);
// The n-th word (n >= 1), "" when there is none.
std::string GetWord(int n, const std::string& text, const CharSet& delims);

// True if some word of list equals word: byte for byte when caseSensitive, otherwise through
// kUpperCaseTable.
bool WordInList(const std::string& word, const std::string& list, const CharSet& delims,
                bool caseSensitive);

// When text begins with quote: the text from there to the next lone quote (or to the end when the
// quote is never closed), each doubled quote inside read as one. Otherwise text unchanged.
std::string Dequote(const std::string& text, char quote);

// The n-th field (n >= 1) of a list whose fields are separated by single bytes of delims, so
// empty fields count. A double or single quote opens a part that the same byte closes, and
// delimiters inside it do not separate. The field comes back through Dequote(field, '\'').
// "" when n is out of range.
std::string ListField(int n, const std::string& text, const CharSet& delims);

// The part of text before its last backslash outside a quoted part, "" when there is none.
// Quotes are paired from the end of the text: a double or single quote opens a part that the same
// byte closes.
std::string BeforeLastUnquotedBackslash(const std::string& text);

// ---------------------------------------------------------------------------------------------
// Numbers

// Text as a signed 32-bit integer: leading blanks, an optional "+" or "-", then decimal digits,
// or "$" and hexadecimal digits. Trailing bytes of any kind (blanks included) make it unreadable.
// Without a sign, hexadecimal values up to $FFFFFFFF are accepted as their 32-bit pattern; with
// "-" the magnitude may reach $80000000. nullopt when the text cannot be read or overflows.
std::optional<int32_t> TextToInt(const std::string& text);

// The whole of text as a double in C notation: digits with an optional point and exponent, or
// "inf"/"nan", optionally after "-"; no "+", blanks or hexadecimal. nullopt when something is
// left over or the value lies beyond the range (an overflow, or a non-zero value that reads as
// zero). Leaves the floating-point tables of the C++ library out of every program.
std::optional<double> TextToDouble(const std::string& text);

// The shortest text that TextToDouble reads back as value: fixed or scientific ("1e+20",
// "1e-04"), whichever is shorter, fixed on a tie; "inf", "nan" and "-0" as they are.
std::string DoubleToText(double value);

// Text read as hexadecimal ("$" is put in front unless text already holds one), by TextToInt.
// 0 when it cannot be read.
int32_t HexToInt(const std::string& text);

// Text read as a signed 32-bit integer (see TextToInt in support/zrStrUtils.h: leading blanks,
// optional sign, decimal digits or "$" and hexadecimal digits, nothing after them). Unsigned
// decimal values from 2147483648 to 4294967295 are accepted too, as their 32-bit pattern, so
// "4294967295" reads as -1. defaultValue when the text cannot be read or is out of range.
int32_t ReadInt(const std::string& text, int32_t defaultValue);

// The digits of value in base (2..36), most significant first, "0"-"9" then "A"-"Z", left-padded
// with "0" to width. Value 0 gives "0" (padded). A negative value or a base outside 2..36 gives "".
std::string IntToBase(int64_t value, int width, int base);

// ---------------------------------------------------------------------------------------------
// Command line
//
// Parameters are read one after the other, as Windows programs traditionally do: before a
// parameter, bytes 1-32 and pairs of double quotes are skipped; a parameter runs to the next byte
// of value 32 or less, and a double quote inside it opens a part, running to the next double quote,
// in which blanks are kept (the quotes themselves are dropped). A NUL byte ends the line. There is
// no limit on the length of a parameter.
//
// A switch is a parameter after the program that starts with "-" or "/" and is longer than one
// byte; its name is the rest after that byte, compared without regard to case. The index of a
// parameter is its number after the program: 1 is the first parameter after the program.

// Program is the first parameter of line; parameters are the others joined with single blanks,
// each one that contains a byte of value 1-32 wrapped in double quotes.
void SplitCommandLine(const std::string& line, std::string& program, std::string& parameters);

// Every parameter of line, the program first; empty for a blank line.
std::vector<std::string> CommandLineParams(const std::string& line);

// True if some switch of line is called name.
bool SwitchPresentIn(const std::string& line, const std::string& name);

// True if the name of some switch of line matches pattern (MatchWild, case ignored). index is the
// index of the first such parameter, 0 when there is none.
bool SwitchMatchIn(const std::string& line, const std::string& pattern, int& index);

// The same over the process's command line (os::CommandLine()).
int ParamCount();             // parameters after the program
std::string ParamStr(int n);  // n = 0 is the program; "" when out of range
bool SwitchPresent(const std::string& name);
bool SwitchMatch(const std::string& pattern, int& index);
