// Common: the number conversions and small arithmetic helpers of the expression evaluator, also
// used by the INI engine, the database binding and the installer functions wherever a setting is
// read as a number.
//
// Conversions never depend on the machine's locale: "." is always the decimal point. All functions
// are pure and may be called from any thread.
#pragma once

#include <cstdint>
#include <string>

#include "support/zrStrUtils.h"  // ReadInt, shared with the support library

// The unsigned decimal text of a 32-bit value: UIntToText(ReadInt("4294967295", 0)) is
// "4294967295".
std::string UIntToText(uint32_t value);

// Text read as a decimal floating-point number: leading blanks, an optional sign, digits with an
// optional "." (at least one digit in all), and an optional exponent ("e" or "E", optional sign,
// digits). Nothing may follow. defaultValue when the text cannot be read or its value is beyond
// what a double holds (too large, or so small it would read as zero: "1e-400"); infinities and NaN
// are never read.
double ReadNumber(const std::string& text, double defaultValue);

// 1, 0 or -1 for a positive, zero or negative x; 0 for NaN.
int Sign(double x);

// a when cond is true, else b. Both are computed by the caller. Arguments of different types do
// not compile, except texts, which meet as std::string.
template <typename T>
constexpr T Choose(bool cond, const T& a, const T& b) {
  return cond ? a : b;
}

inline std::string Choose(bool cond, const std::string& a, const std::string& b) {
  return cond ? a : b;
}
