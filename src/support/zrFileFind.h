// zrFileFind: a search of one folder for the entries whose names match a mask and whose
// attributes pass a filter; what the installation uses to find the files of an item with
// wildcards (external files, removal items) and the subfolders to descend into.
//
// The mask is matched as Windows matches it: "*" and "?" without regard to case, and a name
// without an extension also matches as if it ended with "." (so "*.*" finds every name and "*."
// the names without an extension). "." and ".." are never reported. The folder is listed once, when
// the search is made; a search object belongs to one thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "os/os.h"

// The attribute bit of a volume label, which the OS layer never reports but a filter may name.
constexpr uint32_t kAttrVolumeLabel = 0x08;
// The six standard attribute bits: an include set of 0 stands for all of them.
constexpr uint32_t kAnyAttribute = os::kAttrReadOnly | os::kAttrHidden | os::kAttrSystem |
                                   kAttrVolumeLabel | os::kAttrDirectory | os::kAttrArchive;

struct TzrFoundFile {
  std::string Name;
  std::string Path;  // the folder of the mask followed by Name
  uint64_t Size = 0;
  uint32_t Attributes = 0;
  int64_t WriteTime = 0;        // Windows file time, UTC
  os::LocalDateTime LocalTime;  // the same moment in local time
};

class TzrFileFind {
 public:
  // pathMask: a folder and a mask ("C:\app\*.txt"). An entry is reported when its attributes
  // share a bit with include (0: any attribute) and none with exclude. A folder that cannot be
  // listed gives an empty search.
  TzrFileFind(const std::string& pathMask, uint32_t include, uint32_t exclude);
  // The next entry; false when there is none left or the search was closed.
  bool Next(TzrFoundFile& found);
  void Close();

 private:
  std::string folder_;
  std::vector<TzrFoundFile> found_;
  size_t next_ = 0;
};

// Whether name matches mask the way the search matches it.
bool MatchesFileMask(const std::string& name, const std::string& mask);
