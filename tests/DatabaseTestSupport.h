// Helpers for the suites that build project databases in code.
#pragma once

#include <string>

#include "database/KXClasses.h"

// Appends a plain variable (with an optional condition) to a list of variables.
inline TkxVariable& AddVariable(TkxVariables& variables, const std::string& name,
                                const std::string& value, const std::string& condition = "") {
  TkxVariable& variable = variables.AddNew();
  variable.Name = name;
  variable.Value = value;
  variable.Condition = condition;
  return variable;
}
