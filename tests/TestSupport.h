// Helpers shared by the test suites: scratch folders in Windows form, so that one test source
// runs natively over the host OS layer and as a Windows program under Wine.
#pragma once

#include <string>
#include <vector>

#include "os/os.h"

// A folder that exists for the life of the object and is deleted with everything in it.
// The path has a trailing backslash.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& name);
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// A registry key of the running test's own under HKCU, empty from construction and removed with
// everything below it at destruction (their common parent too, once no other test uses it).
class ScratchRegistryKey {
 public:
  ScratchRegistryKey();
  ~ScratchRegistryKey();
  ScratchRegistryKey(const ScratchRegistryKey&) = delete;
  ScratchRegistryKey& operator=(const ScratchRegistryKey&) = delete;

  // "HKCU\Software\kxsetup-tests\" + the running test's name.
  static std::string CurrentTestKey();
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// A scratch folder named after the running test.
std::string CurrentTestName();

std::string ReadFileText(const std::string& path);
bool WriteFileText(const std::string& path, const std::string& text);
// The names in a folder, sorted.
std::vector<std::string> FolderNames(const std::string& folder);
