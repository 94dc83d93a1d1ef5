// The setup driver: the run wrapper that owns the temporary setup folder, and the main driver
// that leads one installation run from start to clean-up. Main thread only; one run per process.
#pragma once

#include <string>
#include <vector>

class TkxPackage;

// The offered languages, "ABBREVIATION=display name", in the order of the variable Languages.
std::vector<std::string>& LanguageList();

// Prepares the temporary folders (or the resumed state), runs the main driver, removes the
// folder unless the run was suspended, restarts Windows when asked. Returns the exit code:
// 0 for success, -1 for failure.
int RunSetup();

// Leads the run; true for success. Every failure has shown its message before this returns.
// An error exception that escapes has passed the clean-up block first.
bool MainDriver();

// Whether the run recorded a change, and the undoing of every recorded change of a failed run,
// last first, while the plug-ins show status message 18 (hidden again also when the undoing
// raises).
bool HasRecordedActions();
void Rollback();

// The steps of the wrapper and the driver that stand on their own.
void CreateTempFolders();
bool WriteUnpackLibrary(const std::string& folder);
void BuildLanguageList();
void ChooseLanguage();
// Makes the remembered install type active (repair, resume), or applies the default one, or
// selects every available top-level feature.
void PreselectInstallType();
// Step E after the dialogs: the chosen components (false after a message for an unknown
// component or package), the further packages they need checked, prepared and read, and the
// full component definitions of the package databases laid into the project.
bool ResolveChoices();
bool PrepareFurtherPackages();
void MergePackageComponents();
// Lays the main package's "main.pdb" over the database (its variables cleared first). Throws
// KxError when the file holds no project.
bool LoadProjectDatabase(const TkxPackage& mainPackage);
