// Programs: the programs a project starts at its moments, the records the uninstaller reads for
// the programs it starts itself, the environment variables of "SET " variables, and what lets a
// run go on after the machine restarts: the install state saved into the run's temporary folder
// and the command that starts the engine again at the next logon.
//
// Main thread only: a program is waited for with window messages dispatched, which is how the
// main window learns that the session ends while it runs.
#pragma once

#include <string>

#include "database/KXClasses.h"

class TkxComponent;
class TkxPackage;

// What one component does at a moment: its programs of that moment are started (before the
// dialogs, before and after the installation) or recorded for the uninstaller (before and after
// uninstalling; then recordNumber is the next key, shared by both sections, and is advanced).
// In resume mode the programs up to and including the one that was running when the session
// ended are passed over. False only when a program with check_exitcode fails.
bool RunComponentPrograms(TkxPackage* package, TkxComponent& component, TkxWhenStart moment,
                          int* recordNumber = nullptr);

// The programs of a moment over all components (ForEachComponent); false as above.
bool RunProgramsAt(TkxWhenStart moment);
// The programs before the dialogs, over the components of the main package only.
bool RunApplicationsBeforeDialogs();
// The uninstaller's program records of before_uninstall and then after_uninstall, each list
// wrapped in its list events, numbered from 0 across both sections.
void RecordUninstallPrograms();

// The database ("MainDB", root "kx2project") and then, only if that worked, the action list
// ("InstallActions", root "installactions") into the run's temporary folder; true when both were
// written; false, writing nothing, when the run has no temporary folder. LoadRunState reads both
// back from folder; false when either cannot be read.
bool SaveRunState();
bool LoadRunState(const std::string& folder);

// Stops the run so that the machine can restart: the install state is set and saved and the
// suspended flag set.
void SuspendRun(TkxInstallState state, const std::string& data);

// Schedules the files that were in use for the next start of the system and, when the run is
// suspended, registers the command that resumes it at the next logon (once per process: a
// second call, as when the session ended and the driver then finishes, adds no second value).
void RegisterResume();
// The key under which the resume command is registered, and the name of the value it took ("" if
// none yet in this process).
extern const char kRunOnceKey[];
const std::string& RegisteredResumeValue();

// The environment phase: each "SET name" variable of the project sets the user's environment
// variable name to the variable's stored value, and "Reboot" to 1; false at the first that cannot
// be set.
bool EnvironmentPhase();
