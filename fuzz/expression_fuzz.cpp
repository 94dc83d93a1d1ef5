// libFuzzer target for the installer's expression evaluator and the text expansion behind its
// operands: any text must end in a result or in an error exception, never in a crash, a hang or
// a leak. A syntax error must name a position within the text (or just after its end).
//
// The database holds variables that exercise expansion: an empty one, a self reference, two
// that refer to each other, one with a line-break pair and numbers. Functions that would change
// the machine (RenameFile) answer without acting, so the fuzzer only reads files and the
// registry. Built and run by fuzz/run_expression_fuzz.sh; single-threaded.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "database/KXClasses.h"
#include "expressions/Evaluator.h"

namespace {

constexpr int32_t kRenameFileId = 20;

class ReadOnlyEvaluator : public TkxEvaluator {
 public:
  using TkxEvaluator::TkxEvaluator;

 protected:
  void CalcFunction(const TzrFunction& fn, const std::vector<std::string>* args,
                    std::string& result) override {
    if (fn.ID == kRenameFileId) {
      result = "1";
      return;
    }
    TkxEvaluator::CalcFunction(fn, args, result);
  }
};

TkxMainDatabase& Database() {
  static TkxMainDatabase* database = [] {
    auto* made = new TkxMainDatabase;
    const char* variables[][2] = {
        {"Empty", ""},     {"Self", "%SELF%"}, {"A", "%B%x"},        {"B", "%A%y"},
        {"Lines", "a||b"}, {"N", "12.5"},      {"Big", "1e300"},     {"Path", "C:\\x\\y.txt"},
        {"Quote", "it's"}, {"Pct", "100%%"},   {"Nested", "%N%%N%"}, {"Expr", "1 + %N%"},
    };
    for (const auto& variable : variables) SetVariable(made, variable[0], variable[1]);
    return made;
  }();
  return *database;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ReadOnlyEvaluator evaluator(Database());
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    evaluator.CalcExpression(text);
  } catch (const TzrEvaluatorError& error) {
    const std::string message = error.what();
    size_t at = message.rfind("Position ");
    long position =
        at == std::string::npos ? -1 : std::strtol(message.c_str() + at + 9, nullptr, 10);
    if (position < 1 || static_cast<size_t>(position) > size + 1) {
      std::fprintf(stderr, "position out of the text: %s\n", message.c_str());
      std::abort();
    }
  } catch (const std::exception&) {
    // Conversion errors, division by zero and the expansion limit end an evaluation normally.
  }
  try {
    ExpandText(&Database(), text);
  } catch (const std::exception&) {
  }
  return 0;
}
