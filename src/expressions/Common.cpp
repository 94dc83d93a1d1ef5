#include "expressions/Common.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <optional>

#include "database/KXClasses.h"
#include "expressions/Evaluator.h"
#include "expressions/PluginChannel.h"
#include "support/RunState.h"
#include "support/WinVersion.h"
#include "support/SafeNames.h"
#include "support/zrFileUtils.h"
#include "support/zrRegIni.h"
#include "support/zrStrUtils.h"
#include "support/zrUtils.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

size_t SkipDigits(const std::string& text, size_t pos) {
  while (pos < text.size() && IsDigit(text[pos])) ++pos;
  return pos;
}

size_t SkipSign(const std::string& text, size_t pos) {
  return pos < text.size() && (text[pos] == '+' || text[pos] == '-') ? pos + 1 : pos;
}

// Checks the grammar of a decimal number from pos to the end of text. TextToDouble alone
// would also take "inf", "nan" and other forms the setting files never mean.
bool IsDecimalNumber(const std::string& text, size_t pos) {
  pos = SkipSign(text, pos);
  size_t intEnd = SkipDigits(text, pos);
  size_t mantissaDigits = intEnd - pos;
  pos = intEnd;
  if (pos < text.size() && text[pos] == '.') {
    size_t fracEnd = SkipDigits(text, pos + 1);
    mantissaDigits += fracEnd - (pos + 1);
    pos = fracEnd;
  }
  if (mantissaDigits == 0) return false;
  if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
    size_t expStart = SkipSign(text, pos + 1);
    pos = SkipDigits(text, expStart);
    if (pos == expStart) return false;
  }
  return pos == text.size();
}

}  // namespace

std::string UIntToText(uint32_t value) { return std::to_string(value); }

double ReadNumber(const std::string& text, double defaultValue) {
  size_t pos = text.find_first_not_of(' ');
  if (pos == std::string::npos || !IsDecimalNumber(text, pos)) return defaultValue;
  // TextToDouble takes "-" but not "+".
  if (text[pos] == '+') ++pos;
  return TextToDouble(text.substr(pos)).value_or(defaultValue);
}

long double ReadExtendedNumber(const std::string& text, long double defaultValue) {
  size_t pos = text.find_first_not_of(' ');
  if (pos == std::string::npos || !IsDecimalNumber(text, pos)) return defaultValue;
  // The grammar was checked, so strtold reads the whole rest; the engine never sets a C locale,
  // so its decimal point is ".".
  const char* start = text.c_str() + pos;
  char* end = nullptr;
  errno = 0;
  long double value = std::strtold(start, &end);
  if (errno == ERANGE || end != text.c_str() + text.size()) return defaultValue;
  return value;
}

int Sign(double x) {
  if (x > 0) return 1;
  if (x < 0) return -1;
  return 0;
}

// ---------------------------------------------------------------------------------------------
// The run's objects, its predefined variables, languages and messages

namespace {

struct TRunObjects {
  std::unique_ptr<TkxMainDatabase> database;
  std::unique_ptr<TkxEvaluator> evaluator;
  std::unique_ptr<TkxSilentSettings> silentSettings;
};

// Never destroyed: the objects go with FreeRunObjects, which the driver calls at the end of the
// run. Destroying them at static destruction could reach the binding's class descriptions after
// they are gone.
TRunObjects& Holder() {
  static TRunObjects* holder = new TRunObjects;
  return *holder;
}

// The text lives in a copy of its own for the whole broadcast, whatever the plug-ins change
// meanwhile through their commands.
void BroadcastText(int32_t event, std::string text, intptr_t second) {
  PluginChannel().Broadcast(event, reinterpret_cast<intptr_t>(text.c_str()), second, true);
}

void WireHooks(TkxMainDatabase& database, TkxEvaluator& evaluator) {
  ConditionHook = [&evaluator](const std::string& condition) {
    return evaluator.CalcBool(condition);
  };
  database.OnInstallTypeChanged = [](TkxInstallType* installType) {
    BroadcastText(EV_INSTALLTYPECHANGED, installType ? installType->ID : std::string(), 0);
  };
  database.OnFeatureStateChanged = [](TkxFeature* feature) {
    if (!feature) return;
    BroadcastText(EV_FEATURESTATECHANGED, feature->ID, FeatureState(*feature));
  };
}

TRunObjects& RunObjects() {
  TRunObjects& objects = Holder();
  if (objects.database) return objects;
  // Made complete before anything is stored, so that a failure leaves no half-made set behind.
  auto database = std::make_unique<TkxMainDatabase>();
  auto evaluator = std::make_unique<TkxEvaluator>(*database);
  auto silentSettings = std::make_unique<TkxSilentSettings>();
  WireHooks(*database, *evaluator);
  objects.evaluator = std::move(evaluator);
  objects.silentSettings = std::move(silentSettings);
  objects.database = std::move(database);
  return objects;
}

// "NT4" stands for every NT before 2000, "XP" for everything after it and for Win32s.
std::string OSVersionName(TWinKind kind) {
  switch (kind) {
    case TWinKind::kWin95:
      return "95";
    case TWinKind::kWin98:
      return "98";
    case TWinKind::kWinNT:
      return "NT4";
    case TWinKind::kWin2000:
      return "2K";
    case TWinKind::kWinMe:
      return "ME";
    case TWinKind::kWin32s:
    case TWinKind::kWinXP:
      break;
  }
  return "XP";
}

std::string SetupFolder() {
  std::string program = RunState().SetupFileName;
  if (Trim(program).empty()) program = os::ModuleFileName();
  return ExtractFilePath(program);
}

std::string CommandLineParameters() {
  std::string program;
  std::string parameters;
  SplitCommandLine(os::CommandLine(), program, parameters);
  return parameters;
}

// Messages hold "%s" for the caller's argument, and ExpandText reads a name from any "%" to the
// next one: in "Version %s or newer is needed for %AppName%." it would take "s or newer is needed
// for " as the name and swallow the "%" that opens %AppName%, which then stays unexpanded. So
// every "%" that does not open a reference to a known variable is written as the literal "%%"
// before expansion, and the search for references goes on from the next "%".
std::string ProtectLonePercents(const std::string& text, const TkxVariables* variables) {
  std::string result;
  result.reserve(text.size() + 8);
  size_t pos = 0;
  while (pos < text.size()) {
    size_t open = text.find('%', pos);
    if (open == std::string::npos) {
      result.append(text, pos, std::string::npos);
      break;
    }
    result.append(text, pos, open - pos);
    size_t close = text.find('%', open + 1);
    if (close == open + 1) {  // "%%" is already a literal "%"
      result += "%%";
      pos = close + 1;
      continue;
    }
    std::string name =
        close == std::string::npos ? std::string() : text.substr(open + 1, close - open - 1);
    if (!name.empty() && variables && variables->FindByName(name)) {
      result.append(text, open, close - open + 1);
      pos = close + 1;
    } else {
      result += "%%";
      pos = open + 1;
    }
  }
  return result;
}

bool VisitComponents(const TkxComponents* components, TkxPackage* everyonesPackage,
                     const TkxComponentHandler& handler, void* data) {
  if (!components) return true;
  const TkxPackages* packages = MainDatabase().Packages.get();
  // By index and with the count read each time: a handler may add or remove components.
  for (int index = 0; index < components->Count(); ++index) {
    TkxComponent* component = components->Items(index);
    if (!component) continue;
    TkxPackage* package = everyonesPackage;
    if (!package && packages) package = packages->FindByFileName(component->Package);
    if (!handler(package, *component, data)) return false;
    if (RunState().InstallSuspended) return true;
  }
  return true;
}

TkxPackage* MainPackage() {
  const TkxPackages* packages = MainDatabase().Packages.get();
  return packages && packages->Count() > 0 ? packages->Items(0) : nullptr;
}

}  // namespace

TkxMainDatabase& MainDatabase() { return *RunObjects().database; }

TkxEvaluator& Evaluator() { return *RunObjects().evaluator; }

TkxSilentSettings& SilentSettings() { return *RunObjects().silentSettings; }

void FreeRunObjects() {
  ConditionHook = nullptr;
  TRunObjects& objects = Holder();
  // The evaluator reads the database, so it goes first.
  objects.evaluator.reset();
  objects.silentSettings.reset();
  objects.database.reset();
}

std::string& AppTitle() {
  static std::string title;
  return title;
}

void InitRuntimeVariables() {
  TkxMainDatabase& database = MainDatabase();
  AddFolderVariables(database);

  SetRuntimePath(database, "SourcePath", SetupFolder());
  const TWinVersion& version = WinVersion();
  SetRuntimeVariable(database, "OSPlatform",
                     version.Platform == os::Platform::kWindowsNT ? "NT" : "9X");
  SetRuntimeVariable(database, "OSVersion", OSVersionName(version.Kind));
  // Kept unexpanded: ApplicationData may still change (silent settings, plug-ins).
  SetRuntimeVariable(database, "QuickLaunch",
                     "%ApplicationData%\\Microsoft\\Internet Explorer\\Quick Launch");
  SetRuntimeVariable(database, "ParamStr", CommandLineParameters());

  // A value from the project or the silent settings wins over the switch.
  int32_t silentMode = GetVariableInt(&database, "SilentMode", SwitchPresent("s") ? 1 : 0);
  SetVariableInt(&database, "SilentMode", silentMode);

  AddEnvironmentVariables(database);
}

void ApplySilentVariables() {
  const TkxVariables* variables = SilentSettings().Variables.get();
  if (!variables) return;
  TkxMainDatabase& database = MainDatabase();
  for (int index = 0; index < variables->Count(); ++index) {
    const TkxVariable* variable = variables->Items(index);
    if (!variable || !CheckCondition(*variable)) continue;
    SetVariable(&database, variable->Name, variable->Value);
  }
}

void SetLanguage(const std::string& langID) {
  std::string abbreviation = langID;
  TkxMainDatabase& database = MainDatabase();
  SetVariable(&database, "LangID", abbreviation);
  AppTitle() = GetVariable(&database, "AppName", "Application");
  MessageBoxSettings().applicationName = AppTitle();
  BroadcastText(EV_LANGUAGECHANGED, abbreviation, 0);
}

std::string LanguageFileName() {
  const TkxPackage* package = MainPackage();
  if (!package || Trim(package->TempPath).empty()) return std::string();
  // The abbreviation comes from a database, the silent settings or a plug-in: a name that is not
  // a plain file name has no language file, whatever file it would reach.
  const std::string fileName = GetVariable(&MainDatabase(), "LangID", "ENU") + ".lng";
  if (!IsSafeFileName(fileName)) return std::string();
  return WithTrailingBackslash(package->TempPath) + "lng\\" + fileName;
}

std::string ReadLanguageText(const std::string& section, const std::string& key,
                             const std::string& defaultValue) {
  TkxMainDatabase& database = MainDatabase();
  std::string file = LanguageFileName();
  std::string value = file.empty() ? defaultValue : IniReadString(file, section, key, defaultValue);
  return ExpandText(&database, ProtectLonePercents(value, database.Variables.get()));
}

std::string GetMessage(int32_t number) {
  return ReadLanguageText("Strings", std::to_string(number), std::string());
}

std::string FillMessage(std::string message, const std::string& argument) {
  const size_t at = message.find("%s");
  return at == std::string::npos ? message : message.replace(at, 2, argument);
}

int32_t LanguageCharset(const std::string& langID) {
  constexpr int32_t kDefaultCharset = 1;
  std::string wanted = UpperCaseText(langID);
  // A locale the system cannot name has an empty abbreviation, which must not match.
  if (wanted.empty()) return kDefaultCharset;
  for (uint32_t locale : os::InstalledLocaleIds()) {
    if (UpperCaseText(os::LocaleLanguageAbbreviation(locale)) != wanted) continue;
    std::optional<int32_t> codePage = TextToInt(os::LocaleAnsiCodePage(locale));
    uint32_t charset = 0;
    // Code page 0 belongs to the locales without an ANSI code page; the system would read it
    // as its own code page and give that one's set.
    if (codePage && *codePage > 0 &&
        os::CharsetOfCodePage(static_cast<uint32_t>(*codePage), charset)) {
      return static_cast<int32_t>(charset);
    }
    return kDefaultCharset;
  }
  return kDefaultCharset;
}

os::WindowHandle ActiveWindow() {
  intptr_t answer = PluginChannel().BroadcastNamed("CM_GETACTIVEWINDOW", 0, 0, false);
  return reinterpret_cast<os::WindowHandle>(answer);
}

void ErrorBox(const std::string& caption, const std::string& text) {
  ShowMessageBox(ActiveWindow(), caption, text, os::kMbIconStop);
}

bool ForEachComponent(const TkxComponentHandler& handler, void* data) {
  return VisitComponents(MainDatabase().Components.get(), nullptr, handler, data);
}

bool ForEachMainPackageComponent(const TkxComponentHandler& handler, void* data) {
  TkxPackage* package = MainPackage();
  if (!package) return true;
  return VisitComponents(package->Components.get(), package, handler, data);
}

void WaitDispatching(uint32_t start, uint32_t duration) {
  // Short sleeps between the rounds keep the splash window responsive without spinning a core.
  constexpr uint32_t kRoundMilliseconds = 10;
  for (;;) {
    os::PumpMessages();
    uint32_t now = os::TickCount();
    if (now < start) return;  // the tick count wrapped
    uint32_t elapsed = now - start;
    if (elapsed >= duration) return;
    os::Sleep(std::min(duration - elapsed, kRoundMilliseconds));
  }
}
