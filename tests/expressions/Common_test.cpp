#include "expressions/Common.h"

#include <climits>
#include <cmath>
#include <limits>
#include <string>
#include <type_traits>

#include <gtest/gtest.h>

namespace {

TEST(ReadIntTest, ReadsSignedAndUnsigned32BitValues) {
  struct Case {
    std::string text;
    int32_t defaultValue, expected;
  };
  const Case cases[] = {{"42", 0, 42},
                        {"  42", 0, 42},
                        {"+7", 0, 7},
                        {"-2147483648", 0, INT_MIN},
                        {"2147483647", 0, INT_MAX},
                        {"$FFFFFFFF", 0, -1},
                        {"-$10", 0, -16},
                        // Past the signed range, unsigned decimals give their 32-bit pattern.
                        {"2147483648", 0, INT_MIN},
                        {"4294967295", 0, -1},
                        {"+4294967295", 0, -1},
                        {" 4294967294", 0, -2},
                        // Anything beyond 32 bits, or unreadable, gives the default.
                        {"4294967296", 5, 5},
                        {"42949672950", 5, 5},
                        {"-2147483649", 5, 5},
                        {"$1FFFFFFFF", 5, 5},
                        {"$FFFFFFF00", 5, 5},
                        {"12x", 7, 7},
                        {"42 ", 5, 5},
                        {"", 5, 5},
                        {"- 1", 5, 5},
                        {"0x10", 5, 5},
                        {"1e3", 5, 5}};
  for (const Case& c : cases) {
    EXPECT_EQ(ReadInt(c.text, c.defaultValue), c.expected) << "[" << c.text << "]";
  }
}

TEST(UIntToTextTest, WritesTheUnsignedValueAndReadsBack) {
  const uint32_t values[] = {0, 1, 2147483647u, 2147483648u, 4294967295u};
  for (uint32_t value : values) {
    std::string text = UIntToText(value);
    EXPECT_EQ(text, std::to_string(static_cast<unsigned long long>(value)));
    EXPECT_EQ(static_cast<uint32_t>(ReadInt(text, 0)), value) << text;
  }
}

TEST(ReadNumberTest, ReadsDecimalNumbersOnly) {
  constexpr double kDefault = -99;
  struct Case {
    std::string text;
    double expected;
  };
  const Case cases[] = {{"1.5", 1.5},        {"-2.5e3", -2500},   {"1E-2", 0.01},
                        {" 3", 3},           {".5", 0.5},         {"5.", 5},
                        {"+4", 4},           {"7e+1", 70},        {"3 ", kDefault},
                        {"1,5", kDefault},   {".", kDefault},     {"e5", kDefault},
                        {"1e", kDefault},    {"1e+", kDefault},   {"inf", kDefault},
                        {"nan", kDefault},   {"1e999", kDefault}, {"", kDefault},
                        {"0x1p3", kDefault}, {"--1", kDefault},   {"1.2.3", kDefault}};
  for (const Case& c : cases) {
    EXPECT_DOUBLE_EQ(ReadNumber(c.text, kDefault), c.expected) << "[" << c.text << "]";
  }
}

TEST(SignTest, GivesTheSignOfAnyDouble) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  struct Case {
    double x;
    int expected;
  };
  const Case cases[] = {{2.5, 1},  {1e-300, 1}, {-0.1, -1},  {0.0, 0},
                        {-0.0, 0}, {kInf, 1},   {-kInf, -1}, {std::nan(""), 0}};
  for (const Case& c : cases) EXPECT_EQ(Sign(c.x), c.expected) << c.x;
}

TEST(ChooseTest, PicksByCondition) {
  EXPECT_EQ(Choose(true, 1, 2), 1);
  EXPECT_EQ(Choose(false, 1, 2), 2);
  EXPECT_DOUBLE_EQ(Choose(false, 1.5, 2.5), 2.5);
  EXPECT_EQ(Choose(true, "yes", "no"), "yes");
  EXPECT_EQ(Choose(false, std::string("yes"), "no"), "no");
  static_assert(std::is_same_v<decltype(Choose(true, "a", "bc")), std::string>);
}

}  // namespace
