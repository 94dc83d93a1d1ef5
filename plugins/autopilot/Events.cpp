#include "Events.h"

#include <cstdlib>

#include "Text.h"
#include "kxplugin.h"

namespace autopilot {
namespace {

const char* const kEventNames[] = {
    "",
    "EV_SETSTARTUPINFO",
    "EV_LOAD",
    "EV_UNLOAD",
    "EV_START",
    "EV_FINISH",
    "EV_SHOWDIALOGS",
    "EV_LANGUAGECHANGED",
    "EV_BEFOREINSTALL",
    "EV_AFTERINSTALL",
    "EV_BEFOREPROCESSITEMS",
    "EV_AFTERPROCESSITEMS",
    "EV_BEFOREPROCESSITEM",
    "EV_AFTERPROCESSITEM",
    "EV_PROCESSITEM",
    "EV_FILEINSTALLPROGRESS",
    "EV_FEATURESTATECHANGED",
    "EV_INSTALLTYPECHANGED",
    "EV_VERSIONCONFLICT",
    "EV_GETPACKAGE",
    "EV_CHECKLAUNCHCONDITIONS",
    "EV_CALCFUNCTION",
    "EV_QUERYREBOOT",
};
constexpr int32_t kLastEvent = EV_QUERYREBOOT;
static_assert(sizeof kEventNames / sizeof kEventNames[0] == kLastEvent + 1);

const char* const kListNames[kListCount] = {"files",   "registry", "ini",     "shortcuts",
                                            "servers", "fonts",    "programs"};

}  // namespace

const char* EventName(int32_t number) {
  return number > 0 && number <= kLastEvent ? kEventNames[number] : "";
}

int32_t EventNumber(const std::string& nameOrNumber) {
  const std::string text = Trim(nameOrNumber);
  for (int32_t number = 1; number <= kLastEvent; ++number) {
    if (SameText(text, kEventNames[number])) return number;
  }
  if (text.empty() || text.size() > 9) return 0;
  char* end = nullptr;
  const long number = std::strtol(text.c_str(), &end, 10);
  return *end == '\0' && number > 0 ? static_cast<int32_t>(number) : 0;
}

const char* ListName(int code) { return code >= 0 && code < kListCount ? kListNames[code] : ""; }

int ListCode(const std::string& name) {
  for (int code = 0; code < kListCount; ++code) {
    if (SameText(name, kListNames[code])) return code;
  }
  return -1;
}

}  // namespace autopilot
