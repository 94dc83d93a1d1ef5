#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "support/zrFileUtils.h"
#include "support/zrRegIni.h"

namespace {
const char kScratchKeysParent[] = "HKCU\\Software\\kxsetup-tests";
}  // namespace

ScratchFolder::ScratchFolder(const std::string& name)
    : path_(std::string(KX_TEST_DATA_DIR) + "\\scratch\\" + name + "\\") {
  DeleteTree(path_, true);
  EXPECT_TRUE(ForceFolders(path_)) << path_;
}

ScratchFolder::~ScratchFolder() { DeleteTree(path_, true); }

ScratchRegistryKey::ScratchRegistryKey() : path_(CurrentTestKey()) {
  RegDeleteKeyPath(path_, true);
  EXPECT_FALSE(RegKeyExists(path_)) << path_;
}

ScratchRegistryKey::~ScratchRegistryKey() {
  RegDeleteKeyPath(path_, true);
  EXPECT_FALSE(RegKeyExists(path_)) << path_;
  RegDeleteKeyPath(kScratchKeysParent, false);  // fails while another test's key is in it
}

std::string ScratchRegistryKey::CurrentTestKey() {
  return std::string(kScratchKeysParent) + "\\" + CurrentTestName();
}

std::string CurrentTestName() {
  const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "." + info->name();
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  return name;
}

// Tests look at files that the code under test may still hold open for writing.
std::string ReadFileText(const std::string& path) {
  os::File file = os::File::Open(path, os::File::Mode::kReadShared);
  std::string text;
  if (file.IsOpen()) file.ReadToEnd(text);
  return text;
}

bool WriteFileText(const std::string& path, const std::string& text) {
  os::File file = os::File::Open(path, os::File::Mode::kCreate);
  return file.IsOpen() && file.Write(text.data(), text.size());
}

std::vector<std::string> FolderNames(const std::string& folder) {
  std::vector<os::FindData> entries;
  os::ListFolder(folder, entries);
  std::vector<std::string> names;
  for (const os::FindData& entry : entries) names.push_back(entry.name);
  std::sort(names.begin(), names.end());
  return names;
}
