#include "expressions/zrExprEval.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "expressions/Common.h"

namespace {

// The installer's operator table, with a handful of functions standing in for its own; enough to
// drive every path of the parser.
class TestEvaluator : public TzrEvaluator {
 public:
  TestEvaluator() {
    OperandChars.set('%');
    OperandChars.set('.');
    SymbolChars.reset('%');
    for (const char* name : {"+", "-"}) AddOperator(name, okPrefix | okInfix, 3);
    AddOperator("*", okInfix, 4);
    AddOperator("/", okInfix, 4);
    AddOperator("&", okInfix, 3);
    AddOperator("=", okInfix, 2);
    AddOperator("<>", okInfix, 2);
    AddOperator("and", okInfix, 1);
    AddOperator("or", okInfix, 0);
    AddOperator("not", okPrefix, 5);
    for (const char* name : {"<", ">", "<=", ">="}) AddOperator(name, okInfix, 2);
    AddFunction("Length", 1, nullptr);
    AddFunction("Sum", -1, nullptr);
    AddFunction("Pair", 2, nullptr);
    AddFunction("Zero", 0, nullptr);
  }

  std::vector<std::string> calls;  // functions in the order they ran

 protected:
  bool CheckOperand(std::string& operand) override {
    if (operand == "%Empty%") operand.clear();
    if (operand == "%Bad%") return false;
    return true;
  }

  void CalcOperator(const TzrOperator& op, bool infix, std::string& result,
                    const std::string& right, const std::string& left) override {
    const long double l = ReadNumber(left, 0), r = ReadNumber(right, 0);
    const std::string& n = op.Name;
    if (n == "+") result = FormatNumber(infix ? l + r : r);
    if (n == "-") result = FormatNumber(infix ? l - r : -r);
    if (n == "*") result = FormatNumber(l * r);
    if (n == "/") {
      if (r == 0) throw KxError("Division by zero.");
      result = FormatNumber(l / r);
    }
    if (n == "&") result = left + right;
    if (n == "=") result = left == right ? "1" : "0";
    if (n == "<>") result = left != right ? "1" : "0";
    if (n == "and") result = left == "1" && right == "1" ? "1" : "0";
    if (n == "or") result = left == "1" || right == "1" ? "1" : "0";
    if (n == "not") result = right != "1" ? "1" : "0";
    if (n == "<") result = l < r ? "1" : "0";
    if (n == ">") result = l > r ? "1" : "0";
    if (n == "<=") result = l <= r ? "1" : "0";
    if (n == ">=") result = l >= r ? "1" : "0";
  }

  void CalcFunction(const TzrFunction& fn, const std::vector<std::string>* args,
                    std::string& result) override {
    calls.push_back(fn.Name);
    if (fn.Name == "Zero") {
      result = args ? "args!" : "z";
    } else if (fn.Name == "Length") {
      result = std::to_string((*args)[0].size());
    } else if (fn.Name == "Pair") {
      result = "[" + (*args)[0] + "|" + (*args)[1] + "]";
    } else {
      long double sum = 0;
      for (const auto& a : *args) sum += ReadNumber(a, 0);
      result = FormatNumber(sum);
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
      {"Length 1", "8", true},      {"Pair(1)", "8", true},       {"Pair(1, 2, 3)", "14", true},
      {"1 +\r2", "4", true},        {"a\tb", "2", true},          {"1 . 2", "3", true},
      {"* 1", "4", true},           {"1 not 2", "8", true},       {"%Bad% & x", "6", true},
      {"(1 + (2 , 3))", "9", true},
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

TEST(EvaluatorTest, BothOperandsAreComputedAndEvaluationsStartClean) {
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

TEST(EvaluatorTest, RegistriesMatchFirstEntryIgnoringCase) {
  TestEvaluator evaluator;
  TzrFunction* dup = evaluator.AddFunction("LENGTH", 2, &evaluator);
  EXPECT_EQ(dup->ID, 4);
  EXPECT_EQ(evaluator.FindFunction("length")->ID, 0);
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
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatNumber(c.value), c.text) << static_cast<double>(c.value);
  }
}

TEST(FormatNumberTest, OverflowIsAnError) {
  EXPECT_THROW(FormatNumber(1e400L), KxError);
  EXPECT_THROW(FormatNumber(std::numeric_limits<long double>::infinity()), KxError);
  EXPECT_THROW(FormatNumber(std::numeric_limits<long double>::quiet_NaN()), KxError);
}

}  // namespace
