#include "support/zrFileUtils.h"

#include <strings.h>

#include <vector>

#include "support/Errors.h"
#include "support/zrStrUtils.h"

namespace {

bool IsBareDrive(const std::string& path) { return path.size() == 2 && path[1] == ':'; }

std::string ParentOf(const std::string& path) {
  size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

int DayOfYear(const os::LocalDateTime& time) {
  static const int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (time.year % 4 == 0 && time.year % 100 != 0) || time.year % 400 == 0;
  int day = time.day;
  for (int month = 1; month < time.month && month <= 12; ++month) {
    day += kMonthDays[month - 1] + (month == 2 && leap ? 1 : 0);
  }
  return day;
}

bool DeleteEntry(const std::string& path, const os::FindData& entry) {
  bool isFolder = entry.attributes & os::kAttrDirectory;
  if (isFolder && (entry.attributes & os::kAttrReparsePoint)) return os::RemoveDir(path);
  if (isFolder) return DeleteTree(path, true);
  if (entry.attributes & os::kAttrReadOnly) {
    os::SetFileAttributes(path, entry.attributes & ~os::kAttrReadOnly);
  }
  return os::DeleteFile(path);
}

}  // namespace

std::string WithTrailingBackslash(const std::string& path) {
  if (path.empty() || path.back() == '\\') return path;
  return path + '\\';
}

std::string WithoutTrailingBackslash(const std::string& path) {
  if (!path.empty() && path.back() == '\\') return path.substr(0, path.size() - 1);
  return path;
}

std::string ExtractFilePath(const std::string& path) {
  size_t separator = path.find_last_of("\\:");
  return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

std::string ExtractFileName(const std::string& path) {
  size_t separator = path.find_last_of("\\:");
  return separator == std::string::npos ? path : path.substr(separator + 1);
}

std::string ChangeFileExt(const std::string& path, const std::string& extension) {
  size_t dot = path.find_last_of(".\\:");
  if (dot == std::string::npos || path[dot] != '.') return path + extension;
  return path.substr(0, dot) + extension;
}

bool FolderExists(const std::string& path) {
  uint32_t attributes = os::GetFileAttributes(path);
  return attributes != os::kInvalidAttributes && (attributes & os::kAttrDirectory);
}

bool FileExists(const std::string& path) {
  uint32_t attributes = os::GetFileAttributes(path);
  return attributes != os::kInvalidAttributes && !(attributes & os::kAttrDirectory);
}

bool ForceFolders(const std::string& path) {
  std::string folder = WithoutTrailingBackslash(path);
  if (folder.size() <= 2 || FolderExists(folder)) return true;
  if (!ForceFolders(ParentOf(folder))) return false;
  return os::CreateDir(folder) != os::CreateResult::kFailed && FolderExists(folder);
}

bool DeleteFileForced(const std::string& path) {
  os::SetFileAttributes(path, os::kAttrNormal);
  return os::DeleteFile(path);
}

bool DeleteTree(const std::string& folder, bool removeFolder) {
  std::string base = WithTrailingBackslash(folder);
  std::vector<os::FindData> entries;
  bool listed = os::ListFolder(base, entries);
  bool allDeleted = true;
  for (const os::FindData& entry : entries) {
    if (!DeleteEntry(base + entry.name, entry)) allDeleted = false;
  }
  std::string target = WithoutTrailingBackslash(folder);
  if (removeFolder && allDeleted && listed && !IsBareDrive(target)) {
    allDeleted = os::RemoveDir(target);
  }
  return allDeleted && listed;
}

std::string ChooseTemporaryPath(const std::string& systemTemp, const std::string& currentDir,
                                const std::string& windowsDir, bool platform9x) {
  std::string temp = WithTrailingBackslash(systemTemp);
  std::string current = WithTrailingBackslash(currentDir);
  if (strcasecmp(temp.c_str(), current.c_str()) != 0) return temp;
  return platform9x ? WithTrailingBackslash(windowsDir) + "Temp\\" : "C:\\Temp\\";
}

std::string TemporaryPath() {
  // Every supported host of this build is an NT-family system.
  return ChooseTemporaryPath(os::TempPath(), os::GetCurrentDir(), os::WindowsDir(), false);
}

std::string TimeStampName(const os::LocalDateTime& time) {
  int decade = time.year % 10;
  int days = decade * 365 + decade / 4 + DayOfYear(time);
  int hundredths =
      time.hour * 360000 + time.minute * 6000 + time.second * 100 + time.millisecond / 10;
  return IntToBase(days, 3, 32) + IntToBase(hundredths, 5, 32);
}

std::string UniqueName(const std::string& folder, const std::string& prefix,
                       const std::string& extension, bool shortName) {
  std::string base = WithTrailingBackslash(folder);
  std::string cutPrefix = shortName ? prefix.substr(0, 4) : prefix;
  for (;;) {
    std::string stamp = TimeStampName(os::LocalTime());
    if (shortName) stamp.erase(0, cutPrefix.size());
    std::string name = cutPrefix + stamp + extension;
    if (os::GetFileAttributes(base + name) == os::kInvalidAttributes) return name;
  }
}

std::string CreateUniqueFolder(const std::string& parent, bool privateToUser) {
  std::string base = WithTrailingBackslash(parent);
  if (!ForceFolders(base)) ThrowError("Can't create folder %s", base.c_str());
  // Names are per hundredth of a second; a few hundred tries outlast any clash but a hostile one.
  for (int attempt = 0; attempt < 500; ++attempt) {
    std::string path = base + UniqueName(base, "", "", false);
    switch (os::CreateDir(path, privateToUser)) {
      case os::CreateResult::kCreated:
        return path + "\\";
      case os::CreateResult::kExists:
        continue;
      case os::CreateResult::kFailed:
        throw KxError(os::LastErrorMessage());
    }
  }
  ThrowError("Can't create a temporary folder in %s", base.c_str());
}
