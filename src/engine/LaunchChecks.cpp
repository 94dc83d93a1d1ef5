#include "engine/LaunchChecks.h"

#include <optional>
#include <tuple>

#include "database/KXClasses.h"
#include "expressions/Common.h"
#include "plugins/PlugImpl.h"
#include "support/Errors.h"
#include "support/zrStrUtils.h"
#include "support/zrUtils.h"

namespace {

struct TCheckMessage {
  int Number;
  const char* English;  // for a language file that lacks it: a refusal never comes without a reason
};
constexpr TCheckMessage kNeedsAdmin = {
    10, "You need to have administrative rights on this computer to install this application."};
constexpr TCheckMessage kUnsupported = {13, "This operating system is not supported!"};
constexpr TCheckMessage kTooOld = {
    14, "Your operating system version is too old.||Version %s or newer is needed for %AppName%."};

std::string Text(const TCheckMessage& message) {
  return ReadLanguageText("Strings", std::to_string(message.Number), message.English);
}

bool Listed(const char* token, const std::string& list) {
  return WordInList(token, list, CharSet(","), true);
}

// The number of the part-th word of text, or the system's own value when there is none.
int VersionPart(const std::string& text, int part, int own) {
  const std::string word = GetWord(part, text, CharSet("."));
  if (word.empty()) return own;
  return TextToInt(word).value_or(own);
}

std::string Variable(const std::string& name) { return GetVariable(&MainDatabase(), name, ""); }

bool Refuse(const std::string& message) {
  ShowWarningBox(message);
  return false;
}

// Each condition that does not hold ends the checks; its message, when it has one, says why.
bool LaunchConditionsHold() {
  const TkxLaunchConditions& conditions = *MainDatabase().LaunchConditions;
  for (int index = 0; index < conditions.Count(); ++index) {
    const TkxLaunchCondition& condition = *conditions.Items(index);
    if (CheckCondition(condition)) continue;
    const std::string message = ExpandText(&MainDatabase(), condition.Msg);
    return message.empty() ? false : Refuse(message);
  }
  return true;
}

}  // namespace

bool SystemSupported(const std::string& supportedOS, const TWinVersion& system) {
  if (supportedOS.empty()) return true;
  if (system.Platform == os::Platform::kWindowsNT) {
    return Listed("NT", supportedOS) || (system.Major == 4 && Listed("NT4", supportedOS)) ||
           (system.Kind == TWinKind::kWin2000 && Listed("2K", supportedOS)) ||
           (system.Kind == TWinKind::kWinXP && Listed("XP", supportedOS));
  }
  return Listed("9X", supportedOS) ||
         (system.Kind == TWinKind::kWin95 && Listed("95", supportedOS)) ||
         (system.Kind == TWinKind::kWin98 && Listed("98", supportedOS)) ||
         (system.Kind == TWinKind::kWinMe && Listed("ME", supportedOS));
}

bool VersionAtLeast(const std::string& minOSVersion, const TWinVersion& system) {
  const auto wanted = std::make_tuple(VersionPart(minOSVersion, 1, system.Major),
                                      VersionPart(minOSVersion, 2, system.Minor),
                                      VersionPart(minOSVersion, 3, system.Build));
  return std::make_tuple(system.Major, system.Minor, system.Build) >= wanted;
}

bool UserIsAdministrator() {
  if (IsPlatform9x()) return true;
  switch (os::UserAdminState()) {
    case os::AdminState::kAdministrator:
      return true;
    case os::AdminState::kNoGroupSid:
      throw KxError("Can't initialize a SID");
    case os::AdminState::kNotAdministrator:
      break;
  }
  return false;
}

bool RunLaunchChecks() {
  const TWinVersion& system = WinVersion();
  if (!SystemSupported(UpperCaseText(Variable("SupportedOS")), system)) {
    return Refuse(Text(kUnsupported));
  }
  const std::string minOSVersion = Variable("MinOSVersion");
  if (!minOSVersion.empty() && !VersionAtLeast(minOSVersion, system)) {
    return Refuse(FillMessage(Text(kTooOld), minOSVersion));
  }
  if (GetVariableInt(&MainDatabase(), "AdminRights", 0) != 0 && !UserIsAdministrator()) {
    return Refuse(Text(kNeedsAdmin));
  }
  if (!LaunchConditionsHold()) return false;
  // A plug-in may know of reasons the project's rules cannot express; it shows its own message.
  return Broadcast(EV_CHECKLAUNCHCONDITIONS, 0, 0, false) == 0;
}
