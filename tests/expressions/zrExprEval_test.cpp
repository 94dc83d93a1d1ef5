#include "expressions/zrExprEval.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "database/KXClasses.h"
#include "expressions/Common.h"
#include "expressions/Evaluator.h"

namespace {

struct TestDatabase {
  TkxMainDatabase database;
};

// The installer's evaluator with a few functions of the test's own (one with any number of
// arguments, one with two, one without an argument list); enough to drive every path of the
// parser. %Bad% is an operand the check refuses.
class TestEvaluator : private TestDatabase, public TkxEvaluator {
 public:
  TestEvaluator() : TkxEvaluator(database) {
    SetVariable(&database, "Empty", "");
    AddFunction("Sum", -1, nullptr);
    AddFunction("Pair", 2, nullptr);
    AddFunction("Zero", 0, nullptr);
  }

  std::vector<std::string> calls;  // functions in the order they ran

 protected:
  bool CheckOperand(std::string& operand) override {
    return operand != "%Bad%" && TkxEvaluator::CheckOperand(operand);
  }

  void CalcFunction(const TzrFunction& fn, const std::vector<std::string>* args,
                    std::string& result) override {
    calls.push_back(fn.Name);
    if (fn.Name == "Zero") {
      result = args ? "args!" : "z";
    } else if (fn.Name == "Pair") {
      result = "[" + (*args)[0] + "|" + (*args)[1] + "]";
    } else if (fn.Name == "Sum") {
      long double sum = 0;
      for (const auto& a : *args) sum += ReadExtendedNumber(a, 0);
      result = FormatNumber(sum);
    } else {
      TkxEvaluator::CalcFunction(fn, args, result);
    }
  }
};

struct Case {
  const char* expression;
  const char* expected;  // the result, or the error message when error is set
  bool error = false;
};

std::string EvaluateText(const std::string& expression) {
  TestEvaluator evaluator;
  evaluator.SetExpression(expression);
  std::string result;
  evaluator.Evaluate(result);
  return result;
}

void CheckCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expression);
    if (!c.error) {
      EXPECT_EQ(EvaluateText(c.expression), c.expected);
      continue;
    }
    try {
      EvaluateText(c.expression);
      ADD_FAILURE() << "no error";
    } catch (const TzrEvaluatorError& e) {
      EXPECT_EQ(std::string(e.what()),
                std::string("Syntax error.\r\nPosition ") + c.expected + ".");
    }
  }
}

TEST(EvaluatorTokensTest, QuotesAndBlanksFormOperands) {
  CheckCases({
      {"", ""},
      {"abc", "abc"},
      {"'it''s'", "it's"},
      {"\"x\" & \"y\"", "xy"},
      {"\"a'b\"", "ab"},
      {"ab\"c d\"e", "abc de"},
      {"\"say \"\"hi\"\"\"", "say \"hi\""},
      {"\"a'\"b\"", "a'b"},
      {"'a b' = \"a b\"", "1"},
      {"1+2", "3"},
      {"1 + 2", "3"},
      {"   7   ", "7"},
      {"not", "not"},
      {"3.50 & x", "3.50x"},
      {"1 = 1.0", "0"},
      {"'1' = 1", "1"},
      {"1 AND 1", "1"},
      {"1 Or 0", "1"},
      {"Length(\"abc\")", "3"},
      {"length('a b c') * 2", "10"},
      {"Sum(1, 2, 3.5)", "6.5"},
      {"Pair(a & b, (c))", "[ab|c]"},
      {"Pair(1,Pair(2,3))", "[1|[2|3]]"},
      {"Zero & Zero", "zz"},
      {"%Empty% = \"x\"", "0"},
      {"\"x\" = %Empty%", "x"},
      {"\"x\" <> %Empty%", "x"},
      {"x\0 + garbage", "x"},
  });
}

TEST(EvaluatorPriorityTest, TwoSlotsFoldAsTheLanguageDefines) {
  CheckCases({
      {"1 + 2 * 3", "7"},
      {"2 * 3 + 1", "7"},
      {"10 / 4", "2.5"},
      {"10 - 2 - 3", "5"},
      {"100 / 10 / 5", "2"},
      {"1 and 3 = 1 + 2", "0"},
      {"1 or 1 and 0", "1"},
      {"(1 and 3) = (1 + 2)", "0"},
      {"1 < 1.5", "1"},
      {"abc > 0", "0"},
      {"2 >= 2 and 3 <= 2", "0"},
      {"(1 + 2) * (3 + 4)", "21"},
      {"1 +", "1"},
      {"1 + 2 *", "3"},
      {"(1 + 2", "3"},
      {"1 + 2) * 5", "3"},
      {"Sum(1, 2", "2"},
      {"1 + 0.1 * 3", "1.3"},
      {"1 & 2 + 3", "15"},
  });
}

TEST(EvaluatorPrefixTest, PrefixBindsToTheNextOperandOnly) {
  CheckCases({
      {"-1 + 2", "1"},
      {"- - 1", "-1"},
      {"not -1", "-1"},
      {"+007", "7"},
      {"+abc", "0"},
      {"not 1", "0"},
      {"not 0 and 1", "1"},
      {"-(2 + 3) * 2", "-10"},
      {"not Length('a')", "0"},
      {"not Length(x) & 5", "05"},
      {"a < -1", "0"},
  });
}

TEST(EvaluatorErrorTest, SyntaxErrorsReportTheBytePosition) {
  CheckCases({
      {"not not 1", "8", true},     {"- not 1", "6", true},       {"a<-1", "4", true},
      {"1 ? 2", "4", true},         {"1 , 2", "3", true},         {")", "1", true},
      {"1 + )", "5", true},         {"Length()", "8", true},      {"Zero()", "5", true},
      {"\"\" = \"\"", "3", true},   {"Length(\"\")", "10", true}, {"Length", "7", true},
      {"Length 1", "8", true},      {"Pair(1)", "7", true},       {"Pair(1, 2, 3)", "13", true},
      {"1 +\r2", "4", true},        {"a\tb", "2", true},          {"1 . 2", "3", true},
      {"* 1", "4", true},           {"1 not 2", "8", true},       {"%Bad% & x", "6", true},
      {"(1 + (2 , 3))", "9", true},
  });
}

// Errors found when a ")" ends a level are reported at the ")" itself, not at the byte after it.
TEST(EvaluatorErrorTest, ClosingParenthesisErrorsPointAtIt) {
  CheckCases({
      {"Pair(1) & x", "7", true},
      {"Pair(Pair(1), 2)", "12", true},
      {"Pair(1, Pair(2, 3, 4)) & x", "21", true},
      {"Sum(1 not 2)", "12", true},
      {"(1 not 2) & x", "9", true},
  });
}

TEST(EvaluatorErrorTest, ErrorsOfTheHooksPassThroughWithoutPosition) {
  TestEvaluator evaluator;
  evaluator.SetExpression("1 / 0");
  std::string result;
  try {
    evaluator.Evaluate(result);
    FAIL() << "no error";
  } catch (const TzrEvaluatorError&) {
    FAIL() << "hook error turned into a syntax error";
  } catch (const KxError& e) {
    EXPECT_STREQ(e.what(), "Division by zero.");
  }
}

TEST(EvaluatorErrorTest, DeepNestingIsRefusedInsteadOfExhaustingTheStack) {
  EXPECT_EQ(EvaluateText(std::string(256, '(') + "5"), "5");
  const std::string deep = std::string(257, '(') + "5";
  try {
    EvaluateText(deep);
    FAIL() << "no error";
  } catch (const TzrEvaluatorError& e) {
    EXPECT_STREQ(e.what(), "Expression nested too deeply.\r\nPosition 257.");
  }
  EXPECT_THROW(EvaluateText(std::string(100000, '(')), TzrEvaluatorError);
}

TEST(ParserTest, BothOperandsAreComputedAndEvaluationsStartClean) {
  TestEvaluator evaluator;
  std::string result;
  evaluator.SetExpression("0 and Length(a) or Sum(1)");
  evaluator.Evaluate(result);
  EXPECT_EQ(result, "1");
  EXPECT_EQ(evaluator.calls, (std::vector<std::string>{"Length", "Sum"}));
  evaluator.SetExpression("2 *");
  evaluator.Evaluate(result);
  EXPECT_EQ(result, "2");
}

TEST(ParserTest, RegistriesMatchFirstEntryIgnoringCase) {
  TestEvaluator evaluator;
  const int32_t count = static_cast<int32_t>(evaluator.Functions.Items().size());
  TzrFunction* dup = evaluator.AddFunction("LENGTH", 2, &evaluator);
  EXPECT_EQ(dup->ID, count) << "IDs count on in registration order";
  EXPECT_EQ(evaluator.FindFunction("length")->ID, 17) << "the first entry of the name wins";
  EXPECT_EQ(evaluator.FindOperator("AnD")->Priority, 1);
  EXPECT_FALSE(evaluator.IsOperator("xor"));
  EXPECT_EQ(evaluator.ComparePriority("*", "or"), 4);
  EXPECT_EQ(evaluator.ComparePriority("=", "<>"), 0);
}

TEST(FormatNumberTest, FifteenDigitsWithoutTrailingZeros) {
  const struct {
    long double value;
    const char* text;
  } cases[] = {
      {0, "0"},
      {-0.0L, "0"},
      {7, "7"},
      {2.5L, "2.5"},
      {-2.5L, "-2.5"},
      {0.1L + 0.2L, "0.3"},
      {1.0L / 3, "0.333333333333333"},
      {2.0L / 3, "0.666666666666667"},
      {123456789012345.0L, "123456789012345"},
      {1e15L, "1E+15"},
      {999999999999999.9L, "1E+15"},
      {1e-5L, "0.00001"},
      {1.5e-6L, "1.5E-6"},
      {-1.25e20L, "-1.25E+20"},
      {1e100L, "1E+100"},
      {1e400L, "1E+400"},
      {-2.5e-4000L, "-2.5E-4000"},
      {1e-310L / 3, "3.33333333333333E-311"},
      {std::numeric_limits<long double>::max(), "1.18973149535723E+4932"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatNumber(c.value), c.text) << static_cast<double>(c.value);
  }
}

TEST(FormatNumberTest, OnlyOverflowOfTheExtendedRangeIsAnError) {
  EXPECT_THROW(FormatNumber(std::numeric_limits<long double>::infinity()), KxError);
  EXPECT_THROW(FormatNumber(std::numeric_limits<long double>::quiet_NaN()), KxError);
}

}  // namespace
