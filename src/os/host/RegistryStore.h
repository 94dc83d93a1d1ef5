// RegistryStore: the host's registry, kept as a registry export file under the machine root.
//
// The whole registry lives in <machine root>/system.reg, written in the REGEDIT 5 export format:
// the line "Windows Registry Editor Version 5.00", then one block per key, "[HKEY_...\path]"
// followed by its values: "name"="text" (with \\ and \" escapes), @= for the default value,
// dword:xxxxxxxx, hex:.. for binary data and hex(N):.. for every other type, N being the type
// number in hexadecimal. Long hex data is continued on following lines after a backslash. The
// four roots HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE and HKEY_USERS are
// independent trees (no merged views). Key and value names compare without regard to ASCII case
// and keep the case they were created with.
//
// The file is 8-bit text in which each byte is one character: the host has no code page. Strings
// of types 1, 2 and 7 are held as Windows holds them, in UTF-16, each byte of the ANSI calls
// widened to one unit; so hex(2) and hex(7) data read as in any other export, and strings of
// other programs' files (units above 0xFF) survive a rewrite. The ANSI view turns such units into
// "?", as the ANSI calls of Windows do.
//
// Several processes may share the file. Every operation takes an flock on system.reg.lock
// (shared to read, exclusive to write) and reparses the file only when someone else has written
// it (a generation counter in the lock file, and the file's identity); a write is saved before
// it returns, through a temporary file renamed over the store. A missing file is created with
// the values the engine reads (SeedRegistry). A file that cannot be parsed is never overwritten:
// every operation fails, with Error() telling where the file is wrong, until it is mended.
//
// Used by the host OS layer (registry_host.cpp) and its tests. Any thread: each store serialises
// its operations.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "os/os.h"

namespace os::host {

struct RegistryValue {
  std::string name;
  uint32_t type = 0;
  std::vector<uint8_t> data;  // as stored: types 1, 2 and 7 in UTF-16LE
};

struct RegistryKey {
  std::string name;
  std::vector<RegistryValue> values;  // in the order they were created
  // By upper-cased name, which is also the order in which Windows lists subkeys.
  std::map<std::string, std::unique_ptr<RegistryKey>> subkeys;

  RegistryKey* FindSubkey(std::string_view name) const;
  RegistryKey& AddSubkey(std::string_view name, bool& created);
  RegistryValue* FindValue(std::string_view name);
  // Replaces the data of a value of that name (keeping its spelling) or appends a new one.
  void PutValue(std::string_view name, uint32_t type, std::vector<uint8_t> data);
  bool RemoveValue(std::string_view name);
};

// The four roots of the registry.
class RegistryTree {
 public:
  RegistryTree();
  RegistryKey& Root(RegRoot root) { return roots_[static_cast<int>(root)]; }
  const RegistryKey& Root(RegRoot root) const { return roots_[static_cast<int>(root)]; }

  // The key at a subkey path (names in any case); nullptr when it is missing or the path is
  // malformed (see SplitRegistryPath). storedPath, when given, receives the path as stored.
  RegistryKey* Find(RegRoot root, std::string_view path, std::string* storedPath = nullptr);
  // The key at path, creating every missing key on the way; nullptr for a malformed path.
  RegistryKey* Create(RegRoot root, std::string_view path, bool& created,
                      std::string* storedPath = nullptr);

  // A value through the ANSI view: strings of types 1, 2 and 7 are widened to UTF-16 / narrowed.
  void SetAnsi(RegistryKey& key, std::string_view name, uint32_t type, const uint8_t* data,
               size_t size);
  static std::vector<uint8_t> AnsiData(const RegistryValue& value);

 private:
  RegistryKey roots_[4];
};

// The names of a subkey path; "" is the root itself. Doubled and trailing backslashes separate
// nothing, as in Windows. False when the path is malformed, as Windows calls it: a leading
// backslash, a name over 255 bytes, more than 512 levels; and, because the file could not hold
// it, a name with a line break or NUL.
bool SplitRegistryPath(std::string_view path, std::vector<std::string>& names);

// Value names are at most 16383 bytes, without line breaks or NULs (which the file cannot hold).
bool IsValidValueName(std::string_view name);

// Names compare through this: ASCII letters upper-cased, every other byte kept.
std::string FoldName(std::string_view name);

// The text of a REGEDIT 5 file into a tree. False with a message naming the line when the text
// is not such a file; the tree is then left as it was.
bool ParseRegistryText(std::string_view text, RegistryTree& tree, std::string& error);
// The tree as a REGEDIT 5 file, CR LF line ends.
std::string PrintRegistryText(const RegistryTree& tree);

// The values the engine reads from a fresh machine: Program Files and Common Files, the boot
// folder, the shell folders of userName (C:\users\<userName>\...) and of all users
// (C:\ProgramData\...), the fonts keys, HKCU\Environment.
void SeedRegistry(RegistryTree& tree, const std::string& userName);

class RegistryStore {
 public:
  // The store kept in file (a Linux path); its lock file is file + ".lock".
  explicit RegistryStore(std::string file);
  ~RegistryStore();
  RegistryStore(const RegistryStore&) = delete;
  RegistryStore& operator=(const RegistryStore&) = delete;

  // The store of the machine root, <MachineRoot()>/system.reg; a new one once the machine root
  // has changed (ResetMachineRoot).
  static std::shared_ptr<RegistryStore> Machine();

  const std::string& File() const { return file_; }

  // The stored spelling of an existing key's path.
  bool OpenKey(RegRoot root, const std::string& path, std::string& storedPath);
  // Creates the key and every missing parent; the stored spelling of its path.
  bool CreateKey(RegRoot root, const std::string& path, std::string& storedPath);
  // Deletes the key at path (its last name); fails for a root and for a key with subkeys.
  bool DeleteKey(RegRoot root, const std::string& path);

  // Values through the ANSI view (see above); name "" is the default value.
  bool QueryValue(RegRoot root, const std::string& key, const std::string& name, uint32_t& type,
                  std::vector<uint8_t>& data);
  bool SetValue(RegRoot root, const std::string& key, const std::string& name, uint32_t type,
                const void* data, size_t size);
  bool DeleteValue(RegRoot root, const std::string& key, const std::string& name);
  bool EnumKey(RegRoot root, const std::string& key, uint32_t index, std::string& name);
  bool EnumValue(RegRoot root, const std::string& key, uint32_t index, std::string& name);

  // Why the last failed operation failed; "" when it simply found nothing.
  std::string Error() const;
  // How often the file has been parsed, so tests can see that unchanged files are not.
  uint64_t LoadCount() const;

 private:
  struct Identity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    int64_t modified = 0;
    int64_t changed = 0;
    bool operator==(const Identity&) const = default;
  };
  enum class State { kUnknown, kMissing, kLoaded, kCorrupt, kFailed };

  // Runs op on the current tree under the file lock; op sets changed when it modified the tree,
  // which is then saved before Run returns.
  template <typename Op>
  bool Run(bool write, Op&& op);
  static Identity IdentityOf(const struct stat& st);
  bool OpenLockFile();
  State Refresh();
  State Load(uint64_t generation);
  bool Save();
  uint64_t ReadGeneration() const;
  void WriteGeneration(uint64_t generation) const;
  bool Fail(const std::string& message);

  const std::string file_;
  const std::string lockFile_;
  const std::string tempFile_;
  mutable std::mutex mutex_;
  int lockFd_ = -1;
  RegistryTree tree_;
  State state_ = State::kUnknown;
  Identity identity_;
  uint64_t generation_ = 0;
  uint64_t loadCount_ = 0;
  std::string loadError_;  // why the file could not be read, while it cannot
  std::string error_;
};

}  // namespace os::host
