#include "expressions/zrExprEval.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

bool SameTextNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

enum class Notation { Fixed, Scientific };

// printf rather than to_chars: the extended to_chars would bring the C++ library's tables of
// powers (over 200 KB) into every program.
std::string Formatted(long double value, Notation notation, int precision) {
  char buffer[128];  // 15 digits before the point and 19 after, or an exponent of 4 digits
  std::snprintf(buffer, sizeof buffer, notation == Notation::Fixed ? "%.*Lf" : "%.*Le", precision,
                value);
  return buffer;
}

void TrimFractionZeros(std::string& digits) {
  if (digits.find('.') == std::string::npos) return;
  while (!digits.empty() && digits.back() == '0') digits.pop_back();
  if (!digits.empty() && digits.back() == '.') digits.pop_back();
}

bool Has(const TzrEvaluator::CharSet& set, char c) {
  return set.test(static_cast<unsigned char>(c));
}

}  // namespace

std::string FormatNumber(long double value) {
  if (!std::isfinite(value)) throw KxError("Floating point overflow.");
  if (value == 0) return "0";
  // printf writes the extended value itself, whatever its range; the engine never sets a C
  // locale, so the point is ".".
  const std::string scientific = Formatted(value, Notation::Scientific, 14);
  const size_t e = scientific.find('e');
  const int exponent = std::atoi(scientific.c_str() + e + 1);
  if (exponent >= -5 && exponent < 15) {
    std::string fixed = Formatted(value, Notation::Fixed, 14 - exponent);
    TrimFractionZeros(fixed);
    return fixed;
  }
  std::string mantissa = scientific.substr(0, e);
  TrimFractionZeros(mantissa);
  return mantissa + "E" + (exponent < 0 ? "-" : "+") + std::to_string(std::abs(exponent));
}

TzrEvaluatorError::TzrEvaluatorError(const std::string& reason, int position)
    : KxError(reason + "\r\nPosition " + std::to_string(position) + ".") {}

TzrOperator* TzrOperatorList::Add(const std::string& name, uint8_t kinds, int32_t priority) {
  auto op = std::make_unique<TzrOperator>();
  op->Name = name;
  op->Kinds = kinds;
  op->Priority = priority;
  items_.push_back(std::move(op));
  return items_.back().get();
}

TzrOperator* TzrOperatorList::Find(const std::string& name) const {
  for (const auto& op : items_) {
    if (SameTextNoCase(op->Name, name)) return op.get();
  }
  return nullptr;
}

TzrFunction* TzrFunctionList::Add(const std::string& name, int32_t argCount, const void* owner) {
  auto fn = std::make_unique<TzrFunction>();
  fn->ID = nextId_++;
  fn->Name = name;
  fn->ArgCount = argCount;
  fn->Owner = owner;
  items_.push_back(std::move(fn));
  return items_.back().get();
}

TzrFunction* TzrFunctionList::Find(const std::string& name) const {
  for (const auto& fn : items_) {
    if (SameTextNoCase(fn->Name, name)) return fn.get();
  }
  return nullptr;
}

TzrEvaluator::TzrEvaluator() {
  for (int c = '0'; c <= '9'; ++c) OperandChars.set(c);
  for (int c = 'A'; c <= 'Z'; ++c) {
    OperandChars.set(c);
    OperandChars.set(c + 32);
    WordChars.set(c);
    WordChars.set(c + 32);
  }
  OperandChars.set('_');
  for (unsigned char c : std::string("!#$%&*+-/:<=>?@\\^|~")) SymbolChars.set(c);
  QuoteChars.set('"');
  QuoteChars.set('\'');
}

TzrOperator* TzrEvaluator::AddOperator(const std::string& name, uint8_t kinds, int32_t priority) {
  return Operators.Add(name, kinds, priority);
}

TzrFunction* TzrEvaluator::AddFunction(const std::string& name, int32_t argCount,
                                       const void* owner) {
  return Functions.Add(name, argCount, owner);
}

int32_t TzrEvaluator::ComparePriority(const std::string& a, const std::string& b) const {
  const TzrOperator* x = FindOperator(a);
  const TzrOperator* y = FindOperator(b);
  return (x ? x->Priority : 0) - (y ? y->Priority : 0);
}

bool TzrEvaluator::CheckOperand(std::string&) { return true; }

enum class ParseState { Start, Operand, AfterOperand, Operator, OpenParen };

struct TzrEvaluator::Level {
  ParseState state = ParseState::Start;
  std::string token;
  std::string v1, v2, v3;
  const TzrOperator* op1 = nullptr;
  const TzrOperator* op2 = nullptr;
  const TzrOperator* pre = nullptr;
  bool operandRead = false;
  bool quoting = false;
  char quote = 0;
  const CharSet* operatorClass = nullptr;
  const TzrFunction* pending = nullptr;
  std::vector<std::string> args;
};

void TzrEvaluator::Evaluate(std::string& result) {
  pos_ = 0;
  depth_ = 0;
  result = ReadLevel(nullptr);
}

bool TzrEvaluator::AtEnd() const { return pos_ >= expression_.size() || expression_[pos_] == 0; }

void TzrEvaluator::SyntaxError() const {
  throw TzrEvaluatorError("Syntax error.", static_cast<int>(pos_ + 1));
}

std::string TzrEvaluator::Apply(const TzrOperator* op, bool infix, const std::string& left,
                                const std::string& right) {
  if (!op || !(op->Kinds & (infix ? okInfix : okPrefix))) SyntaxError();
  std::string result;
  CalcOperator(*op, infix, result, right, infix ? left : std::string());
  return result;
}

void TzrEvaluator::Push(Level& level, std::string value) {
  if (level.pre) {
    value = Apply(level.pre, false, std::string(), value);
    level.pre = nullptr;
  }
  if (level.op2) {
    level.v3 = std::move(value);
  } else if (level.op1) {
    level.v2 = std::move(value);
  } else {
    level.v1 = std::move(value);
  }
  if (level.v3.empty()) return;
  if (level.op1->Priority < level.op2->Priority) {
    level.v2 = Apply(level.op2, true, level.v2, level.v3);
  } else {
    level.v1 = Apply(level.op1, true, level.v1, level.v2);
    level.op1 = level.op2;
    level.v2 = level.v3;
  }
  level.op2 = nullptr;
  level.v3.clear();
}

void TzrEvaluator::StoreInfix(Level& level, const TzrOperator* op) {
  if (!level.v2.empty()) {
    level.op2 = op;
  } else {
    level.op1 = op;
  }
}

std::string TzrEvaluator::Finish(Level& level) {
  if (!level.v2.empty()) {
    level.v1 = Apply(level.op1, true, level.v1, level.v2);
    level.op1 = nullptr;
    level.v2.clear();
  }
  return level.v1;
}

void TzrEvaluator::ReadTokenByte(Level& level) {
  const char c = Current();
  if (!level.quoting) {
    if (Has(QuoteChars, c)) {
      level.quoting = true;
      level.quote = c;
    } else {
      level.token += c;
    }
    ++pos_;
    return;
  }
  if (!Has(QuoteChars, c)) {
    level.token += c;
    ++pos_;
    return;
  }
  // A doubled opening quote stands for itself; any other quote byte closes the run.
  if (pos_ + 1 < expression_.size() && expression_[pos_ + 1] == level.quote) {
    level.token += c;
    pos_ += 2;
    return;
  }
  level.quoting = false;
  ++pos_;
}

// Ends the operand token at the current byte; the byte is read again unless a nested level ran.
void TzrEvaluator::EndToken(Level& level) {
  std::string token = std::move(level.token);
  level.token.clear();
  if (token.empty()) {
    if (Current() != '(') SyntaxError();
    ++pos_;
    const TzrFunction* fn = level.pending;
    level.pending = nullptr;
    // Each level is a stack frame; a hostile text must not be able to exhaust the stack.
    if (depth_ >= kMaxDepth) {
      throw TzrEvaluatorError("Expression nested too deeply.", static_cast<int>(pos_));
    }
    ++depth_;
    try {
      token = ReadLevel(fn);
    } catch (...) {
      --depth_;
      throw;
    }
    --depth_;
  } else if (const TzrOperator* op = FindOperator(token)) {
    if (level.pre) SyntaxError();
    level.pre = op;
    level.operandRead = false;
    level.state = ParseState::Start;
    return;
  } else if (const TzrFunction* fn = FindFunction(token)) {
    if (fn->ArgCount != 0) {
      level.pending = fn;
      level.state = ParseState::OpenParen;
      return;
    }
    token.clear();
    CalcFunction(*fn, nullptr, token);
  }
  if (!CheckOperand(token)) SyntaxError();
  Push(level, std::move(token));
  level.operandRead = true;
  level.state = ParseState::AfterOperand;
}

// Called at the ")" of the argument list, which is the byte examined while the count is checked;
// reading goes on after it.
std::string TzrEvaluator::CallWithArgs(Level& level, const TzrFunction* fn) {
  level.args.push_back(Finish(level));
  if (fn->ArgCount != -1 && static_cast<size_t>(fn->ArgCount) != level.args.size()) SyntaxError();
  ++pos_;
  std::string result;
  CalcFunction(*fn, &level.args, result);
  return result;
}

std::string TzrEvaluator::ReadLevel(const TzrFunction* argFunction) {
  Level level;
  while (!AtEnd()) {
    const char c = Current();
    switch (level.state) {
      case ParseState::Start:
        if (c == ' ') {
          ++pos_;
        } else if (Has(SymbolChars, c)) {
          level.operandRead = false;
          level.operatorClass = &SymbolChars;
          level.state = ParseState::Operator;
        } else {
          level.state = ParseState::Operand;
        }
        break;
      case ParseState::Operand:
        if (level.quoting || Has(QuoteChars, c) || Has(OperandChars, c)) {
          ReadTokenByte(level);
        } else {
          EndToken(level);
        }
        break;
      case ParseState::AfterOperand:
        if (c == ' ') {
          ++pos_;
        } else if (c == ')') {
          if (argFunction) return CallWithArgs(level, argFunction);
          std::string value = Finish(level);
          ++pos_;
          return value;
        } else if (c == ',') {
          if (!argFunction) SyntaxError();
          ++pos_;
          level.args.push_back(Finish(level));
          std::vector<std::string> args = std::move(level.args);
          level = Level();
          level.args = std::move(args);
        } else if (Has(SymbolChars, c)) {
          level.operatorClass = &SymbolChars;
          level.state = ParseState::Operator;
        } else if (Has(WordChars, c)) {
          level.operatorClass = &WordChars;
          level.state = ParseState::Operator;
        } else {
          SyntaxError();
        }
        break;
      case ParseState::Operator:
        if (Has(*level.operatorClass, c)) {
          level.token += c;
          ++pos_;
          break;
        }
        {
          const TzrOperator* op = FindOperator(level.token);
          if (!op) SyntaxError();
          level.token.clear();
          if (level.operandRead) {
            StoreInfix(level, op);
          } else {
            level.pre = op;
          }
          level.state = ParseState::Start;
        }
        break;
      case ParseState::OpenParen:
        if (c == ' ') {
          ++pos_;
        } else if (c != '(') {
          SyntaxError();
        } else {
          level.state = ParseState::Operand;
        }
        break;
    }
  }
  // End of text: a collected operand still counts; anything else unfinished is dropped.
  if (level.state == ParseState::Operand && !level.token.empty()) {
    std::string token = std::move(level.token);
    if (const TzrFunction* fn = FindFunction(token)) {
      if (fn->ArgCount != 0) SyntaxError();
      token.clear();
      CalcFunction(*fn, nullptr, token);
    }
    if (!CheckOperand(token)) SyntaxError();
    Push(level, std::move(token));
  }
  return Finish(level);
}
