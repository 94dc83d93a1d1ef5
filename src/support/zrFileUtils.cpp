#include "support/zrFileUtils.h"

#include <strings.h>

#include <vector>

#include "support/Errors.h"
#include "support/WinVersion.h"
#include "support/zrRegIni.h"
#include "support/zrStrUtils.h"

namespace {

bool IsBareDrive(const std::string& path) { return path.size() == 2 && path[1] == ':'; }

std::string ParentOf(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
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

// Eight base-32 characters from the system's random source; false when the system has none.
bool RandomStamp(std::string& stamp) {
  uint8_t bytes[8];
  if (!os::RandomBytes(bytes, sizeof(bytes))) return false;
  stamp.clear();
  for (uint8_t byte : bytes) stamp += IntToBase(byte % 32, 1, 32);
  return true;
}

// A name is taken by any entry, a link to nothing included: the link would be followed by
// whoever creates a file under that name.
bool IsTaken(const std::string& path) {
  return os::GetFileAttributes(path) != os::kInvalidAttributes;
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
  // Bounds the search in a folder where every name seems taken (a file system that answers for
  // names it does not hold); any real clash ends at the first draw.
  constexpr int kMaxDraws = 200;
  std::string base = WithTrailingBackslash(folder);
  std::string cutPrefix = shortName ? prefix.substr(0, 4) : prefix;
  auto named = [&](std::string stamp) {
    if (shortName) stamp.erase(0, cutPrefix.size());
    return cutPrefix + stamp + extension;
  };
  // The clock's name is taken by another run in the same hundredth of a second, or by someone who
  // reads the clock too and took the coming names ahead to stall or mislead us. Names drawn at
  // random cannot be taken ahead; only a system without a random source waits for the clock.
  std::string name = named(TimeStampName(os::LocalTime()));
  for (int draw = 0; IsTaken(base + name); ++draw) {
    if (draw == kMaxDraws) ThrowError("Can't find a free name in %s", base.c_str());
    std::string stamp;
    if (!RandomStamp(stamp)) {
      os::Sleep(10);
      stamp = TimeStampName(os::LocalTime());
    }
    name = named(stamp);
  }
  return name;
}

std::string CreateUniqueFolder(const std::string& parent, bool privateToUser) {
  std::string base = WithTrailingBackslash(parent);
  if (!ForceFolders(base)) ThrowError("Can't create folder %s", base.c_str());
  // A name taken between the test and the creation is never taken over: the next one is drawn.
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

// ---------------------------------------------------------------------------------------------
// Files

namespace {

constexpr size_t kCopyBlock = 131072;
constexpr size_t kLineChunk = 100;

std::string DriveRoot(const std::string& path) {
  return path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) + "\\" : path;
}

bool IsAbsolute(const std::string& path) {
  return (path.size() >= 3 && path[1] == ':' && path[2] == '\\') ||
         (path.size() >= 2 && path[0] == '\\' && path[1] == '\\');
}

// The lines of wininit.ini, each trimmed, with the new entries placed once at the end of its
// [Rename] section (before the first empty line or header after it) or in a new one at the end.
std::vector<std::string> WithRenameEntries(const std::vector<std::string>& lines,
                                           const std::vector<std::string>& entries) {
  std::vector<std::string> result;
  bool inRename = false;
  bool placed = false;
  for (const std::string& line : lines) {
    bool endsSection = line.empty() || line.front() == '[';
    if (inRename && endsSection && !placed) {
      result.insert(result.end(), entries.begin(), entries.end());
      placed = true;
    }
    if (!line.empty() && line.front() == '[') inRename = UpperCaseText(line) == "[RENAME]";
    result.push_back(line);
  }
  if (!placed) {
    if (!inRename) result.push_back("[Rename]");
    result.insert(result.end(), entries.begin(), entries.end());
  }
  return result;
}

bool WriteLines(const std::string& path, const std::vector<std::string>& lines) {
  os::File file = os::File::Open(path, os::File::Mode::kCreate);
  if (!file.IsOpen()) return false;
  for (const std::string& line : lines) {
    if (!WriteLine(file, line)) return false;
  }
  return true;
}

// The new file takes the place of the old one, which is kept aside until then. The old copy stays
// beside the new file when it cannot be deleted, and under its aside name when a failed move cannot
// be undone: a stray copy, never a lost file.
bool PutInPlace(const std::string& written, const std::string& path) {
  if (!FileExists(path)) return os::MoveFile(written, path);
  const std::string folder = ExtractFilePath(path);
  const std::string aside = folder + UniqueName(folder, "", ".old", true);
  if (!os::MoveFile(path, aside)) return false;
  if (!os::MoveFile(written, path)) {
    os::MoveFile(aside, path);
    return false;
  }
  os::DeleteFile(aside);
  return true;
}

// The short name of a file that may not exist yet: an empty file stands in for a moment.
std::string ShortPathOfTarget(const std::string& target) {
  if (FileExists(target)) return ShortPath(target);
  { os::File placeholder = os::File::Open(target, os::File::Mode::kCreate); }
  std::string shortTarget = ShortPath(target);
  os::DeleteFile(target);
  return shortTarget;
}

bool ScheduleIn9xWininit(const std::string& source, const std::string& target) {
  std::string ini = WithTrailingBackslash(os::WindowsDir()) + "wininit.ini";
  std::vector<std::string> lines;
  if (!ReadTextLines(ini, lines)) return false;
  for (std::string& line : lines) line = Trim(line);
  std::string shortSource = ShortPath(source);
  std::vector<std::string> entries;
  if (target.empty()) {
    entries.push_back("NUL=" + shortSource);
  } else {
    std::string shortTarget = ShortPathOfTarget(target);
    entries.push_back("NUL=" + shortTarget);
    entries.push_back(shortTarget + "=" + shortSource);
    if (UpperCaseText(shortTarget) != UpperCaseText(target)) {
      // DOS renames at boot know only short names; the long one is restored after the restart.
      RegWriteString("HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce",
                     Format("Rename %s", shortTarget.c_str()),
                     Format("command.com /c ren %s \"%s\"", shortTarget.c_str(),
                            ExtractFileName(target).c_str()));
    }
  }
  return ReplaceWithLines(ini, WithRenameEntries(lines, entries));
}

}  // namespace

int64_t FileSize(const std::string& path) {
  os::FindData data;
  return os::FindFile(path, data) ? static_cast<int64_t>(data.size) : -1;
}

int64_t FileTime(const std::string& path) {
  os::FindData data;
  return os::FindFile(path, data) ? data.writeTime : 0;
}

std::string ReadWholeFile(const std::string& path) {
  std::string content;
  TryReadWholeFile(path, content);
  return content;
}

bool TryReadWholeFile(const std::string& path, std::string& content) {
  content.clear();
  os::File file = os::File::Open(path, os::File::Mode::kRead);
  return file.IsOpen() && file.ReadToEnd(content);
}

bool ReadLine(os::File& file, std::string& line) {
  line.clear();
  char chunk[kLineChunk];
  bool readAny = false;
  for (;;) {
    int64_t start = file.Tell();
    int64_t count = file.Read(chunk, sizeof(chunk));
    if (count <= 0) return readAny;
    readAny = true;
    for (int64_t i = 0; i < count; ++i) {
      if (chunk[i] != '\r' && chunk[i] != '\n') continue;
      line.append(chunk, static_cast<size_t>(i));
      int64_t next = i + 1;
      if (chunk[i] == '\r') {
        char after = 0;
        if (next < count) {
          after = chunk[next];
        } else {
          file.Seek(start + next);
          if (file.Read(&after, 1) != 1) after = 0;
        }
        if (after == '\n') ++next;
      }
      file.Seek(start + next);
      return true;
    }
    line.append(chunk, static_cast<size_t>(count));
  }
}

bool WriteLine(os::File& file, const std::string& text) {
  return file.Write(text.data(), text.size()) && file.Write("\r\n", 2);
}

bool ReadTextLines(const std::string& path, std::vector<std::string>& lines) {
  lines.clear();
  if (!FileExists(path)) return true;
  std::string content;
  if (!TryReadWholeFile(path, content)) return false;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find_first_of("\r\n", start);
    if (end == std::string::npos) end = content.size();
    lines.push_back(content.substr(start, end - start));
    start = end + 1;
    if (content[end] == '\r' && start < content.size() && content[start] == '\n') ++start;
  }
  return true;
}

bool ReplaceWithLines(const std::string& path, const std::vector<std::string>& lines) {
  const std::string written = os::CreateTempFile(ExtractFilePath(path), "kx");
  if (written.empty()) return false;
  if (WriteLines(written, lines) && PutInPlace(written, path)) return true;
  os::DeleteFile(written);
  return false;
}

std::string ShortPath(const std::string& path) {
  std::string shortPath;
  return os::GetShortPath(path, shortPath) ? shortPath : path;
}

uint64_t FreeSpaceKiB(const std::string& folder) {
  if (!FolderExists(folder)) return 0;
  std::string asked = IsPlatform9x() ? DriveRoot(folder) : WithTrailingBackslash(folder);
  const TWinVersion& version = WinVersion();
  if (static_cast<int>(version.Kind) > 1 || version.Build > 1110) {
    uint64_t freeBytes = 0;
    return os::GetDiskFreeSpaceEx(asked, freeBytes) ? freeBytes / 1024 : 0;
  }
  uint32_t sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0;
  if (!os::GetDiskFreeSpaceClassic(DriveRoot(asked), sectorsPerCluster, bytesPerSector,
                                   freeClusters)) {
    return 0;
  }
  return static_cast<uint64_t>(bytesPerSector) * sectorsPerCluster * freeClusters / 1024;
}

bool CopyFileWithProgress(const std::string& source, const std::string& target,
                          const TCopyProgress& progress, bool append) {
  os::FindData sourceData;
  if (!os::FindFile(source, sourceData) || (sourceData.attributes & os::kAttrDirectory)) {
    return false;
  }
  os::File input = os::File::Open(source, os::File::Mode::kRead);
  if (!input.IsOpen()) return false;
  os::File output =
      os::File::Open(target, append ? os::File::Mode::kAppend : os::File::Mode::kCreate);
  if (!output.IsOpen()) return false;
  std::vector<char> block(kCopyBlock);
  uint64_t copied = 0;
  for (;;) {
    int64_t count = input.Read(block.data(), block.size());
    if (count < 0) return false;
    if (count == 0) break;
    if (!output.Write(block.data(), static_cast<size_t>(count))) return false;
    copied += static_cast<uint64_t>(count);
    if (progress &&
        !progress(source, target, static_cast<uint32_t>(count), sourceData.size, copied)) {
      return false;
    }
  }
  output.Close();
  return os::SetFileWriteTime(target, sourceData.writeTime) &&
         os::SetFileAttributes(target, sourceData.attributes);
}

std::string FullPath(const std::string& path) {
  if (path.empty() || IsAbsolute(path)) return path;
  if (path[0] == '\\') return os::GetCurrentDir().substr(0, 2) + path;
  return WithTrailingBackslash(os::GetCurrentDir()) + path;
}

bool ReplaceAtReboot(const std::string& source, const std::string& target) {
  std::string from = FullPath(source);
  std::string to = FullPath(target);
  if (os::GetFileAttributes(from) == os::kInvalidAttributes) return false;
  if (IsPlatform9x()) return ScheduleIn9xWininit(from, to);
  if (to.empty()) return os::MoveFileAtReboot(from, "");
  return os::MoveFileAtReboot(to, "") && os::MoveFileAtReboot(from, to);
}

bool DeleteAtReboot(const std::string& file) { return ReplaceAtReboot(file, ""); }
