// Evaluator: the installer's expression evaluator. It gives the language of zrExprEval its
// operators, the 24 installer functions (files, registry, versions, dates, the user, features,
// install types), expansion of %Name% references in every operand, and functions that plug-ins
// register. One instance exists per run (module Common creates it); it evaluates on the thread
// that asks, holds no lock, and the run's threads take turns (the worker thread evaluates while
// the main thread only dispatches messages).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "expressions/zrExprEval.h"

class TkxMainDatabase;

class TkxEvaluator : public TzrEvaluator {
 public:
  // Variables are expanded, features and install types read, in database, which must outlive
  // the evaluator.
  explicit TkxEvaluator(TkxMainDatabase& database);

  // Adds a function that plugin computes; its ID, or 0 when a function of that name (case
  // ignored) exists already. Also 0, and nothing added, for a null plugin, an empty name or an
  // argument count below -1 (no call could ever reach such a function).
  int32_t RegisterFunction(const void* plugin, const std::string& name, int32_t argCount);

  // Evaluates text: line feeds removed, carriage returns read as blanks. Errors of the
  // evaluation (syntax, conversions, the expansion limit) pass to the caller. May be called
  // again from inside an evaluation (a condition of a feature or of a variable met while
  // evaluating): the inner text is then read by a nested evaluator of the same functions, so
  // that the outer reading position survives.
  std::string CalcExpression(const std::string& text);
  // Whether CalcExpression(text) is exactly "1".
  bool CalcBool(const std::string& text);

  // The answers of AskUser, "*question*=answer" with answer "1" or "0", in the order asked.
  std::vector<std::string> AskUserAnswers;

  // Records a file in the install log's "CopyFiles" section; set while the install log is active
  // (RenameFile with Log "1" writes through it), empty otherwise.
  std::function<void(const std::string& file)> LogCopiedFile;

 protected:
  bool CheckOperand(std::string& operand) override;
  void CalcOperator(const TzrOperator& op, bool infix, std::string& result,
                    const std::string& right, const std::string& left) override;
  void CalcFunction(const TzrFunction& fn, const std::vector<std::string>* args,
                    std::string& result) override;

 private:
  // The operator's position in Operators (its registration order), -1 for a stranger.
  int OperatorIndexOf(const TzrOperator& op) const;
  // A top-level feature with that ID (case ignored) that is selected and whose condition holds.
  bool FeatureEnabled(const std::string& id) const;
  // "1" or "0": the remembered answer to text, or the user's answer in a box that is then
  // remembered.
  std::string AskUser(const std::string& caption, const std::string& text, const std::string& icon,
                      const std::string& buttons);
  // Sends the call to the function's plug-in; the plug-in's text, "" when it answers none.
  std::string CalcPluginFunction(const TzrFunction& fn, const std::vector<std::string>* args);

  // The evaluator for texts evaluated while this one is busy; plug-in functions registered
  // here since the last nested evaluation are registered there too, with the same IDs.
  TkxEvaluator& Nested();

  TkxMainDatabase& database_;
  // The evaluator the run asks: its remembered answers and log hook serve the nested ones too.
  TkxEvaluator* root_ = this;
  int busy_ = 0;  // evaluations of this evaluator in progress (0 or 1)
  std::unique_ptr<TkxEvaluator> nested_;
};
