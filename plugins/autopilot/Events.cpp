#include "Events.h"

#include <cstdlib>

#include "Text.h"
#include "kxplugin.h"

namespace autopilot {
namespace {

constexpr int32_t kLastEvent = EV_QUERYREBOOT;

const char* const kListNames[kListCount] = {"files",   "registry", "ini",     "shortcuts",
                                            "servers", "fonts",    "programs"};

}  // namespace

const char* EventName(int32_t number) {
  return number > 0 && number <= kLastEvent ? kx_message_name(number) : "";
}

int32_t EventNumber(const std::string& nameOrNumber) {
  const std::string text = Trim(nameOrNumber);
  for (int32_t number = 1; number <= kLastEvent; ++number) {
    if (SameText(text, kx_message_name(number))) return number;
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
