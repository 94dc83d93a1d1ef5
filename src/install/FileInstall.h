// FileInstall: what happens to every file the project installs or removes: which item an
// archive entry belongs to, where it goes, whether an existing file is kept (version and date
// rules, the version-conflict question to the plug-ins, dont_overwrite), the backup of a
// replaced file, files in use (pending until the next start of the system), shared-file
// counters, assemblies for the global cache, and the hand-over of fonts to the font phase.
//
// The unpack library and the copier of external files call the handlers one file at a time on
// the worker thread; the removal handler runs on the main thread before the worker starts.
// Files stream from the archive (or the external source) straight to their destination: no
// payload is held in memory or copied twice.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "kxplugin.h"
#include "package/Unpacker.h"
#include "support/zrUtils.h"

class TkxComponent;
class TkxFile;
class TInstallFile;
class TkxPackage;
class TXMLObject;

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
static_assert(sizeof(TFileItemRecord) == sizeof(KxFileRecord), "the SDK's file record");

// Extracts every package of the main database in order through the unpack library
// (RunState().SetupTempPath + "unpack.dll") with the file handlers, then copies the external
// files; the worker thread's work. False when a package or a file failed or the run was aborted
// (the message is shown here unless the user aborted). Throws KxError when the unpack library
// cannot be loaded.
bool CopyPackages();
// Handles the "remove" items of one component (a ForEachComponent handler); always true.
bool RemoveFiles(TkxPackage* package, TkxComponent& component);

// ---------------------------------------------------------------------------------------------
// The rules, exposed for their tests.

// Which item of the main database's components an archive entry ("data\<component>\<path>")
// belongs to; nullptr when none. component receives the item's component.
TkxFile* MatchEntry(const std::string& entryName, TkxComponent** component = nullptr);

// Where the item's file goes. relativePath is the entry's path inside the component (package
// pass) or the source path (external pass, external set); context expands the texts. False, with
// the destination left empty, when the part of relativePath that a wildcard item carries over
// would climb out of the destination folder or name a drive or device.
bool ItemDestination(const TkxFile& item, const std::string& relativePath, bool external,
                     const TXMLObject* context, std::string& destination);

// Local date and time as one number (milliseconds from 1601-01-01, local wall clock), the form in
// which the date rules compare an archived file's date with an existing file's.
int64_t LocalStamp(const os::LocalDateTime& time);
os::LocalDateTime DosToLocalTime(uint16_t date, uint16_t time);
uint32_t LocalTimeToDos(const os::LocalDateTime& time);  // date high, time low

// What the version and date rules need to know of an existing file.
struct TExistingFile {
  bool Exists = false;
  std::optional<TFileVersion> Version;  // none without a version resource
  int64_t Stamp = 0;                    // LocalStamp of its last-write time
};
TExistingFile ExistingFileFacts(const std::string& path);

// sourceVersion is dotted text ("" for none); sourceStamp a LocalStamp. The date decides when
// either side lacks a version or both are equal. Versions compare as the unsigned numbers the
// version resource holds, so 65535.0.0.0 is newer than 1.0.0.0.
bool ExistingIsNewer(const TExistingFile& existing, const std::string& sourceVersion,
                     int64_t sourceStamp);
bool ExistingIsSame(const TExistingFile& existing, const std::string& sourceVersion,
                    int64_t sourceStamp);

// Raises the SharedDLLs counter of path once per installation (see the SharedFiles section of
// the install log). existedBefore: the file was there before this run touched it, so the copy
// already there counts as one user. The change is recorded so that a rollback takes it back.
void RaiseSharedCounter(const std::string& path, bool existedBefore);

// Message 11 of the language file (its fallback when missing) with its "%s" replaced by path.
std::string CannotInstallMessage(const std::string& path);
