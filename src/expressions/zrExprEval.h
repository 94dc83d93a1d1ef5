// zrExprEval: the base machine of the expression language that conditions and computed values of
// the project database are written in. Derived evaluators register their operators and functions
// and compute them; this module only reads the text and applies them. An evaluator instance is not
// shared between threads; FormatNumber is pure and may be called from any thread.
//
// The language is read in one left-to-right pass without a tree. Each parenthesis level holds
// three value slots V1..V3, two infix slots Op1/Op2 and one prefix slot Pre:
//   operand  := [prefix] ( token | "(" level ")" | name | name "(" level {"," level} ")" )
//   push V   := apply Pre; store into V3/V2/V1 (first whose operator slot before it is set);
//               once V3 is set: Op2 folds into V2 if it binds tighter than Op1, else Op1 into V1.
//   finish   := if V2 is set, V1 = V1 Op1 V2.
// So only two infix operators wait at a time: "1 and 3 = 1 + 2" is "1 and ((3 = 1) + 2)". A slot
// holding the empty text counts as unset, so an empty right operand leaves its operator unapplied.
// An incomplete tail (dangling operator, missing ")") is dropped, never an error. Nesting deeper
// than 256 levels is refused with "Expression nested too deeply." at the opening "(".
#pragma once

#include <bitset>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/Errors.h"

// Writes a computed number: at most 15 significant digits, no trailing zeros, "." as the decimal
// point, fixed notation for 1e-5 <= |x| < 1e15, else "d.dddE+n", over the whole extended range
// ("1E+600"). Throws KxError "Floating point overflow." for values that are not finite (the
// arithmetic overflowed the extended range).
std::string FormatNumber(long double value);

// A syntax error of an expression; its message ends with the 1-based position of the byte at
// which the parser gave up.
class TzrEvaluatorError : public KxError {
 public:
  TzrEvaluatorError(const std::string& reason, int position);
};

enum TzrOperatorKind : uint8_t { okPrefix = 1, okInfix = 2 };

struct TzrOperator {
  std::string Name;
  uint8_t Kinds = 0;  // TzrOperatorKind bits
  int32_t Priority = 0;
};

struct TzrFunction {
  int32_t ID = 0;
  std::string Name;
  int32_t ArgCount = 0;  // 0: written without an argument list; -1: one or more
  const void* Owner = nullptr;
};

class TzrOperatorList {
 public:
  TzrOperator* Add(const std::string& name, uint8_t kinds, int32_t priority);
  TzrOperator* Find(const std::string& name) const;
  const std::vector<std::unique_ptr<TzrOperator>>& Items() const { return items_; }

 private:
  std::vector<std::unique_ptr<TzrOperator>> items_;
};

class TzrFunctionList {
 public:
  TzrFunction* Add(const std::string& name, int32_t argCount, const void* owner);
  TzrFunction* Find(const std::string& name) const;
  const std::vector<std::unique_ptr<TzrFunction>>& Items() const { return items_; }

 private:
  std::vector<std::unique_ptr<TzrFunction>> items_;
  int32_t nextId_ = 0;
};

class TzrEvaluator {
 public:
  using CharSet = std::bitset<256>;

  TzrEvaluator();
  virtual ~TzrEvaluator() = default;
  TzrEvaluator(const TzrEvaluator&) = delete;
  TzrEvaluator& operator=(const TzrEvaluator&) = delete;

  const std::string& Expression() const { return expression_; }
  void SetExpression(const std::string& text) { expression_ = text; }

  // Raises TzrEvaluatorError on a syntax error; errors of the Calc/Check hooks pass through.
  void Evaluate(std::string& result);

  TzrOperator* AddOperator(const std::string& name, uint8_t kinds, int32_t priority);
  TzrFunction* AddFunction(const std::string& name, int32_t argCount, const void* owner);
  TzrOperator* FindOperator(const std::string& name) const { return Operators.Find(name); }
  TzrFunction* FindFunction(const std::string& name) const { return Functions.Find(name); }
  bool IsOperator(const std::string& name) const { return FindOperator(name) != nullptr; }
  bool IsFunction(const std::string& name) const { return FindFunction(name) != nullptr; }
  // Unknown names count as priority 0.
  int32_t ComparePriority(const std::string& a, const std::string& b) const;

  TzrOperatorList Operators;
  TzrFunctionList Functions;
  CharSet OperandChars;
  CharSet SymbolChars;
  CharSet WordChars;
  CharSet QuoteChars;

 protected:
  virtual bool CheckOperand(std::string& operand);
  virtual void CalcOperator(const TzrOperator& op, bool infix, std::string& result,
                            const std::string& right, const std::string& left) = 0;
  // args is null when the function is written without an argument list.
  virtual void CalcFunction(const TzrFunction& fn, const std::vector<std::string>* args,
                            std::string& result) = 0;

 private:
  struct Level;
  std::string ReadLevel(const TzrFunction* argFunction);
  bool AtEnd() const;
  char Current() const { return expression_[pos_]; }
  [[noreturn]] void SyntaxError() const;
  std::string Apply(const TzrOperator* op, bool infix, const std::string& left,
                    const std::string& right);
  void Push(Level& level, std::string value);
  void StoreInfix(Level& level, const TzrOperator* op);
  std::string Finish(Level& level);
  void ReadTokenByte(Level& level);
  void EndToken(Level& level);
  std::string CallWithArgs(Level& level, const TzrFunction* fn);

  static constexpr int kMaxDepth = 256;  // nested parentheses and argument lists

  std::string expression_;
  size_t pos_ = 0;
  int depth_ = 0;
};
