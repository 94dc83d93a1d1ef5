// Names of the events and item lists of sdk/kxplugin.h, as the autopilot plug-in reads them in
// its configuration and writes them in its trace. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>

namespace autopilot {

constexpr int kListCount = 7;  // KX_LIST_FILES .. KX_LIST_PROGRAMS

// "EV_LOAD" for 2; "" for a number that is no predefined event.
const char* EventName(int32_t number);
// The predefined event of that name (case ignored) or the number written in decimal; 0 when
// neither.
int32_t EventNumber(const std::string& nameOrNumber);

// "files", "registry", "ini", "shortcuts", "servers", "fonts", "programs"; "" out of range.
const char* ListName(int code);
// The list code of a name (case ignored), or -1.
int ListCode(const std::string& name);

}  // namespace autopilot
