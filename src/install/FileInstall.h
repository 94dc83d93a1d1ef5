// FileInstall: what happens to every file the project installs or removes: which item an
// archive entry belongs to, where it goes, whether an existing file is kept (version and date
// rules, the version-conflict question to the plug-ins, dont_overwrite), the backup of a
// replaced file, files in use (pending until the next start of the system), shared-file
// counters, assemblies for the global cache, and the hand-over of fonts to the font phase.
//
// The unpack library and the copier of external files call the handlers one file at a time on
// the worker thread; the removal handler runs on the main thread before the worker starts.
#pragma once

#include <cstdint>
#include <string>

#include "package/Unpacker.h"

class TkxComponent;
class TkxFile;
class TkxPackage;

// The record sent with the item events of the file list (words of the pointer's size for the
// path, 32-bit numbers otherwise; packed like the other plug-in records).
#pragma pack(push, 1)
struct TFileItemRecord {
  const char* Path;
  uint32_t Size;
  uint32_t DosDateTime;  // date in the high word, time in the low word
  uint32_t Attributes;
  uint32_t Mode;  // 0 installed, 1 removed
};
#pragma pack(pop)

// Extracts every package in order through the unpack library with the file handlers, then
// copies the external files; the worker thread's work. False when a package or a file failed or
// the run was aborted (the message is shown here unless the user aborted).
bool CopyPackages();
// Handles the "remove" items of one component (a ForEachComponent handler); always true.
bool RemoveFiles(TkxPackage* package, TkxComponent& component);

// The version rules, exposed for their tests. sourceVersion is dotted text ("" for none);
// existing is the installed file.
bool ExistingFileIsNewer(const std::string& existing, const std::string& sourceVersion,
                         int64_t sourceLocalTime);
bool ExistingFileIsSame(const std::string& existing, const std::string& sourceVersion,
                        int64_t sourceLocalTime);
// Raises the SharedDLLs counter of path once per installation (see the SharedFiles section).
void RaiseSharedCounter(const std::string& path, bool existedBefore);
