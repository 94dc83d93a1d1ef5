// Fonts: the phase of the installation run that installs the fonts the file phase handed over
// (their contents wait in the run's font folder), and the installation of one font: the file put
// in place with a record that undoes it, the font added to the system's font table, its name
// registered under the fonts key (FontsKey) and every window told. A font already registered
// under its name keeps its registration; only its file is replaced. A different file of the same
// name that nobody registered is left alone: the new font takes a name of its own beside it.
// Main thread.
#pragma once

#include <string>

// Installs the font of source as target under name; with log, its record goes to the install
// log. A registered name's file (its value, in the fonts folder when it has no folder part) is
// the one replaced; a TrueType file's name is also looked up, and registered, with " (TrueType)"
// after it. A font without a name is put in place and added but not registered. False, with
// whatever it did recorded, when the file cannot be put in place or the font cannot be added.
bool InstallFont(const std::string& name, const std::string& source, const std::string& target,
                 bool log);

// The fonts handed over by the file phase, in recording order, each with its item events;
// records that the phase appends are not visited and removed files are passed over. A
// hand-over whose font is installed is no longer logged (the installation logs its own record).
// False after an error box at the first font that cannot be installed.
bool InstallFonts();
