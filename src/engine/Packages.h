// The package container: a package is a file that carries a cabinet archive and a short trailer
// (the setup program itself, or a ".kxp" file beside it). Checking a package verifies the trailer
// against the file's size; preparing extracts the presetup files (everything before the archive's
// first "data\" entry) into the package's temporary folder while the presetup window and the
// splash are shown; reading the package database loads the enciphered "db.pdb" into the package.
// The trailer's layout is in package/PackageTrailer.h.
//
// Main thread only: extraction goes through the unpack library's process-wide handler slots and
// drives the engine's windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class TkxPackage;
class TXMLTag;

// Verifies the package named by FullFileName: found, trailer present, size as built. Sets
// FullFileName (normalised), FileName (name without extension), TempPath, PresetupSize and
// DataSize. False after an error box; the package is then not usable.
bool CheckPackage(TkxPackage& package);

// Extracts the presetup files of every package not yet Prepared, in list order, into each
// package's TempPath, and marks it Prepared. The variable SilentMode suppresses the windows.
// False after a failure (free space, an unsafe entry name: with its own error box; a damaged
// archive: without one, the caller reports it); the failing package and those after it stay not
// Prepared. Throws KxError when the unpack library is missing or incomplete.
bool PreparePackages();

// Loads TempPath + "db.pdb" (deciphered) into the package, merged over what the check set (which
// the database cannot change: file names, folder, sizes, states), and sets the package's own
// variable "Presetup" to TempPath + "presetup". A database that cannot be read or parsed throws
// a KxError naming the package file (the run ends with its message); otherwise true.
bool ReadPackageDatabase(TkxPackage& package);

// Reads the enciphered database at path into tree. Throws KxError "Can't read the " + what +
// ": " + the reason (the parser's message with its line and position, or a missing or empty
// file); what names the database and the package file it came from.
void ReadDatabaseTree(const std::string& path, const std::string& what, TXMLTag& tree);

// Shows the error box for a name from a package (an archive entry, or a package named by its
// database) that fails the safe-name rule of support/SafeNames.h; false.
bool ReportUnsafeName(const TkxPackage& package, const std::string& name);

// The bytes of the folder buffer that EV_GETPACKAGE hands to the plug-ins.
inline constexpr size_t kPackageFolderBufferSize = 260;

// True when folder (given a trailing backslash) holds fileName; folder then is that folder, with
// the backslash. Otherwise the plug-ins are asked for another folder (EV_GETPACKAGE: the file
// name, and a buffer holding the folder; a plug-in that answers non-zero has written the new
// folder there, say after asking for the next disk), until the file is found or no plug-in
// answers. False when no plug-in names another folder, or after 100 folders without the file.
bool LocatePackage(const std::string& fileName, std::string& folder);

// numerator / denominator rounded to the nearest integer, a half to the even neighbour:
// 1535 / 1024 is 1, 1536 / 1024 is 2, 2560 / 1024 is 2. A zero denominator gives 0.
uint64_t DivideRoundingHalfToEven(uint64_t numerator, uint64_t denominator);
