// TUnpacker: one package opened through the unpack library.
//
// The library is loaded by full path when the object is made and unloaded when it goes. An
// extraction walks the archive's entries in order and asks the handlers what to do with each.
// Its handlers live in process-wide slots, so there is one extraction at a time per process;
// main thread or worker thread, but never two at once.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "os/os.h"
#include "support/SafeNames.h"  // IsSafeEntryName: the rule every entry name must pass

struct TUnpackEntry {
  std::string Name;  // path inside the archive, backslash-separated
  uint32_t Size = 0;
  uint16_t Date = 0;  // DOS date and time
  uint16_t Time = 0;
  uint32_t Attributes = 0;
};

struct TUnpackProgress {
  std::string Name;
  std::string Path;
  uint32_t FileSize = 0;
  uint32_t BlockSize = 0;  // bytes about to be written
  uint32_t Done = 0;       // bytes of the file written, this block included
};

// Answers: 1 extract to targetPath, 0 skip the entry, -1 stop the extraction (a success).
using TBeforeFileHandler = std::function<int(const TUnpackEntry& entry, std::string& targetPath)>;
// Called once the file is written with its time and attributes. -1 stops.
using TAfterFileHandler = std::function<int(const TUnpackEntry& entry, const std::string& path)>;
// Called before each block is written. -1 stops.
using TProgressHandler = std::function<int(const TUnpackProgress& progress)>;
// The next volume of a spanned archive is not in folder: true with the folder to try instead.
using TVolumeHandler = std::function<bool(const std::string& volume, std::string& folder)>;

// True for an entry in the archive's folder "data" (case ignored): the application's files,
// which the installation extracts; everything before the first of them is a presetup file.
bool IsDataEntryName(const std::string& name);

class TUnpacker {
 public:
  // Loads the library and opens the package. Throws KxError "Can't load unpack library" or
  // "Important functions was not found in the unpack library".
  TUnpacker(const std::string& libraryPath, const std::string& packagePath);
  ~TUnpacker();
  TUnpacker(const TUnpacker&) = delete;
  TUnpacker& operator=(const TUnpacker&) = delete;

  // Extracts with the handlers (before is required; a missing after or progress handler answers
  // 1; a missing volume handler gives up on a missing volume). True when the archive was read to
  // its end or to a stop a handler asked for. False on a damaged archive, a target path too long
  // for the library, or an exception in a handler (which is not rethrown: the library cannot
  // carry it).
  bool Extract(const TBeforeFileHandler& before, const TAfterFileHandler& after = {},
               const TProgressHandler& progress = {}, const TVolumeHandler& volume = {});

 private:
  os::Library library_;
  void* enumerate_ = nullptr;
  void* close_ = nullptr;
};
