// File and folder operations shared by the whole engine: trailing backslashes, folder trees,
// the temporary path and the unique names of temporary folders and files.
//
// Paths are ANSI Windows paths; everything goes through the OS layer. Safe on any thread, but a
// folder tree must not be changed by two threads at once.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "os/os.h"

std::string WithTrailingBackslash(const std::string& path);     // unless empty or present
std::string WithoutTrailingBackslash(const std::string& path);  // removes one final backslash

// The folder part of a path with its trailing backslash ("C:\a\b.txt" -> "C:\a\"), the name
// part ("b.txt"), and the path with its extension replaced (the extension includes the dot).
std::string ExtractFilePath(const std::string& path);
std::string ExtractFileName(const std::string& path);
std::string ChangeFileExt(const std::string& path, const std::string& extension);

bool FolderExists(const std::string& path);
bool FileExists(const std::string& path);  // an existing entry that is not a folder

// Creates the folder and every missing parent; a final backslash is ignored and a drive (two
// characters or less) is left alone. True when the folder exists afterwards.
bool ForceFolders(const std::string& path);

// Clears the attributes, then deletes the file.
bool DeleteFileForced(const std::string& path);

// Deletes every file and, recursively, every subfolder of folder. Links to folders are removed,
// never followed. With removeFolder, and when everything went well, the folder itself goes too,
// unless it is a bare drive ("C:"). True when everything succeeded.
bool DeleteTree(const std::string& folder, bool removeFolder);

// The platform's temporary path with a trailing backslash; when it is the current folder
// (a program started from the temporary folder would then write beside itself), a fixed
// "Temp" folder instead: under the Windows folder on the 9x platform, "C:\Temp\" on NT.
std::string TemporaryPath();
std::string ChooseTemporaryPath(const std::string& systemTemp, const std::string& currentDir,
                                const std::string& windowsDir, bool platform9x);

// The eight base-32 characters that stand for a local date and time (3 for the day of a ten-year
// cycle, 5 for the hundredths of the day); see UniqueName.
std::string TimeStampName(const os::LocalDateTime& time);

// prefix + stamp + extension, a name that no entry of folder (file, folder or link) has. The
// stamp is the time stamp; when that name is taken, eight base-32 characters from the system's
// random source, so that nobody can take the coming names ahead. With shortName the prefix is cut
// to 4 characters and the stamp loses as many leading characters as the prefix keeps, so that
// prefix and stamp fit in eight. Returns the name alone; throws KxError when no free name is
// found.
std::string UniqueName(const std::string& folder, const std::string& prefix,
                       const std::string& extension, bool shortName);

// Creates a new folder with a unique name in parent and returns its path with a trailing
// backslash. The folder is created new: a name that exists already, even one created by
// someone else between the test and the creation, is never taken over, and a link is never
// followed. With privateToUser only the user may use it (see os::CreateDir). Throws KxError when
// no folder can be created.
std::string CreateUniqueFolder(const std::string& parent, bool privateToUser);

// ---------------------------------------------------------------------------------------------
// Files

// Size in bytes as the folder listing gives it, -1 when the file is missing.
int64_t FileSize(const std::string& path);
// Last-write time as a Windows file time, 0 when the file is missing.
int64_t FileTime(const std::string& path);
// The file's bytes; a file that cannot be opened, or is empty, gives the empty string.
std::string ReadWholeFile(const std::string& path);
// The file's bytes in content; false when the file cannot be opened or a read fails, for callers
// that must tell a missing file from an empty one.
bool TryReadWholeFile(const std::string& path, std::string& content);

// Reads the next line: up to a carriage return, a line feed or a CR LF pair, which is consumed.
// False at the end of the file. (Lines of files written on other systems end with LF alone;
// reading only up to CR would turn such a file into one line and destroy it on rewrite.)
bool ReadLine(os::File& file, std::string& line);
// Writes text followed by CR LF.
bool WriteLine(os::File& file, const std::string& text);

// The lines of a text file, split as ReadLine splits them. A missing file has none; false when
// the file is there but cannot be read whole, so that a rewrite never drops what it could not read.
bool ReadTextLines(const std::string& path, std::vector<std::string>& lines);
// Makes path a file of lines, each ending with CR LF, so that a failure on the way (a full disk, a
// refused move) leaves the old file whole: the lines go to a temporary file in the same folder,
// which then takes the file's place. The old file steps aside meanwhile and comes back when the
// new one cannot take its place. False on failure, with nothing left behind.
bool ReplaceWithLines(const std::string& path, const std::vector<std::string>& lines);

// The short (8.3) form of a path, the path itself when there is none.
std::string ShortPath(const std::string& path);

// Free space in KiB on the drive of folder (on the 9x platform its root is asked), 0 when the
// folder does not exist or the system cannot tell.
uint64_t FreeSpaceKiB(const std::string& folder);

// Called after each block: (source, target, bytes of this block, source size, bytes copied so
// far); false stops the copy, which then fails.
using TCopyProgress =
    std::function<bool(const std::string& source, const std::string& target, uint32_t blockBytes,
                       uint64_t sourceSize, uint64_t copied)>;

// Copies source to target in blocks of 128 KiB (appending with append set), then gives the target
// the source's last-write time and attributes. A partly written target stays on failure.
bool CopyFileWithProgress(const std::string& source, const std::string& target,
                          const TCopyProgress& progress, bool append);

// Schedules target to be replaced by source, or file to be deleted, at the next start of Windows.
// Paths are made absolute; nothing happens (false) when the source does not exist. On the 9x
// platform the requests go to wininit.ini.
bool ReplaceAtReboot(const std::string& source, const std::string& target);
bool DeleteAtReboot(const std::string& file);

// The path made absolute against the current folder.
std::string FullPath(const std::string& path);
