// Common: the number conversions and small arithmetic helpers of the expression evaluator; and
// the run's own objects (main database, evaluator, silent settings), its predefined variables,
// the language switch and the numbered messages.
//
// Conversions never depend on the machine's locale: "." is always the decimal point. They are pure
// and may be called from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "os/os.h"

#include "support/zrStrUtils.h"  // ReadInt, shared with the support library

// The unsigned decimal text of a 32-bit value: UIntToText(ReadInt("4294967295", 0)) is
// "4294967295".
std::string UIntToText(uint32_t value);

// Text read as a decimal floating-point number: leading blanks, an optional sign, digits with an
// optional "." (at least one digit in all), and an optional exponent ("e" or "E", optional sign,
// digits). Nothing may follow. defaultValue when the text cannot be read or its value is beyond
// what a double holds (too large, or so small it would read as zero: "1e-400"); infinities and NaN
// are never read.
double ReadNumber(const std::string& text, double defaultValue);

// ReadNumber in extended precision (80-bit where the compiler has it), for the arithmetic of
// expressions. The same grammar; defaultValue beyond the range of long double.
long double ReadExtendedNumber(const std::string& text, long double defaultValue);

// 1, 0 or -1 for a positive, zero or negative x; 0 for NaN.
int Sign(double x);

// a when cond is true, else b. Both are computed by the caller. Arguments of different types do
// not compile, except texts, which meet as std::string.
template <typename T>
constexpr T Choose(bool cond, const T& a, const T& b) {
  return cond ? a : b;
}

inline std::string Choose(bool cond, const std::string& a, const std::string& b) {
  return cond ? a : b;
}

// ---------------------------------------------------------------------------------------------
// The run's objects, its predefined variables, languages and messages. Main thread unless said
// otherwise; the text services (ReadLanguageText, GetMessage) also run on the worker thread.

class TkxMainDatabase;
class TkxSilentSettings;
class TkxEvaluator;
class TkxPackage;
class TkxComponent;

// The one main database, evaluator and silent settings of the run, made on first use with the
// hooks wired: conditions are tested by the evaluator's CalcBool, feature and install-type
// changes are broadcast to the plug-ins.
TkxMainDatabase& MainDatabase();
TkxEvaluator& Evaluator();
TkxSilentSettings& SilentSettings();
// Frees the three and unwires the hooks (the end of the run; tests start afresh with it). The
// driver calls it before the program ends: the objects are not freed at static destruction.
void FreeRunObjects();

// The application name used as caption of the plain error box; set by every SetLanguage.
std::string& AppTitle();

// Sets the predefined variables: folders, SourcePath, OSPlatform, OSVersion, QuickLaunch,
// ParamStr, SilentMode, then the environment. SourcePath is the folder of
// RunState().SetupFileName, or of the running program while that is empty. SilentMode keeps a
// value that the project or the silent settings gave; without one it is 1 with the switch "s".
void InitRuntimeVariables();
// Copies the silent settings' variables (those whose condition holds) into the main database.
void ApplySilentVariables();

// Switches to the language with that abbreviation ("DEU"): sets LangID, takes AppTitle (and the
// caption of the plain error box) from AppName, and sends EV_LANGUAGECHANGED to every plug-in.
void SetLanguage(const std::string& langID);
// TempPath of package 0 (a backslash added when it lacks one) + "lng\" + LangID + ".lng". ""
// while there is no package 0 or it has no TempPath yet: nothing has been extracted, so there is
// no language file, and a path relative to the current folder could reach a stranger's file.
std::string LanguageFileName();
// A value of the current language file, expanded; defaultValue when missing. Read through the
// INI cache, so a file is read once; each call asks for the file of the current LangID. A "%"
// that does not open a reference to a known variable stays a literal "%" (the "%s" of messages
// never swallows a later %AppName%). Errors of the expansion pass to the caller.
std::string ReadLanguageText(const std::string& section, const std::string& key,
                             const std::string& defaultValue);
// Message number of section "Strings" of the current language file; "" when missing.
std::string GetMessage(int32_t number);
// The message with its first "%s" replaced by argument. The text comes from a language file, so
// it is never read as a format: any other "%" stays as it is.
std::string FillMessage(std::string message, const std::string& argument);
// The character-set number of fonts in that language, from the first installed locale with that
// abbreviation; 1 (the default set) when none has it or its code page has no character set.
int32_t LanguageCharset(const std::string& langID);

// The window the plug-ins name as active, the owner of the engine's boxes; null without one.
os::WindowHandle ActiveWindow();
// An error box with a caption, owned by ActiveWindow().
void ErrorBox(const std::string& caption, const std::string& text);

// package: the package whose FileName is the component's Package (case ignored), or null.
using TkxComponentHandler =
    std::function<bool(TkxPackage* package, TkxComponent& component, void* data)>;
// Calls handler for every component of the main database in list order. False as soon as a
// handler answers false; true, and no further calls, once the run is suspended for a reboot.
bool ForEachComponent(const TkxComponentHandler& handler, void* data);
// The same over the Components of package 0, which every call receives as package.
bool ForEachMainPackageComponent(const TkxComponentHandler& handler, void* data);

// Dispatches window messages until duration milliseconds have passed since the tick count
// start (or the tick count wrapped below start).
void WaitDispatching(uint32_t start, uint32_t duration);
