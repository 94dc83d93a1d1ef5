// kxtool ini: reads and edits an INI file with the engine's INI engine and the options its INI
// cache uses, so that tests see exactly what an installation would read and write.
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "Verbs.h"
#include "os/os.h"
#include "support/zrIniFile.h"
#include "support/zrStrUtils.h"

namespace {

using Args = std::vector<std::string>;

enum class OpKind { kGet, kReadInt, kSet, kDel, kErase, kSections, kKeys, kValues };

struct OpSyntax {
  const char* name;
  OpKind kind;
  size_t argCount;
  bool writes;
};

const OpSyntax kOps[] = {
    {"get", OpKind::kGet, 3, false},    {"readint", OpKind::kReadInt, 3, false},
    {"set", OpKind::kSet, 3, true},     {"del", OpKind::kDel, 2, true},
    {"erase", OpKind::kErase, 1, true}, {"sections", OpKind::kSections, 0, false},
    {"keys", OpKind::kKeys, 1, false},  {"values", OpKind::kValues, 1, false},
};

struct Op {
  const OpSyntax* syntax;
  Args args;
  int32_t defaultInt = 0;  // readint's default, checked before anything is opened
};

int Usage(const std::string& problem) {
  std::fprintf(stderr, "kxtool ini: %s\n", problem.c_str());
  std::fputs(
      "usage: kxtool ini [--unquote] FILE OP...\n"
      "OPs: get S K D | readint S K D | set S K V | del S K | erase S | sections | keys S |"
      " values S\n",
      stderr);
  return 2;
}

// The same integer texts the engine's ReadInteger accepts.
std::optional<int32_t> ParseInteger(std::string text) {
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text = "$" + text.substr(2);
  }
  return TextToInt(text);
}

// Splits the OPs; an error text when they do not parse.
std::string ParseOps(const Args& args, size_t first, std::vector<Op>& ops) {
  for (size_t i = first; i < args.size();) {
    const OpSyntax* syntax = nullptr;
    for (const OpSyntax& candidate : kOps) {
      if (args[i] == candidate.name) syntax = &candidate;
    }
    if (!syntax) return "unknown operation \"" + args[i] + "\"";
    if (args.size() - i - 1 < syntax->argCount) {
      return "\"" + args[i] + "\" needs " + std::to_string(syntax->argCount) + " arguments";
    }
    Op op{syntax, Args(args.begin() + i + 1, args.begin() + i + 1 + syntax->argCount)};
    if (syntax->kind == OpKind::kReadInt) {
      std::optional<int32_t> value = ParseInteger(op.args[2]);
      if (!value) return "\"" + op.args[2] + "\" is not an integer";
      op.defaultInt = *value;
    }
    ops.push_back(std::move(op));
    i += 1 + syntax->argCount;
  }
  return ops.empty() ? "no operation given" : "";
}

void PrintLines(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) std::printf("%s\n", line.c_str());
  std::printf("--\n");
}

void Apply(TzrIniFile& ini, const Op& op) {
  const Args& a = op.args;
  std::vector<std::string> lines;
  switch (op.syntax->kind) {
    case OpKind::kGet:
      PrintLines({ini.ReadString(a[0], a[1], a[2])});
      return;
    case OpKind::kReadInt:
      PrintLines({std::to_string(ini.ReadInteger(a[0], a[1], op.defaultInt))});
      return;
    case OpKind::kSet:
      ini.WriteString(a[0], a[1], a[2]);
      return;
    case OpKind::kDel:
      ini.DeleteKey(a[0], a[1]);
      return;
    case OpKind::kErase:
      ini.EraseSection(a[0]);
      return;
    case OpKind::kSections:
      ini.ReadSections(lines);
      break;
    case OpKind::kKeys:
      ini.ReadSection(a[0], lines);
      break;
    case OpKind::kValues:
      ini.ReadSectionValues(a[0], lines);
      break;
  }
  PrintLines(lines);
}

}  // namespace

int RunIniVerb(const Args& args) {
  os::SetStdoutBinary();  // the lines end in LF on every system
  size_t next = 0;
  bool unquote = false;
  if (next < args.size() && args[next] == "--unquote") {
    unquote = true;
    ++next;
  }
  if (next >= args.size()) return Usage("no FILE given");
  const std::string& file = args[next++];
  std::vector<Op> ops;
  std::string problem = ParseOps(args, next, ops);
  if (!problem.empty()) return Usage(problem);

  bool writes = false;
  for (const Op& op : ops) writes = writes || op.syntax->writes;
  try {
    const TIniDefaults& defaults = IniDefaults();
    TzrIniFile ini(file, !writes, defaults.SkipComments, defaults.SkipNoEquals, defaults.TrimEquals,
                   unquote);
    for (const Op& op : ops) Apply(ini, op);
    ini.UpdateFile();  // here rather than in the destructor, so that a failure is reported
  } catch (const std::exception& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", error.what());
    return 2;
  }
  return std::fflush(stdout) == 0 ? 0 : 2;
}
