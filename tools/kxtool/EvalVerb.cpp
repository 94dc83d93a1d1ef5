// kxtool eval and kxtool expand: the expression language and the text expansion as the engine
// runs them, against a main database that holds only the variables given on the command line.
// Vendors try conditions and templates with them; the tests drive the evaluator through them.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "Verbs.h"
#include "database/KXClasses.h"
#include "expressions/Evaluator.h"
#include "os/os.h"

namespace {

int Usage(const char* verb, const std::string& problem) {
  std::fprintf(stderr, "kxtool %s: %s\n", verb, problem.c_str());
  std::fprintf(stderr, "usage: kxtool %s [--var NAME=VALUE]... %s\n", verb,
               std::string(verb) == "eval" ? "EXPR" : "TEXT");
  return 2;
}

// Reads the --var options into the database; the one remaining argument is the input.
bool ReadArguments(const char* verb, const std::vector<std::string>& args,
                   TkxMainDatabase& database, std::string& input, int& exitCode) {
  size_t next = 0;
  for (; next < args.size() && args[next] == "--var"; next += 2) {
    if (next + 1 >= args.size()) {
      exitCode = Usage(verb, "--var needs NAME=VALUE");
      return false;
    }
    const std::string& assignment = args[next + 1];
    size_t equals = assignment.find('=');
    if (equals == std::string::npos || equals == 0) {
      exitCode = Usage(verb, "--var needs NAME=VALUE, got \"" + assignment + "\"");
      return false;
    }
    SetVariable(&database, assignment.substr(0, equals), assignment.substr(equals + 1));
  }
  if (next + 1 != args.size()) {
    exitCode = Usage(verb, next == args.size() ? "missing input" : "expected one input");
    return false;
  }
  input = args[next];
  return true;
}

// The result on standard output, an error's message alone on standard error; both byte for byte.
template <typename Compute>
int Run(const char* verb, const std::vector<std::string>& args, Compute compute) {
  os::SetStdoutBinary();
  os::SetStderrBinary();
  TkxMainDatabase database;
  std::string input;
  int exitCode = 0;
  if (!ReadArguments(verb, args, database, input, exitCode)) return exitCode;
  try {
    std::string result = compute(database, input);
    std::fwrite(result.data(), 1, result.size(), stdout);
    std::fputc('\n', stdout);
    return 0;
  } catch (const std::exception& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", error.what());
    return 2;
  }
}

}  // namespace

int RunEvalVerb(const std::vector<std::string>& args) {
  return Run("eval", args, [](TkxMainDatabase& database, const std::string& expression) {
    TkxEvaluator evaluator(database);
    return evaluator.CalcExpression(expression);
  });
}

int RunExpandVerb(const std::vector<std::string>& args) {
  return Run("expand", args, [](TkxMainDatabase& database, const std::string& text) {
    return ExpandText(&database, text);
  });
}
