// What the autopilot plug-in is told to do, read once through the engine's configuration
// commands (its configuration file, else the Config groups of its project entry); the groups
// and names are those of docs/autopilot.md. A value that is not understood is left at its
// default and named in Problems, which the trace shows. Main thread.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "EngineLink.h"
#include "Events.h"

namespace autopilot {

enum class TRebootAnswer { kKeep, kYes, kNo };

struct TFunction {
  std::string Name;
  std::string Result;  // empty: the function answers its arguments joined by ","
};

struct TSettings {
  std::string TraceFile;  // expanded; empty: no trace
  bool TraceAppend = false;

  bool CancelBefore = false;  // EV_SHOWDIALOGS 0
  bool CancelAfter = false;   // EV_SHOWDIALOGS 1

  std::vector<std::pair<std::string, std::string>> Variables;  // set at EV_START, in order

  std::string InstallType;  // applied before the dialogs; empty: left as it is
  std::vector<std::string> SelectFeatures;
  std::vector<std::string> DeselectFeatures;

  int VersionConflict = 0;  // 1 to 4; 0 leaves the question to others
  TRebootAnswer Reboot = TRebootAnswer::kKeep;
  bool RefuseLaunch = false;                // EV_CHECKLAUNCHCONDITIONS
  std::vector<std::string> PackageFolders;  // offered one after the other at EV_GETPACKAGE

  bool SkipList[kListCount] = {};                     // whole lists at EV_BEFOREPROCESSITEMS
  std::vector<std::string> SkipPatterns[kListCount];  // items at EV_BEFOREPROCESSITEM

  std::vector<TFunction> Functions;

  std::string AbortEvent;  // event name or number; empty: never
  int AbortCount = 1;      // the occurrence of AbortEvent at which CM_ABORTINSTALL is sent

  std::vector<std::string> Problems;
};

TSettings ReadSettings(const TEngineLink& engine);

}  // namespace autopilot
