// The host implementation of the OS layer: Windows facilities emulated on Linux (see os.h and
// HostPaths.h). Every failure is recorded once, by Fail(), as the thread's last error.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <ctime>
#include <mutex>

#include "os/host/FaultSwitch.h"
#include "os/host/HostErrors.h"
#include "os/host/HostPaths.h"
#include "os/host/ShareModes.h"
#include "os/os.h"

// The linked stand-ins for the program's resources; absent from programs that carry none.
extern "C" {
extern const uint8_t kx_resource_RCDATA_UNPACK_begin[] __attribute__((weak));
extern const uint8_t kx_resource_RCDATA_UNPACK_end[] __attribute__((weak));
}

namespace os {
namespace {

using host::Fail;

// Asks the fault switch (FaultSwitch.h) whether this change may go ahead; false, with the refusal
// recorded under context, when it may not.
bool MayChange(const std::string& context, host::Change change = host::Change::kOther) {
  const int refusal = host::RefusedChange(change);
  return refusal == 0 || Fail(context, refusal);
}

// Seconds between 1601-01-01 and 1970-01-01, the origins of Windows and Unix time.
constexpr int64_t kEpochDelta = 11644473600LL;

int64_t ToFileTime(const timespec& time) {
  return (static_cast<int64_t>(time.tv_sec) + kEpochDelta) * 10000000LL + time.tv_nsec / 100;
}

timespec FromFileTime(int64_t fileTime) {
  timespec time;
  time.tv_sec = static_cast<time_t>(fileTime / 10000000LL - kEpochDelta);
  time.tv_nsec = static_cast<long>(fileTime % 10000000LL) * 100;
  return time;
}

// Hidden, system and archive have no Unix counterpart; they live in an extended attribute
// where the file system has them. Read-only is the absence of the owner's write bit.
constexpr char kAttributesXattr[] = "user.kx.attributes";
constexpr uint32_t kXattrBits = kAttrHidden | kAttrSystem | kAttrArchive;

uint32_t StoredAttributeBits(const std::string& unixPath) {
  char text[16] = {};
  ssize_t length = getxattr(unixPath.c_str(), kAttributesXattr, text, sizeof(text) - 1);
  if (length <= 0) return kAttrArchive;  // what Windows gives a freshly written file
  return static_cast<uint32_t>(std::strtoul(text, nullptr, 10)) & kXattrBits;
}

uint32_t AttributesOf(const std::string& unixPath, const struct stat& st) {
  if (S_ISDIR(st.st_mode)) return kAttrDirectory;
  uint32_t attributes = StoredAttributeBits(unixPath);
  if (!(st.st_mode & S_IWUSR)) attributes |= kAttrReadOnly;
  return attributes == 0 ? kAttrNormal : attributes;
}

std::string ReadLinkOrEmpty(const char* link) {
  std::vector<char> buffer(4096);
  ssize_t length = readlink(link, buffer.data(), buffer.size() - 1);
  return length > 0 ? std::string(buffer.data(), length) : std::string();
}

std::string QuoteParameter(const std::string& parameter) {
  if (!parameter.empty() && parameter.find_first_of(" \t") == std::string::npos) return parameter;
  return "\"" + parameter + "\"";
}

std::string WithCrLfAsNewlines(const std::string& text) {
  std::string result;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      result += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      result += text[i];
    }
  }
  return result;
}

int DefaultAnswer(uint32_t flags) {
  static const int kAnswers[][3] = {
      {kIdOk, kIdOk, kIdOk},      {kIdOk, kIdCancel, kIdCancel}, {kIdOk, kIdOk, kIdOk},
      {kIdYes, kIdNo, kIdCancel}, {kIdYes, kIdNo, kIdNo},
  };
  uint32_t buttons = flags & 0xF;
  int which = (flags & kMbDefButton3) ? 2 : (flags & kMbDefButton2) ? 1 : 0;
  return buttons < 5 ? kAnswers[buttons][which] : kIdOk;
}

// Answers for tests, one per box in order, from $KX_MSGBOX_ANSWERS ("6,7,1").
bool NextScriptedAnswer(int& answer) {
  static std::mutex mutex;
  static size_t next = 0;
  std::lock_guard<std::mutex> lock(mutex);
  const char* script = std::getenv("KX_MSGBOX_ANSWERS");
  if (!script) return false;
  std::string text = script;
  size_t start = 0;
  for (size_t index = 0; start <= text.size(); ++index) {
    size_t end = text.find(',', start);
    if (end == std::string::npos) end = text.size();
    if (index == next) {
      if (start == end) return false;
      ++next;
      answer = std::atoi(text.substr(start, end - start).c_str());
      return true;
    }
    start = end + 1;
  }
  return false;
}

// Windows reports no size for folders.
FindData EntryOf(const std::string& name, const std::string& unixPath, const struct stat& st) {
  return {name, AttributesOf(unixPath, st),
          S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size), ToFileTime(st.st_mtim)};
}

bool HasWildcards(const std::string& path) {
  size_t name = path.find_last_of("\\/");
  return path.find_first_of("*?", name == std::string::npos ? 0 : name + 1) != std::string::npos;
}

bool SameLetter(char a, char b) {
  return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
}

// "*" matches any run of characters and "?" any one, letters in either case. One position to
// return to suffices, so a hostile pattern costs no more than its length times the name's.
bool MatchesPattern(const std::string& pattern, const std::string& name) {
  size_t p = 0, n = 0, star = std::string::npos, starName = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      starName = n;
    } else if (p < pattern.size() && (pattern[p] == '?' || SameLetter(pattern[p], name[n]))) {
      ++p;
      ++n;
    } else if (star != std::string::npos) {
      p = star + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

// As Windows matches: a final ".*" also takes names without an extension ("*.*" is every name).
bool MatchesWildcards(const std::string& pattern, const std::string& name) {
  if (MatchesPattern(pattern, name)) return true;
  return pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, ".*") == 0 &&
         MatchesPattern(pattern.substr(0, pattern.size() - 2), name);
}

// A folder's names in the order NTFS lists them: "." and ".." first (a drive root has neither),
// then by their upper-case spelling.
bool ListedNames(const std::string& unixFolder, std::vector<std::string>& names) {
  DIR* dir = opendir(unixFolder.c_str());
  if (!dir) return false;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  auto upper = [](std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
  };
  std::sort(names.begin(), names.end(),
            [&](const std::string& a, const std::string& b) { return upper(a) < upper(b); });
  if (host::ToWindowsPath(unixFolder).size() > 3) names.insert(names.begin(), {".", ".."});
  return true;
}

// FindFirstFile's answer for a name with wildcards: the first entry of its folder that matches.
bool FindFirstMatch(const std::string& path, const std::string& unixPath, FindData& data) {
  size_t slash = unixPath.find_last_of('/');
  std::string folder = slash == 0 ? "/" : unixPath.substr(0, slash);
  std::string pattern = unixPath.substr(slash + 1);
  std::vector<std::string> names;
  if (!ListedNames(folder, names)) return Fail(path);
  for (const std::string& name : names) {
    if (!MatchesWildcards(pattern, name)) continue;
    std::string entryPath = folder + "/" + name;
    struct stat st;
    if (stat(entryPath.c_str(), &st) != 0) continue;
    data = EntryOf(name, entryPath, st);
    return true;
  }
  return Fail(path, ENOENT);
}

// What Windows asks for in each mode: access, the sharing granted to others, and the creation.
// Files written are opened for reading too where the rights allow: the locks that record the
// sharing need a readable descriptor.
struct OpenMode {
  int flags;
  unsigned access;
  unsigned share;
  bool truncate;
};

OpenMode OpenModeOf(File::Mode mode) {
  using host::kShareRead;
  using host::kShareWrite;
  switch (mode) {
    case File::Mode::kCreate:
      return {O_RDWR | O_CREAT, kShareWrite, kShareRead, true};
    case File::Mode::kAppend:
      return {O_RDWR | O_CREAT | O_APPEND, kShareWrite, kShareRead, false};
    case File::Mode::kReadWrite:
      return {O_RDWR | O_CREAT, kShareRead | kShareWrite, kShareRead, false};
    case File::Mode::kReadShared:
      return {O_RDONLY, kShareRead, kShareRead | kShareWrite, false};
    case File::Mode::kRead:
      break;
  }
  return {O_RDONLY, kShareRead, kShareRead, false};
}

// Windows starts a program by its name: a new file named like one may be started here too.
mode_t CreationMode(const std::string& unixPath) {
  const size_t dot = unixPath.find_last_of("./");
  if (dot == std::string::npos || unixPath[dot] != '.') return 0644;
  const std::string extension = unixPath.substr(dot);
  for (const char* program : {".exe", ".com", ".bat"}) {
    if (strcasecmp(extension.c_str(), program) == 0) return 0755;
  }
  return 0644;
}

// Opened without waiting: a pipe would block the open until someone writes to it, and Windows
// has no such files in its folders; File::Open refuses whatever is no regular file.
int OpenDescriptor(const std::string& unixPath, const OpenMode& how) {
  int fd = open(unixPath.c_str(), how.flags | O_CLOEXEC | O_NONBLOCK, CreationMode(unixPath));
  if (fd < 0 && errno == EACCES && !(how.access & host::kShareRead)) {
    // A file its owner may write but not read: written without recorded sharing.
    fd = open(unixPath.c_str(), (how.flags & ~O_RDWR) | O_WRONLY | O_CLOEXEC | O_NONBLOCK, 0644);
  }
  if (fd >= 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

}  // namespace

std::string CommandLine() {
  FILE* file = std::fopen("/proc/self/cmdline", "rb");
  if (!file) return QuoteParameter(ModuleFileName());
  std::string raw;
  char buffer[4096];
  size_t count;
  while ((count = std::fread(buffer, 1, sizeof(buffer), file)) > 0) raw.append(buffer, count);
  std::fclose(file);
  std::string line = QuoteParameter(ModuleFileName());
  size_t start = raw.find('\0');  // argv[0] is replaced by the full program path
  while (start != std::string::npos && start + 1 < raw.size()) {
    size_t end = raw.find('\0', start + 1);
    line += " " + QuoteParameter(raw.substr(start + 1, end - start - 1));
    start = end;
  }
  return line;
}

std::string ModuleFileName() { return host::ToWindowsPath(ReadLinkOrEmpty("/proc/self/exe")); }

void HardenLibrarySearch() {}  // libraries are only ever loaded by full path here

void InitCommonControls() {}

void ExitProcess(int code) {
  std::fflush(nullptr);
  std::exit(code);
}

void SetStdoutBinary() {}  // no text mode here
void SetStderrBinary() {}
void SetStdinBinary() {}

std::string GetCurrentDir() {
  std::vector<char> buffer(4096);
  if (!getcwd(buffer.data(), buffer.size())) return "Z:\\";
  return host::ToWindowsPath(buffer.data());
}

bool SetCurrentDir(const std::string& path) {
  std::string unixPath = host::ToUnixPath(path);
  return chdir(unixPath.c_str()) == 0 || Fail("Cannot change to folder " + path);
}

std::string TempPath() {
  const char* tmp = std::getenv("TMPDIR");
  std::string path = host::ToWindowsPath(tmp && *tmp ? tmp : "/tmp");
  return path.back() == '\\' ? path : path + "\\";
}

std::string WindowsDir() {
  host::MachineRoot();
  return "C:\\windows";
}

std::string SystemDir() { return WindowsDir() + "\\system32"; }

uint32_t GetFileAttributes(const std::string& path) {
  std::string unixPath = host::ToUnixPath(path);
  struct stat st;
  // As on Windows, a link is an entry of its own: it exists even when its target does not.
  if (lstat(unixPath.c_str(), &st) != 0) {
    Fail(path);
    return kInvalidAttributes;
  }
  if (!S_ISLNK(st.st_mode)) return AttributesOf(unixPath, st);
  struct stat target;
  if (stat(unixPath.c_str(), &target) != 0) return kAttrReparsePoint;
  return AttributesOf(unixPath, target) | kAttrReparsePoint;
}

bool SetFileAttributes(const std::string& path, uint32_t attributes) {
  if (!MayChange(path)) return false;
  std::string unixPath = host::ToUnixPath(path);
  struct stat st;
  if (stat(unixPath.c_str(), &st) != 0) return Fail(path);
  if (S_ISDIR(st.st_mode)) return true;
  mode_t mode = st.st_mode & 07777;
  mode = (attributes & kAttrReadOnly) ? (mode & ~(S_IWUSR | S_IWGRP | S_IWOTH)) : (mode | S_IWUSR);
  if (chmod(unixPath.c_str(), mode) != 0) return Fail(path);
  std::string bits = std::to_string(attributes & kXattrBits);
  setxattr(unixPath.c_str(), kAttributesXattr, bits.data(), bits.size(), 0);  // best effort
  return true;
}

std::optional<int64_t> GetFileWriteTime(const std::string& path) {
  struct stat st;
  if (stat(host::ToUnixPath(path).c_str(), &st) != 0) {
    Fail(path);
    return std::nullopt;
  }
  return ToFileTime(st.st_mtim);
}

bool SetFileWriteTime(const std::string& path, int64_t fileTime) {
  if (!MayChange(path)) return false;
  timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1] = FromFileTime(fileTime);
  return utimensat(AT_FDCWD, host::ToUnixPath(path).c_str(), times, 0) == 0 || Fail(path);
}

CreateResult CreateDir(const std::string& path, bool privateToUser) {
  if (!MayChange("Cannot create folder " + path)) return CreateResult::kFailed;
  std::string unixPath = host::ToUnixPath(path);
  if (mkdir(unixPath.c_str(), privateToUser ? 0700 : 0755) == 0) return CreateResult::kCreated;
  int error = errno;
  Fail("Cannot create folder " + path, error);
  return error == EEXIST ? CreateResult::kExists : CreateResult::kFailed;
}

bool RemoveDir(const std::string& path) {
  if (!MayChange("Cannot remove folder " + path)) return false;
  std::string unixPath = host::ToUnixPath(path);
  struct stat st;
  if (lstat(unixPath.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    return unlink(unixPath.c_str()) == 0 || Fail("Cannot remove folder " + path);
  }
  return rmdir(unixPath.c_str()) == 0 || Fail("Cannot remove folder " + path);
}

bool DeleteFile(const std::string& path) {
  if (!MayChange("Cannot delete " + path)) return false;
  std::string unixPath = host::ToUnixPath(path);
  struct stat st;
  if (lstat(unixPath.c_str(), &st) != 0) return Fail("Cannot delete " + path);
  if (S_ISDIR(st.st_mode)) return Fail("Cannot delete " + path, EISDIR);
  if (!S_ISLNK(st.st_mode) && !(st.st_mode & S_IWUSR)) {
    return Fail("Cannot delete " + path, EACCES);  // Windows refuses to delete read-only files
  }
  host::DeleteAccess access(unixPath);
  if (!access.Granted()) return Fail("Cannot delete " + path, EBUSY);
  return unlink(unixPath.c_str()) == 0 || Fail("Cannot delete " + path);
}

bool FindFile(const std::string& path, FindData& data) {
  std::string unixPath = host::ToUnixPath(path);
  struct stat st;
  if (stat(unixPath.c_str(), &st) == 0) {
    size_t slash = unixPath.find_last_of('/');
    data =
        EntryOf(slash == std::string::npos ? unixPath : unixPath.substr(slash + 1), unixPath, st);
    return true;
  }
  int error = errno;
  if (HasWildcards(path)) return FindFirstMatch(path, unixPath, data);
  return Fail(path, error);
}

bool ListFolder(const std::string& folder, std::vector<FindData>& entries) {
  std::string unixFolder = host::ToUnixPath(folder);
  DIR* dir = opendir(unixFolder.c_str());
  if (!dir) return Fail("Cannot list folder " + folder);
  errno = 0;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    std::string unixPath = unixFolder + "/" + name;
    struct stat st;
    if (lstat(unixPath.c_str(), &st) != 0) continue;
    uint32_t linkBit = 0;
    if (S_ISLNK(st.st_mode)) {
      linkBit = kAttrReparsePoint;
      struct stat target;
      if (stat(unixPath.c_str(), &target) == 0) st = target;
    }
    entries.push_back(EntryOf(name, unixPath, st));
    entries.back().attributes |= linkBit;
    errno = 0;
  }
  bool ended = errno == 0;
  if (!ended) Fail("Cannot list folder " + folder);
  closedir(dir);
  return ended;
}

File File::Open(const std::string& path, Mode mode) {
  const OpenMode how = OpenModeOf(mode);
  if ((how.access & host::kShareWrite) && !MayChange("Cannot open file " + path)) return File();
  const std::string unixPath = host::ToUnixPath(path);
  // A file deleted between the open and the claim is gone, as on Windows: the name is opened
  // again (and, where the mode creates, made anew).
  for (int attempt = 0; attempt < 3; ++attempt) {
    int fd = OpenDescriptor(unixPath, how);
    if (fd < 0) break;
    struct stat st;
    if (fstat(fd, &st) == 0 && !S_ISREG(st.st_mode)) {
      close(fd);
      if (S_ISDIR(st.st_mode)) {
        Fail("Cannot open file " + path, EISDIR);
      } else {
        Fail("Cannot open file " + path + ", which is no regular file", ENXIO);
      }
      return File();
    }
    if (!host::ClaimShareMode(fd, how.access, how.share)) {
      close(fd);
      Fail("Cannot open file " + path, EBUSY);
      return File();
    }
    if (fstat(fd, &st) == 0 && st.st_nlink == 0) {
      close(fd);
      errno = ENOENT;
      continue;
    }
    // Truncated only once the sharing allows it, so that a refused open leaves the file whole.
    if (how.truncate && ftruncate(fd, 0) != 0) {
      Fail("Cannot open file " + path);
      close(fd);
      return File();
    }
    return File(fd);
  }
  Fail("Cannot open file " + path);
  return File();
}

int64_t File::Read(void* buffer, size_t count) {
  ssize_t result;
  do {
    result = read(static_cast<int>(handle_), buffer, count);
  } while (result < 0 && errno == EINTR);
  if (result < 0) Fail("Read error");
  return result;
}

bool File::Write(const void* data, size_t count) {
  if (!MayChange("Write error", host::Change::kWrite)) return false;
  const char* bytes = static_cast<const char*>(data);
  while (count > 0) {
    ssize_t written = write(static_cast<int>(handle_), bytes, count);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return Fail("Write error", written < 0 ? errno : ENOSPC);
    bytes += written;
    count -= static_cast<size_t>(written);
  }
  return true;
}

bool File::Seek(int64_t offset) {
  return lseek(static_cast<int>(handle_), offset, SEEK_SET) >= 0 || Fail("Seek error");
}

bool File::Truncate() {
  if (!MayChange("Truncate error")) return false;
  off_t position = lseek(static_cast<int>(handle_), 0, SEEK_CUR);
  return (position >= 0 && ftruncate(static_cast<int>(handle_), position) == 0) ||
         Fail("Truncate error");
}

int64_t File::Tell() const {
  off_t position = lseek(static_cast<int>(handle_), 0, SEEK_CUR);
  if (position < 0) Fail("Seek error");
  return position;
}

int64_t File::Size() const {
  struct stat st;
  if (fstat(static_cast<int>(handle_), &st) != 0) {
    Fail("Cannot tell the size of a file");
    return -1;
  }
  return st.st_size;
}

void File::Close() {
  if (handle_ == kNoHandle) return;
  close(static_cast<int>(handle_));
  handle_ = kNoHandle;
}

namespace {

// "2026-12-06 10:00:00.000" from $KX_LOCAL_TIME: a clock that stands still, for tests.
bool StoppedClock(LocalDateTime& time) {
  const char* text = std::getenv("KX_LOCAL_TIME");
  if (!text) return false;
  LocalDateTime parsed;
  int fields = std::sscanf(text, "%d-%d-%d %d:%d:%d.%d", &parsed.year, &parsed.month, &parsed.day,
                           &parsed.hour, &parsed.minute, &parsed.second, &parsed.millisecond);
  if (fields < 6) return false;
  time = parsed;
  return true;
}

}  // namespace

LocalDateTime LocalTime() {
  LocalDateTime stopped;
  if (StoppedClock(stopped)) return stopped;
  timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  tm local;
  localtime_r(&now.tv_sec, &local);
  return {local.tm_year + 1900,
          local.tm_mon + 1,
          local.tm_mday,
          local.tm_hour,
          local.tm_min,
          local.tm_sec,
          static_cast<int>(now.tv_nsec / 1000000)};
}

bool RandomBytes(void* buffer, size_t count) {
  uint8_t* bytes = static_cast<uint8_t*>(buffer);
  while (count > 0) {
    ssize_t drawn = getrandom(bytes, count, 0);
    if (drawn < 0 && errno == EINTR) continue;
    if (drawn <= 0) return Fail("Cannot draw random bytes", drawn < 0 ? errno : EIO);
    bytes += drawn;
    count -= static_cast<size_t>(drawn);
  }
  return true;
}

std::optional<std::span<const uint8_t>> FindResource(const std::string& type,
                                                     const std::string& name) {
  struct Linked {
    const char* type;
    const char* name;
    const uint8_t* begin;
    const uint8_t* end;
  };
  const Linked kLinked[] = {
      {"RCDATA", "UNPACK", kx_resource_RCDATA_UNPACK_begin, kx_resource_RCDATA_UNPACK_end},
  };
  for (const Linked& resource : kLinked) {
    if (strcasecmp(resource.type, type.c_str()) != 0) continue;
    if (strcasecmp(resource.name, name.c_str()) != 0) continue;
    if (!resource.begin || !resource.end) return std::nullopt;
    return std::span<const uint8_t>(resource.begin, resource.end);
  }
  return std::nullopt;
}

Library Library::Load(const std::string& fullPath) {
  void* handle = dlopen(host::ToUnixPath(fullPath).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* error = dlerror();
    host::FailWith("Cannot load " + fullPath, error ? error : "unknown error");
    return Library();
  }
  return Library(handle);
}

void* Library::Symbol(const char* name) const { return handle_ ? dlsym(handle_, name) : nullptr; }

void Library::Unload() {
  if (!handle_) return;
  dlclose(handle_);
  handle_ = nullptr;
}

int MessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
               uint32_t flags) {
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), WithCrLfAsNewlines(text).c_str());
  std::fflush(stderr);
  int answer;
  return NextScriptedAnswer(answer) ? answer : DefaultAnswer(flags);
}

IconHandle LoadAppIcon(const std::string& name) { return nullptr; }  // no pixels on the host

void DestroyIcon(IconHandle icon) {}

}  // namespace os
