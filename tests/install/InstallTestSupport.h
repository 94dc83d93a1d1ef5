// The installation suites' machine: a scratch folder that stands for the machine's disk, the
// run's temporary folders and first package beside it, a scratch registry key, the install log
// switched on, and snapshots of folders and keys to compare before and after.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "TestSupport.h"
#include "database/KXClasses.h"
#include "expressions/Common.h"
#include "install/Actions.h"
#include "install/Log.h"
#include "support/RunState.h"
#include "support/zrFileUtils.h"
#include "support/zrRegIni.h"
#include "support/zrStrUtils.h"

using Strings = std::vector<std::string>;

struct FileEntry {
  std::string content;  // "<folder>" for folders
  int64_t time = 0;     // 0 for folders, whose times follow their entries
  uint32_t attributes = 0;
  bool operator==(const FileEntry& other) const {
    return std::tie(content, time, attributes) ==
           std::tie(other.content, other.time, other.attributes);
  }
};
using FileSnapshot = std::map<std::string, FileEntry>;

// Every file and folder below folder, by full path.
inline void AddToSnapshot(const std::string& folder, FileSnapshot& snapshot) {
  std::vector<os::FindData> entries;
  os::ListFolder(folder, entries);
  for (const os::FindData& entry : entries) {
    const std::string path = WithTrailingBackslash(folder) + entry.name;
    if (entry.attributes & os::kAttrDirectory) {
      snapshot[path] = {"<folder>", 0, entry.attributes};
      AddToSnapshot(path, snapshot);
    } else {
      snapshot[path] = {ReadFileText(path), entry.writeTime, entry.attributes};
    }
  }
}
inline FileSnapshot FolderSnapshot(const std::string& folder) {
  FileSnapshot snapshot;
  AddToSnapshot(folder, snapshot);
  return snapshot;
}

// Every key and value below key: "sub\" for a key, "sub\|name" -> "type:text" for a value.
inline void AddToSnapshot(const std::string& key, const std::string& relative,
                          std::map<std::string, std::string>& snapshot) {
  os::RegRoot root;
  std::string subkey;
  SplitKeyPath(key, root, subkey);
  os::RegKey open = os::RegKey::Open(root, subkey, false);
  if (!open.IsOpen()) return;
  snapshot[relative] = "<key>";
  std::string name;
  for (uint32_t index = 0; open.EnumValue(index, name); ++index) {
    snapshot[relative + "|" + name] =
        std::to_string(RegValueType(key, name)) + ":" + RegReadBinaryText(key, name, "");
  }
  Strings subkeys;
  RegListSubkeys(key, subkeys);
  for (const std::string& sub : subkeys) {
    AddToSnapshot(key + "\\" + sub, relative + sub + "\\", snapshot);
  }
}
inline std::map<std::string, std::string> RegistrySnapshot(const std::string& key) {
  std::map<std::string, std::string> snapshot;
  AddToSnapshot(key, "\\", snapshot);
  return snapshot;
}

inline std::string SystemFontsKey() {
  return os::GetVersionData().platform == os::Platform::kWindows9x
             ? "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Fonts"
             : "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";
}

class InstallTest : public testing::Test {
 protected:
  void SetUp() override {
    InstallActions().Clear();
    for (const std::string& folder :
         {Machine(), Temp() + "backup\\", Temp() + "fonts\\", PackageFolder(), Temp() + "log\\"}) {
      ASSERT_TRUE(ForceFolders(folder));
    }
    TkxMainDatabase& database = MainDatabase();
    database.TempBackupPath = Temp() + "backup\\";
    database.TempFontsPath = Temp() + "fonts\\";
    database.Packages->AddNew().TempPath = PackageFolder();
    LogSettings() = {Temp() + "log\\install.log", true};
  }
  void TearDown() override {
    InstallActions().Clear();
    IniCloseAll();
    LogSettings() = TLogSettings();
    FreeRunObjects();
    ResetRunState();
  }

  std::string Machine() const { return scratch_.Path() + "machine\\"; }
  std::string Temp() const { return scratch_.Path() + "temp\\"; }
  std::string PackageFolder() const { return Temp() + "package\\"; }
  static Strings LogKeys(const std::string& section) {
    Strings keys;
    IniListKeys(LogSettings().Path, section, keys);
    return keys;
  }

  ScratchFolder scratch_{CurrentTestName()};
  ScratchRegistryKey registry_;
};
