#include "expressions/Evaluator.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <tuple>

#include "database/KXClasses.h"
#include "expressions/Common.h"
#include "expressions/PluginChannel.h"
#include "os/os.h"
#include "support/zrFileUtils.h"
#include "support/zrRegIni.h"
#include "support/zrStrUtils.h"
#include "support/zrUtils.h"

namespace {

// Operators in registration order; CalcOperator knows each one by this position.
enum OperatorIndex {
  kPlus,
  kMinus,
  kTimes,
  kDivide,
  kConcat,
  kEqual,
  kNotEqual,
  kAnd,
  kOr,
  kNot,
  kLess,
  kGreater,
  kLessEqual,
  kGreaterEqual,
};

// Functions in registration order: the position is the function's ID.
enum FunctionID {
  kIif,
  kFilePath,
  kFileName,
  kNormalPath,
  kFileVersion,
  kFileDate,
  kFileExists,
  kFolderExists,
  kCompareVersion,
  kCompareDate,
  kCompareText,
  kRegKeyExists,
  kRegParamExists,
  kRegParam,
  kAskUser,
  kSubStr,
  kFindSubStr,
  kLength,
  kFileSize,
  kRound,
  kRenameFile,
  kActiveInstallType,
  kFeatureEnabled,
  kDotNetInstalled,
  kBuiltInCount,
};

struct FunctionEntry {
  const char* name;
  int32_t argCount;
};

constexpr FunctionEntry kFunctions[kBuiltInCount] = {
    {"Iif", 3},
    {"FilePath", 1},
    {"FileName", 1},
    {"NormalPath", 1},
    {"FileVersion", 1},
    {"FileDate", 1},
    {"FileExists", 1},
    {"FolderExists", 1},
    {"CompareVersion", 2},
    {"CompareDate", 2},
    {"CompareText", 2},
    {"RegKeyExists", 1},
    {"RegParamExists", 2},
    {"RegParam", 3},
    {"AskUser", 4},
    {"SubStr", 3},
    {"FindSubStr", 3},
    {"Length", 1},
    {"FileSize", 1},
    {"Round", 1},
    {"RenameFile", 3},
    {"ActiveInstallType", 0},
    {"FeatureEnabled", 1},
    {"DotNetInstalled", 0},
};

const char* const kDotNetClassId = "{E5CB7A31-7512-11D2-89CE-0080C792E5D8}";
const char* const kDotNetInterfaceId = "{31BCFCE2-DAFB-11D2-9F81-00C04F79A0A3}";

std::string Truth(bool value) { return value ? "1" : "0"; }

std::string OrderText(int order) { return order > 0 ? "1" : order < 0 ? "-1" : "0"; }

long double Number(const std::string& text) { return ReadExtendedNumber(text, 0); }

// ---------------------------------------------------------------------------------------------
// Dates

struct DateTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  auto Key() const { return std::tie(year, month, day, hour, minute, second); }
};

std::string FormatDateTime(const DateTime& t) {
  const char date = os::DateSeparator();
  const char time = os::TimeSeparator();
  char text[64];
  std::snprintf(text, sizeof text, "%02d%c%02d%c%04d %02d%c%02d%c%02d", t.month, date, t.day, date,
                t.year, t.hour, time, t.minute, time, t.second);
  return text;
}

// The write time of a file as the packed file date holds it: local time, even seconds. The
// packed form only spans 1980 to 2107; times outside it keep their true year rather than
// turning into a made-up date.
std::string FileDateText(const std::string& file) {
  DateTime zero{1899, 12, 30};
  if (!FileExists(file)) return FormatDateTime(zero);
  std::optional<int64_t> writeTime = os::GetFileWriteTime(file);
  os::LocalDateTime local;
  if (!writeTime || !os::FileTimeToLocalTime(*writeTime, local)) return FormatDateTime(zero);
  return FormatDateTime(
      {local.year, local.month, local.day, local.hour, local.minute, local.second & ~1});
}

// Reads 1 to maxDigits decimal digits at pos; the count read, 0 when none.
int ReadDigits(const std::string& text, size_t& pos, int maxDigits, int& value) {
  int count = 0;
  value = 0;
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && count < maxDigits) {
    value = value * 10 + (text[pos] - '0');
    ++pos;
    ++count;
  }
  // More digits than the field may have make the text unreadable, not a shorter field.
  if (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') return 0;
  return count;
}

bool ReadField(const std::string& text, size_t& pos, int& value, char separator) {
  int digits = ReadDigits(text, pos, 2, value);
  if (digits == 0) return false;
  if (separator == 0) return true;
  if (pos >= text.size() || text[pos] != separator) return false;
  ++pos;
  return true;
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// The fixed form m/d/y [h:m[:s]] whatever the user's settings: month, day, hour, minute and
// second take one or two digits, the year four, or one or two for 2000-2049 ("3", "03") and
// 1950-1999 ("99"). Blanks around the text and between date and time are allowed.
bool ReadDateTime(const std::string& source, DateTime& result) {
  const std::string text = Trim(source);
  size_t pos = 0;
  DateTime t;
  if (!ReadField(text, pos, t.month, '/') || !ReadField(text, pos, t.day, '/')) return false;
  int yearDigits = ReadDigits(text, pos, 4, t.year);
  if (yearDigits == 1 || yearDigits == 2) {
    t.year += t.year < 50 ? 2000 : 1900;
  } else if (yearDigits != 4) {
    return false;
  }
  if (pos < text.size()) {
    if (text[pos] != ' ') return false;
    while (pos < text.size() && text[pos] == ' ') ++pos;
    if (!ReadField(text, pos, t.hour, ':') || !ReadField(text, pos, t.minute, 0)) return false;
    if (pos < text.size() && text[pos] == ':') {
      ++pos;
      if (!ReadField(text, pos, t.second, 0)) return false;
    }
    if (pos != text.size()) return false;
  }
  if (t.year < 1 || t.month < 1 || t.month > 12 || t.day < 1 ||
      t.day > DaysInMonth(t.year, t.month) || t.hour > 23 || t.minute > 59 || t.second > 59) {
    return false;
  }
  result = t;
  return true;
}

DateTime DateArgument(const std::string& text) {
  DateTime t;
  if (!ReadDateTime(text, t)) throw KxError("'" + text + "' is not a valid date and time.");
  return t;
}

// ---------------------------------------------------------------------------------------------
// Texts and numbers

std::string SubStr(const std::string& text, const std::string& startText,
                   const std::string& countText) {
  int32_t start = ReadInt(startText, 1);
  const int32_t count = ReadInt(countText, 0);
  if (start < 1) start = 1;
  if (count <= 0 || static_cast<size_t>(start) > text.size()) return std::string();
  return text.substr(static_cast<size_t>(start) - 1, static_cast<size_t>(count));
}

// Halves go to the even neighbour, whatever rounding mode the thread has set.
std::string RoundText(const std::string& text) {
  const long double x = Number(text);
  long double whole = std::floor(x);
  const long double fraction = x - whole;
  if (fraction > 0.5L || (fraction == 0.5L && std::fmod(whole, 2.0L) != 0)) whole += 1;
  if (whole < -2147483648.0L || whole > 2147483647.0L) {
    throw KxError("Round: " + text + " is out of the range of a 32-bit integer.");
  }
  return std::to_string(static_cast<int32_t>(whole));
}

std::string FilePathText(const std::string& path) {
  return WithoutTrailingBackslash(ExtractFilePath(path));
}

std::string FileSizeText(const std::string& file) {
  const int64_t size = FileSize(file);
  if (size < 0) return "-1";
  return std::to_string(static_cast<int32_t>(static_cast<uint32_t>(size)));
}

// ---------------------------------------------------------------------------------------------
// Plug-in functions

// The block a plug-in receives with EV_CALCFUNCTION: this header, then the name and the
// arguments, each zero-terminated, the arguments closed by one more zero byte. Pointers are
// pointer-sized and the record packed, so on 32-bit systems the header is the 12 bytes that
// plug-ins written for them expect.
#pragma pack(push, 1)
struct TkxCalcFunctionBlock {
  int32_t ID;
  intptr_t Name;
  intptr_t Args;
};
#pragma pack(pop)
static_assert(sizeof(void*) != 4 || sizeof(TkxCalcFunctionBlock) == 12);

struct BlockDeleter {
  void operator()(void* block) const { FreeMem(block); }
};
using BlockPtr = std::unique_ptr<char, BlockDeleter>;

}  // namespace

TkxEvaluator::TkxEvaluator(TkxMainDatabase& database) : database_(database) {
  OperandChars.set('%');
  OperandChars.set('.');
  SymbolChars.reset('%');

  AddOperator("+", okPrefix | okInfix, 3);
  AddOperator("-", okPrefix | okInfix, 3);
  AddOperator("*", okInfix, 4);
  AddOperator("/", okInfix, 4);
  AddOperator("&", okInfix, 3);
  AddOperator("=", okInfix, 2);
  AddOperator("<>", okInfix, 2);
  AddOperator("and", okInfix, 1);
  AddOperator("or", okInfix, 0);
  AddOperator("not", okPrefix, 5);
  AddOperator("<", okInfix, 2);
  AddOperator(">", okInfix, 2);
  AddOperator("<=", okInfix, 2);
  AddOperator(">=", okInfix, 2);

  for (const FunctionEntry& entry : kFunctions) AddFunction(entry.name, entry.argCount, nullptr);
}

int32_t TkxEvaluator::RegisterFunction(const void* plugin, const std::string& name,
                                       int32_t argCount) {
  // A function without owner would be taken for a built-in one; a name no token can spell and an
  // argument count the parser never matches would only make a function nobody can call.
  if (!plugin || name.empty() || argCount < -1) return 0;
  if (IsFunction(name)) return 0;
  return AddFunction(name, argCount, plugin)->ID;
}

std::string TkxEvaluator::CalcExpression(const std::string& text) {
  std::string expression;
  expression.reserve(text.size());
  for (char c : text) {
    if (c == '\n') continue;
    expression += c == '\r' ? ' ' : c;
  }
  // The parser keeps its reading position in the evaluator, so a condition met in the middle of
  // an evaluation (a feature's, a variable's) must not be read by the same one.
  if (busy_) return Nested().CalcExpression(expression);
  struct Busy {
    int& count;
    explicit Busy(int& c) : count(c) { ++count; }
    ~Busy() { --count; }
  } busy(busy_);
  SetExpression(expression);
  std::string result;
  Evaluate(result);
  return result;
}

TkxEvaluator& TkxEvaluator::Nested() {
  if (!nested_) {
    nested_ = std::make_unique<TkxEvaluator>(database_);
    nested_->root_ = root_;
  }
  const auto& mine = Functions.Items();
  for (size_t i = nested_->Functions.Items().size(); i < mine.size(); ++i) {
    nested_->AddFunction(mine[i]->Name, mine[i]->ArgCount, mine[i]->Owner);
  }
  return *nested_;
}

bool TkxEvaluator::CalcBool(const std::string& text) { return CalcExpression(text) == "1"; }

bool TkxEvaluator::CheckOperand(std::string& operand) {
  operand = ExpandText(&database_, operand);
  return true;
}

int TkxEvaluator::OperatorIndexOf(const TzrOperator& op) const {
  const auto& items = Operators.Items();
  for (size_t i = 0; i < items.size(); ++i) {
    if (items[i].get() == &op) return static_cast<int>(i);
  }
  return -1;
}

void TkxEvaluator::CalcOperator(const TzrOperator& op, bool infix, std::string& result,
                                const std::string& right, const std::string& left) {
  switch (OperatorIndexOf(op)) {
    case kPlus:
      result = FormatNumber(infix ? Number(left) + Number(right) : Number(right));
      break;
    case kMinus:
      result = FormatNumber(infix ? Number(left) - Number(right) : -Number(right));
      break;
    case kTimes:
      result = FormatNumber(Number(left) * Number(right));
      break;
    case kDivide: {
      const long double divisor = Number(right);
      if (divisor == 0) throw KxError("Division by zero.");
      result = FormatNumber(Number(left) / divisor);
      break;
    }
    case kConcat:
      result = left + right;
      break;
    case kEqual:
      result = Truth(left == right);
      break;
    case kNotEqual:
      result = Truth(left != right);
      break;
    case kAnd:
      result = Truth(left == "1" && right == "1");
      break;
    case kOr:
      result = Truth(left == "1" || right == "1");
      break;
    case kNot:
      result = Truth(right != "1");
      break;
    case kLess:
      result = Truth(Number(left) < Number(right));
      break;
    case kGreater:
      result = Truth(Number(left) > Number(right));
      break;
    case kLessEqual:
      result = Truth(Number(left) <= Number(right));
      break;
    case kGreaterEqual:
      result = Truth(Number(left) >= Number(right));
      break;
    default:
      throw KxError("Unknown operator \"" + op.Name + "\".");
  }
}

void TkxEvaluator::CalcFunction(const TzrFunction& fn, const std::vector<std::string>* args,
                                std::string& result) {
  if (fn.Owner) {
    result = CalcPluginFunction(fn, args);
    return;
  }
  // The parser hands over exactly ArgCount arguments; a missing one reads as empty all the same.
  auto arg = [args](size_t index) -> const std::string& {
    static const std::string kNone;
    return args && index < args->size() ? (*args)[index] : kNone;
  };
  switch (fn.ID) {
    case kIif:
      result = arg(0) == "1" ? arg(1) : arg(2);
      break;
    case kFilePath:
      result = FilePathText(arg(0));
      break;
    case kFileName:
      result = ExtractFileName(arg(0));
      break;
    case kNormalPath:
      result = WithTrailingBackslash(arg(0));
      break;
    case kFileVersion:
      result = FileVersionText(arg(0));
      if (result.empty()) result = "0";
      break;
    case kFileDate:
      result = FileDateText(arg(0));
      break;
    case kFileExists:
      result = Truth(FileExists(arg(0)));
      break;
    case kFolderExists:
      result = Truth(FolderExists(arg(0)));
      break;
    case kCompareVersion:
      // Both halves compare unsigned: a major version of 32768 or more is newer than 1.0.
      result = OrderText(CompareVersions(arg(0), arg(1)));
      break;
    case kCompareDate: {
      const DateTime a = DateArgument(arg(0));
      const DateTime b = DateArgument(arg(1));
      result = OrderText(a.Key() < b.Key() ? -1 : b.Key() < a.Key() ? 1 : 0);
      break;
    }
    case kCompareText:
      result = OrderText(os::CompareTextIgnoreCase(arg(0), arg(1)));
      break;
    case kRegKeyExists:
      result = Truth(RegKeyExists(arg(0)));
      break;
    case kRegParamExists:
      result = Truth(RegValueExists(arg(0), arg(1)));
      break;
    case kRegParam:
      result = RegReadText(arg(0), arg(1), arg(2));
      break;
    case kAskUser:
      result = AskUser(arg(0), arg(1), arg(2), arg(3));
      break;
    case kSubStr:
      result = SubStr(arg(0), arg(1), arg(2));
      break;
    case kFindSubStr:
      result = std::to_string(FindFrom(arg(1), arg(0), ReadInt(arg(2), 1)));
      break;
    case kLength:
      result = std::to_string(arg(0).size());
      break;
    case kFileSize:
      result = FileSizeText(arg(0));
      break;
    case kRound:
      result = RoundText(arg(0));
      break;
    case kRenameFile:
      // The rename is best effort, as the project expects, and the log records the new name.
      os::MoveFile(arg(0), arg(1));
      if (arg(2) == "1" && root_->LogCopiedFile) root_->LogCopiedFile(arg(1));
      result = "1";
      break;
    case kActiveInstallType: {
      const TkxInstallType* active =
          database_.InstallTypes ? database_.InstallTypes->Active : nullptr;
      result = active ? active->ID : std::string();
      break;
    }
    case kFeatureEnabled:
      result = Truth(FeatureEnabled(arg(0)));
      break;
    case kDotNetInstalled:
      result = Truth(os::CanCreateInProcessObject(kDotNetClassId, kDotNetInterfaceId));
      break;
    default:
      result.clear();  // registered without an owner: nothing computes it
      break;
  }
}

bool TkxEvaluator::FeatureEnabled(const std::string& id) const {
  if (!database_.Features) return false;
  const auto* feature = dynamic_cast<const TkxFeature*>(database_.Features->FindByID(id));
  return feature && feature->Selected && CheckCondition(*feature);
}

std::string TkxEvaluator::AskUser(const std::string& caption, const std::string& text,
                                  const std::string& icon, const std::string& buttons) {
  const std::string key = "*" + text + "*";
  const std::string prefix = UpperCaseText(key + "=");
  // The question may hold "=" itself, so the line is matched on the whole key, not split at the
  // first "=".
  std::vector<std::string>& answers = root_->AskUserAnswers;
  for (const std::string& line : answers) {
    if (line.size() >= prefix.size() && UpperCaseText(line.substr(0, prefix.size())) == prefix) {
      return line.substr(prefix.size());
    }
  }
  static const uint32_t kIcons[] = {os::kMbIconInformation, os::kMbIconQuestion,
                                    os::kMbIconExclamation, os::kMbIconStop};
  static const uint32_t kButtons[] = {os::kMbOk, os::kMbYesNo, os::kMbOkCancel};
  const int32_t iconCode = ReadInt(icon, 0);
  const int32_t buttonCode = ReadInt(buttons, 0);
  uint32_t flags = iconCode >= 0 && iconCode < 4 ? kIcons[iconCode] : 0;
  flags |= buttonCode >= 0 && buttonCode < 3 ? kButtons[buttonCode] : os::kMbOk;
  const int answer = ShowMessageBox(ActiveWindow(), caption, text, flags);
  const std::string value = Truth(answer == os::kIdOk || answer == os::kIdYes);
  answers.push_back(key + "=" + value);
  return value;
}

std::string TkxEvaluator::CalcPluginFunction(const TzrFunction& fn,
                                             const std::vector<std::string>* args) {
  const size_t header = sizeof(TkxCalcFunctionBlock);
  size_t size = header + fn.Name.size() + 1;
  if (args && !args->empty()) {
    for (const std::string& a : *args) size += a.size() + 1;
    size += 1;
  } else {
    size += 2;
  }
  BlockPtr block(static_cast<char*>(AllocMem(size)));
  if (!block) throw KxError("Out of memory calling the function " + fn.Name + ".");

  char* const name = block.get() + header;
  std::memcpy(name, fn.Name.data(), fn.Name.size());
  char* const first = name + fn.Name.size() + 1;
  char* p = first;
  if (args) {
    for (const std::string& a : *args) {
      std::memcpy(p, a.data(), a.size());  // the zero after it is there already
      p += a.size() + 1;
    }
  }
  TkxCalcFunctionBlock fields{fn.ID, reinterpret_cast<intptr_t>(name),
                              reinterpret_cast<intptr_t>(first)};
  std::memcpy(block.get(), &fields, header);

  const intptr_t answer = PluginChannel().SendToPlugin(fn.Owner, EV_CALCFUNCTION,
                                                       reinterpret_cast<intptr_t>(block.get()), 0);
  if (!answer) return std::string();
  BlockPtr text(reinterpret_cast<char*>(answer));
  return std::string(text.get());
}
