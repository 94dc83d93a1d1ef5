// kxtool's verbs: diagnostics for vendors and tests, one function per verb.
//
// Each verb takes the arguments after its name, writes its results to standard output and its
// errors to standard error, and returns the process exit code (0 success, 2 bad usage or
// failure). Called once, from kxtool's main thread.
#pragma once

#include <string>
#include <vector>

// kxtool ini [--unquote] FILE OP...
int RunIniVerb(const std::vector<std::string>& args);
