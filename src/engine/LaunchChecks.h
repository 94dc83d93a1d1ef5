// The checks before a run installs anything: that the project may be installed on this kind of
// Windows, on this version, by this user, under the project's own launch conditions, and that no
// plug-in objects. The driver calls RunLaunchChecks once, after the plug-ins are loaded and before
// EV_START; a resumed run has passed them already. Main thread only (it shows boxes and sends
// EV_CHECKLAUNCHCONDITIONS).
#pragma once

#include <string>

#include "support/WinVersion.h"

// The project's variables SupportedOS, MinOSVersion and AdminRights, then its launch conditions,
// then the plug-ins. The first check that fails shows its warning box (a launch condition without
// a message and a plug-in's refusal show none) and gives false. Throws KxError when the
// administrators' group cannot be named to the system, and passes on errors of the conditions.
bool RunLaunchChecks();

// Whether the comma-separated family tokens of supportedOS (upper-cased by the caller, compared
// whole: a blank belongs to its token) admit the system. An empty list admits every system.
bool SystemSupported(const std::string& supportedOS, const TWinVersion& system);

// Whether the system is at least minOSVersion, "major.minor.build": a part that is missing or not
// a number takes the system's own value, and the three are compared in that order.
bool VersionAtLeast(const std::string& minOSVersion, const TWinVersion& system);

// Every user of the 9x platform; on NT the user whose process has the administrators' rights.
bool UserIsAdministrator();
