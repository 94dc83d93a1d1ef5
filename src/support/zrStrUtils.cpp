#include "support/zrStrUtils.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <utility>

#include "os/os.h"

namespace {

constexpr std::array<unsigned char, 256> MakeUpperCaseTable() {
  std::array<unsigned char, 256> table{};
  for (int c = 0; c < 256; ++c) table[c] = static_cast<unsigned char>(c);
  for (int c = 'a'; c <= 'z'; ++c) table[c] = static_cast<unsigned char>(c - 'a' + 'A');
  for (int c = 0xE0; c <= 0xFF; ++c) table[c] = static_cast<unsigned char>(c - 0x20);
  // The Cyrillic letters outside the two contiguous alphabets pair up irregularly.
  constexpr std::pair<unsigned char, unsigned char> kIrregular[] = {
      {0x83, 0x81}, {0x90, 0x80}, {0x9A, 0x8A}, {0x9C, 0x8C}, {0x9D, 0x8D},
      {0x9E, 0x8E}, {0x9F, 0x8F}, {0xA2, 0xA1}, {0xB3, 0xB2}, {0xB4, 0xA5},
      {0xB8, 0xA8}, {0xBA, 0xAA}, {0xBC, 0xA3}, {0xBE, 0xBD}, {0xBF, 0xAF},
  };
  for (auto [lower, upper] : kIrregular) table[lower] = upper;
  return table;
}

unsigned char Byte(char c) { return static_cast<unsigned char>(c); }

int Size(const std::string& text) { return static_cast<int>(text.size()); }

bool SameUpper(char a, char b) { return UpperChar(Byte(a)) == UpperChar(Byte(b)); }

// True if sub matches text at the 0-based offset, "?" in sub matching any byte.
bool MatchesWildAt(const std::string& sub, const std::string& text, size_t offset) {
  if (offset + sub.size() > text.size()) return false;
  for (size_t i = 0; i < sub.size(); ++i) {
    if (sub[i] != '?' && sub[i] != text[offset + i]) return false;
  }
  return true;
}

// 0-based offset of the first wildcard match of sub in text at or after from, npos if none.
size_t FindWild(const std::string& sub, const std::string& text, size_t from) {
  for (size_t offset = from; offset + sub.size() <= text.size(); ++offset) {
    if (MatchesWildAt(sub, text, offset)) return offset;
  }
  return std::string::npos;
}

std::string CollapseStars(const std::string& pattern) {
  std::string result;
  for (char c : pattern) {
    if (c == '*' && !result.empty() && result.back() == '*') continue;
    result += c;
  }
  return result;
}

std::vector<std::string> SplitAtStars(const std::string& pattern) {
  std::vector<std::string> segments(1);
  for (char c : pattern) {
    if (c == '*') {
      segments.emplace_back();
    } else {
      segments.back() += c;
    }
  }
  return segments;
}

// Wildcard match of texts already upper-cased and with star runs collapsed. Matching every middle
// segment at its leftmost place leaves the most room for the rest, so no backtracking is needed.
bool MatchSegments(const std::string& text, const std::string& pattern) {
  std::vector<std::string> segments = SplitAtStars(pattern);
  if (segments.size() == 1) {
    return text.size() == pattern.size() && MatchesWildAt(pattern, text, 0);
  }
  if (!MatchesWildAt(segments.front(), text, 0)) return false;
  size_t end = segments.front().size();
  for (size_t i = 1; i + 1 < segments.size(); ++i) {
    size_t found = FindWild(segments[i], text, end);
    if (found == std::string::npos) return false;
    end = found + segments[i].size();
  }
  const std::string& last = segments.back();
  if (end + last.size() > text.size()) return false;
  return MatchesWildAt(last, text, text.size() - last.size());
}

// Calls visit(start, length) for each maximal run of bytes not in delims (0-based start) until it
// returns false.
template <typename Visit>
void ForEachWord(const std::string& text, const CharSet& delims, Visit visit) {
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && delims.Contains(Byte(text[i]))) ++i;
    if (i == text.size()) return;
    size_t start = i;
    while (i < text.size() && !delims.Contains(Byte(text[i]))) ++i;
    if (!visit(start, i - start)) return;
  }
}

// 0-based start and length of the n-th word, or nullopt.
std::optional<std::pair<size_t, size_t>> FindWord(int n, const std::string& text,
                                                  const CharSet& delims) {
  std::optional<std::pair<size_t, size_t>> found;
  if (n < 1) return found;
  int count = 0;
  ForEachWord(text, delims, [&](size_t start, size_t length) {
    if (++count < n) return true;
    found.emplace(start, length);
    return false;
  });
  return found;
}

bool IsQuote(char c) { return c == '"' || c == '\''; }

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Reads digits in base 10 or 16 from text[pos..] to the end; nullopt when there are none, a
// byte is not a digit or the value exceeds limit.
std::optional<uint64_t> ReadMagnitude(const std::string& text, size_t pos, int base,
                                      uint64_t limit) {
  if (pos >= text.size()) return std::nullopt;
  uint64_t value = 0;
  for (; pos < text.size(); ++pos) {
    int digit = HexDigitValue(text[pos]);
    if (digit < 0 || digit >= base) return std::nullopt;
    value = value * base + digit;
    if (value > limit) return std::nullopt;
  }
  return value;
}

bool IsParamSeparator(unsigned char c) { return c >= 1 && c <= ' '; }

// Reads the parameter starting at or after pos; pos is left after it. An empty result means the
// line has no more parameters, since an empty quoted pair is skipped rather than read.
std::string ReadParam(const std::string& line, size_t& pos) {
  for (;;) {
    while (pos < line.size() && IsParamSeparator(Byte(line[pos]))) ++pos;
    if (pos + 1 < line.size() && line[pos] == '"' && line[pos + 1] == '"') {
      pos += 2;
    } else {
      break;
    }
  }
  std::string param;
  while (pos < line.size() && Byte(line[pos]) > ' ') {
    if (line[pos] != '"') {
      param += line[pos++];
      continue;
    }
    ++pos;
    while (pos < line.size() && line[pos] != '"') param += line[pos++];
    if (pos < line.size() && line[pos] == '"') ++pos;
  }
  return param;
}

bool ContainsSeparator(const std::string& param) {
  return std::any_of(param.begin(), param.end(), [](char c) { return IsParamSeparator(Byte(c)); });
}

// The name of a switch parameter, nullopt when the parameter is no switch.
std::optional<std::string> SwitchName(const std::string& param) {
  if (param.size() < 2 || !kSwitchChars.Contains(Byte(param[0]))) return std::nullopt;
  return param.substr(1);
}

}  // namespace

constexpr std::array<unsigned char, 256> kUpperCaseTable = MakeUpperCaseTable();

std::string UpperCaseText(const std::string& text) {
  std::string result = text;
  for (char& c : result) c = static_cast<char>(UpperChar(Byte(c)));
  return result;
}

bool StartsText(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && SameText(text.substr(0, prefix.size()), prefix);
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (UpperChar(Byte(a[i])) != UpperChar(Byte(b[i]))) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// Editing

std::string ReplaceAll(const std::string& text, const std::string& oldText,
                       const std::string& newText) {
  // An empty oldText would match everywhere and never advance.
  if (oldText.empty()) return text;
  std::string result;
  size_t pos = 0;
  for (;;) {
    size_t found = text.find(oldText, pos);
    if (found == std::string::npos) break;
    result.append(text, pos, found - pos);
    result += newText;
    pos = found + oldText.size();
  }
  result.append(text, pos, std::string::npos);
  return result;
}

std::string DeleteChar(const std::string& text, char ch) {
  std::string result = text;
  result.erase(std::remove(result.begin(), result.end(), ch), result.end());
  return result;
}

std::string DeleteBlanks(const std::string& text) { return DeleteChar(text, ' '); }

std::string Trim(const std::string& text) {
  size_t first = 0;
  size_t last = text.size();
  while (first < last && static_cast<unsigned char>(text[first]) <= ' ') ++first;
  while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ') --last;
  return text.substr(first, last - first);
}

std::string PadLeft(char ch, const std::string& text, int width) {
  if (width <= Size(text)) return text;
  return std::string(width - text.size(), ch) + text;
}

std::string TextBefore(const std::string& text, char ch) { return text.substr(0, text.find(ch)); }

std::string TextAfter(const std::string& text, char ch) {
  size_t found = text.find(ch);
  if (found == std::string::npos) return "";
  return text.substr(found + 1);
}

void SortIgnoringCase(std::vector<std::string>& list) {
  std::sort(list.begin(), list.end(), [](const std::string& a, const std::string& b) {
    return UpperCaseText(a) < UpperCaseText(b);
  });
}

std::string NameOf(const std::string& line) { return TextBefore(line, '='); }

std::string ValueOf(const std::string& line) { return TextAfter(line, '='); }

// ---------------------------------------------------------------------------------------------
// Searching

int FindFrom(const std::string& sub, const std::string& text, int start) {
  if (sub.empty() || text.empty()) return 0;
  size_t from = start < 1 ? 0 : static_cast<size_t>(start - 1);
  auto it = std::search(text.begin() + std::min(from, text.size()), text.end(), sub.begin(),
                        sub.end(), SameUpper);
  if (it == text.end()) return 0;
  return static_cast<int>(it - text.begin()) + 1;
}

int FindNth(const std::string& sub, const std::string& text, int n) {
  if (sub.empty() || n < 1) return 0;
  size_t found = std::string::npos;
  size_t from = 0;
  for (int i = 0; i < n; ++i) {
    found = text.find(sub, from);
    if (found == std::string::npos) return 0;
    from = found + 1;
  }
  return static_cast<int>(found) + 1;
}

int PosWild(const std::string& sub, const std::string& text) {
  if (sub.empty()) return 0;
  size_t found = FindWild(sub, text, 0);
  return found == std::string::npos ? 0 : static_cast<int>(found) + 1;
}

bool MatchWild(const std::string& text, const std::string& pattern, bool ignoreCase) {
  std::string t = ignoreCase ? UpperCaseText(text) : text;
  std::string p = ignoreCase ? UpperCaseText(pattern) : pattern;
  if (t == p) return true;
  p = CollapseStars(p);
  if (p == "*") return true;
  if (t.empty() || p.empty()) return false;
  return MatchSegments(t, p);
}

bool HasWildcards(const std::string& text) { return text.find_first_of("*?") != std::string::npos; }

// ---------------------------------------------------------------------------------------------
// Words and lists

int CountWords(const std::string& text, const CharSet& delims) {
  int count = 0;
  ForEachWord(text, delims, [&](size_t, size_t) {
    ++count;
    return true;
  });
  return count;
}

int WordStart(int n, const std::string& text, const CharSet& delims) {
  auto word = FindWord(n, text, delims);
  return word ? static_cast<int>(word->first) + 1 : 0;
}

std::string GetWord(int n, const std::string& text, const CharSet& delims) {
  auto word = FindWord(n, text, delims);
  return word ? text.substr(word->first, word->second) : "";
}

bool WordInList(const std::string& word, const std::string& list, const CharSet& delims,
                bool caseSensitive) {
  std::string wanted = caseSensitive ? word : UpperCaseText(word);
  bool found = false;
  ForEachWord(list, delims, [&](size_t start, size_t length) {
    std::string candidate = list.substr(start, length);
    found = (caseSensitive ? candidate : UpperCaseText(candidate)) == wanted;
    return !found;
  });
  return found;
}

std::string Dequote(const std::string& text, char quote) {
  if (text.empty() || text[0] != quote) return text;
  std::string result;
  for (size_t i = 1; i < text.size(); ++i) {
    if (text[i] != quote) {
      result += text[i];
      continue;
    }
    if (i + 1 >= text.size() || text[i + 1] != quote) break;
    result += quote;
    ++i;
  }
  return result;
}

std::string ListField(int n, const std::string& text, const CharSet& delims) {
  if (n < 1) return "";
  int field = 1;
  std::string current;
  char openQuote = 0;
  for (char c : text) {
    if (openQuote != 0) {
      if (c == openQuote) openQuote = 0;
    } else if (IsQuote(c)) {
      openQuote = c;
    } else if (delims.Contains(Byte(c))) {
      if (field == n) break;
      ++field;
      current.clear();
      continue;
    }
    current += c;
  }
  if (field != n) return "";
  return Dequote(current, '\'');
}

std::string BeforeLastUnquotedBackslash(const std::string& text) {
  char openQuote = 0;
  for (size_t i = text.size(); i-- > 0;) {
    char c = text[i];
    if (openQuote != 0) {
      if (c == openQuote) openQuote = 0;
    } else if (IsQuote(c)) {
      openQuote = c;
    } else if (c == '\\') {
      return text.substr(0, i);
    }
  }
  return "";
}

// ---------------------------------------------------------------------------------------------
// Numbers

std::optional<double> TextToDouble(const std::string& text) {
  if (text.empty() || text[0] == '+' || text.find_first_of(" \t\r\nxX") != std::string::npos) {
    return std::nullopt;
  }
  // The engine never sets a C locale, so the point is ".".
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || end == text.c_str()) return std::nullopt;
  if (errno == ERANGE && (std::isinf(value) || value == 0)) return std::nullopt;
  return value;
}

namespace {

// "d.ddde+XX" with the fewest digits that still read back as value.
std::string ShortestScientific(double value) {
  char buffer[40];
  for (int digits = 1; digits <= 17; ++digits) {
    std::snprintf(buffer, sizeof buffer, "%.*e", digits - 1, value);
    if (std::strtod(buffer, nullptr) == value) break;
  }
  return buffer;
}

}  // namespace

std::string DoubleToText(double value) {
  if (std::isnan(value)) return std::signbit(value) ? "-nan" : "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  if (value == 0) return std::signbit(value) ? "-0" : "0";
  const std::string scientific = ShortestScientific(std::fabs(value));
  const size_t e = scientific.find('e');
  std::string digits = scientific.substr(0, 1) + (e > 1 ? scientific.substr(2, e - 2) : "");
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  const int exponent = std::atoi(scientific.c_str() + e + 1);
  const int count = static_cast<int>(digits.size());

  std::string fixed;
  if (exponent < 0) {
    fixed = "0." + std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
  } else if (count <= exponent + 1) {
    fixed = digits + std::string(static_cast<size_t>(exponent + 1 - count), '0');
  } else {
    fixed = digits.substr(0, static_cast<size_t>(exponent) + 1) + "." +
            digits.substr(static_cast<size_t>(exponent) + 1);
  }
  char power[16];
  std::snprintf(power, sizeof power, "e%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
  const std::string shortest =
      digits.substr(0, 1) + (count > 1 ? "." + digits.substr(1) : "") + power;
  const std::string& chosen = shortest.size() < fixed.size() ? shortest : fixed;
  return value < 0 ? "-" + chosen : chosen;
}

std::optional<int32_t> TextToInt(const std::string& text) {
  size_t pos = text.find_first_not_of(' ');
  if (pos == std::string::npos) return std::nullopt;
  bool negative = text[pos] == '-';
  if (text[pos] == '-' || text[pos] == '+') ++pos;
  bool hex = pos < text.size() && text[pos] == '$';
  if (hex) ++pos;
  // A negative magnitude reaches one further than a positive one; unsigned hexadecimal covers
  // the whole 32-bit pattern, so "$FFFFFFFF" is -1.
  uint64_t limit = negative ? uint64_t{1} << 31
                   : hex    ? uint64_t{std::numeric_limits<uint32_t>::max()}
                            : uint64_t{std::numeric_limits<int32_t>::max()};
  auto magnitude = ReadMagnitude(text, pos, hex ? 16 : 10, limit);
  if (!magnitude) return std::nullopt;
  uint32_t bits = static_cast<uint32_t>(*magnitude);
  if (negative) bits = ~bits + 1;
  return static_cast<int32_t>(bits);
}

int32_t HexToInt(const std::string& text) {
  std::string withPrefix = text.find('$') == std::string::npos ? "$" + text : text;
  return TextToInt(withPrefix).value_or(0);
}

std::string IntToBase(int64_t value, int width, int base) {
  if (value < 0 || base < 2 || base > 36) return "";
  static constexpr char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  std::string digits;
  do {
    digits += kDigits[value % base];
    value /= base;
  } while (value > 0);
  std::reverse(digits.begin(), digits.end());
  return PadLeft('0', digits, width);
}

// ---------------------------------------------------------------------------------------------
// Command line

std::vector<std::string> CommandLineParams(const std::string& line) {
  // A NUL ends the line as it would in the system's own buffer.
  std::string text = line.substr(0, line.find('\0'));
  std::vector<std::string> params;
  size_t pos = 0;
  for (;;) {
    std::string param = ReadParam(text, pos);
    if (param.empty()) break;
    params.push_back(std::move(param));
  }
  return params;
}

void SplitCommandLine(const std::string& line, std::string& program, std::string& parameters) {
  std::vector<std::string> params = CommandLineParams(line);
  program = params.empty() ? "" : params[0];
  parameters.clear();
  for (size_t i = 1; i < params.size(); ++i) {
    if (i > 1) parameters += ' ';
    // Quoting what holds a separator lets the joined text be split into the same parameters.
    if (ContainsSeparator(params[i])) {
      parameters += '"' + params[i] + '"';
    } else {
      parameters += params[i];
    }
  }
}

bool SwitchPresentIn(const std::string& line, const std::string& name) {
  std::vector<std::string> params = CommandLineParams(line);
  std::string wanted = UpperCaseText(name);
  for (size_t i = 1; i < params.size(); ++i) {
    auto switchName = SwitchName(params[i]);
    if (switchName && UpperCaseText(*switchName) == wanted) return true;
  }
  return false;
}

bool SwitchMatchIn(const std::string& line, const std::string& pattern, int& index) {
  std::vector<std::string> params = CommandLineParams(line);
  for (size_t i = 1; i < params.size(); ++i) {
    auto switchName = SwitchName(params[i]);
    if (switchName && MatchWild(*switchName, pattern, true)) {
      index = static_cast<int>(i);
      return true;
    }
  }
  index = 0;
  return false;
}

int ParamCount() {
  size_t count = CommandLineParams(os::CommandLine()).size();
  return count == 0 ? 0 : static_cast<int>(count) - 1;
}

std::string ParamStr(int n) {
  std::vector<std::string> params = CommandLineParams(os::CommandLine());
  if (n < 0 || n >= static_cast<int>(params.size())) return "";
  return params[n];
}

bool SwitchPresent(const std::string& name) { return SwitchPresentIn(os::CommandLine(), name); }

bool SwitchMatch(const std::string& pattern, int& index) {
  return SwitchMatchIn(os::CommandLine(), pattern, index);
}

namespace {

// Values past the signed range that settings and registry DWORDs carry as unsigned decimals.
// Only plain unsigned decimals qualify: a sign or "$" makes "too big" a genuine error.
std::optional<uint32_t> ReadUnsignedDecimal(const std::string& text) {
  size_t pos = text.find_first_not_of(' ');
  if (pos == std::string::npos) return std::nullopt;
  if (text[pos] == '+') ++pos;
  uint32_t value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data() + pos, end, value);
  if (ec != std::errc() || ptr != end) return std::nullopt;
  return value;
}

}  // namespace

int32_t ReadInt(const std::string& text, int32_t defaultValue) {
  if (auto value = TextToInt(text)) return *value;
  if (auto value = ReadUnsignedDecimal(text)) return static_cast<int32_t>(*value);
  return defaultValue;
}
