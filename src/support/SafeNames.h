// The rule for names that come from outside (a package's archive, a project or package database)
// and become part of a path under a folder of ours: archive entry names, package names, component
// IDs, language abbreviations.
//
// A name passes when Windows would create exactly that file inside the folder it is joined to:
// nothing climbs out, nothing reaches a device, and nothing is silently renamed by the system.
// Both "\" and "/" separate names, as they do for every file call on Windows and on the host.
// Pure functions, safe on any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The longest path (without its terminating zero) that the ANSI file calls take.
inline constexpr size_t kMaxPathLength = 259;

// True for a name Windows keeps for a device whatever its extension and letter case: CON, PRN,
// AUX, NUL, COM1-COM9, LPT1-LPT9 ("nul.txt", "Com1", "lpt3.tar.gz" and "con .txt" among them).
bool IsDeviceName(std::string_view name);

// True for one name that may stand as a file or folder name: not empty, no separator, drive or
// stream colon, wildcard, quote, angle bracket, bar or control character, not "." or "..", no
// device name, and no final space or dot (which Windows drops, so the name would be another).
bool IsSafeFileName(std::string_view name);

// True for a relative path whose names all pass IsSafeFileName. The last name of a data entry
// ("data\" + component + ... + ".") may be "." alone: such an entry stands for a folder.
bool IsSafeEntryName(std::string_view name);

// True when folder + name stays within the path limit of the file calls.
bool FitsPathLimit(const std::string& folder, const std::string& name);
