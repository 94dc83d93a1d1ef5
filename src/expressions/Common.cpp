#include "expressions/Common.h"

#include <charconv>
#include <optional>

#include "support/zrStrUtils.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

size_t SkipDigits(const std::string& text, size_t pos) {
  while (pos < text.size() && IsDigit(text[pos])) ++pos;
  return pos;
}

size_t SkipSign(const std::string& text, size_t pos) {
  return pos < text.size() && (text[pos] == '+' || text[pos] == '-') ? pos + 1 : pos;
}

// Checks the grammar of a decimal number from pos to the end of text. std::from_chars alone
// would also take "inf", "nan" and other forms the setting files never mean.
bool IsDecimalNumber(const std::string& text, size_t pos) {
  pos = SkipSign(text, pos);
  size_t intEnd = SkipDigits(text, pos);
  size_t mantissaDigits = intEnd - pos;
  pos = intEnd;
  if (pos < text.size() && text[pos] == '.') {
    size_t fracEnd = SkipDigits(text, pos + 1);
    mantissaDigits += fracEnd - (pos + 1);
    pos = fracEnd;
  }
  if (mantissaDigits == 0) return false;
  if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
    size_t expStart = SkipSign(text, pos + 1);
    pos = SkipDigits(text, expStart);
    if (pos == expStart) return false;
  }
  return pos == text.size();
}

}  // namespace

std::string UIntToText(uint32_t value) { return std::to_string(value); }

double ReadNumber(const std::string& text, double defaultValue) {
  size_t pos = text.find_first_not_of(' ');
  if (pos == std::string::npos || !IsDecimalNumber(text, pos)) return defaultValue;
  // from_chars takes "-" but not "+".
  if (text[pos] == '+') ++pos;
  double value = 0;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data() + pos, end, value, std::chars_format::general);
  if (ec != std::errc() || ptr != end) return defaultValue;
  return value;
}

int Sign(double x) {
  if (x > 0) return 1;
  if (x < 0) return -1;
  return 0;
}
