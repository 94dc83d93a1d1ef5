// Path mapping of the host OS layer; see HostPaths.h.
#include "os/host/HostPaths.h"

#include <dirent.h>
#include <pwd.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <mutex>
#include <vector>

namespace os::host {
namespace {

std::mutex rootMutex;
std::string rootPath;

std::string DefaultRoot() {
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/.local/share/kxsetup/machine";
}

void MakeDirs(const std::string& path) {
  std::string partial;
  size_t pos = 0;
  while (pos != std::string::npos) {
    pos = path.find('/', pos + 1);
    partial = path.substr(0, pos);
    if (!partial.empty()) mkdir(partial.c_str(), 0755);
  }
}

// The folders a fresh Windows machine has and the engine relies on, the shell folders of the
// registry's seed among them: a setup puts its shortcuts there and must not count them as its own.
void CreateSkeleton(const std::string& root) {
  static const char* const kFolders[] = {
      "/windows/system32",
      "/windows/temp",
      "/windows/fonts",
      "/Program Files/Common Files",
      "/ProgramData/Microsoft/Windows/Start Menu/Programs/Startup",
      "/ProgramData/Microsoft/Windows/Templates",
      "/users/Public/Desktop",
      "/users/Public/Documents",
  };
  static const char* const kProfileFolders[] = {
      "/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Startup",
      "/AppData/Roaming/Microsoft/Windows/SendTo",
      "/AppData/Roaming/Microsoft/Windows/Recent",
      "/AppData/Roaming/Microsoft/Windows/Templates",
      "/AppData/Local",
      "/Desktop",
      "/Documents",
  };
  const std::string driveC = root + "/drive_c";
  for (const char* folder : kFolders) MakeDirs(driveC + folder);
  const std::string profile = driveC + "/users/" + HostUserName();
  for (const char* folder : kProfileFolders) MakeDirs(profile + folder);
}

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// The name of an existing entry of folder that equals name case-insensitively, or name itself.
std::string ResolveComponent(const std::string& folder, const std::string& name) {
  if (Exists(folder + "/" + name)) return name;
  DIR* dir = opendir(folder.empty() ? "/" : folder.c_str());
  if (!dir) return name;
  std::string found = name;
  while (dirent* entry = readdir(dir)) {
    if (strcasecmp(entry->d_name, name.c_str()) == 0) {
      found = entry->d_name;
      break;
    }
  }
  closedir(dir);
  return found;
}

std::vector<std::string> SplitComponents(const std::string& path) {
  std::vector<std::string> parts;
  std::string current;
  for (char c : path) {
    if (c == '\\' || c == '/') {
      if (!current.empty()) parts.push_back(current);
      current.clear();
    } else {
      current += c;
    }
  }
  if (!current.empty()) parts.push_back(current);
  return parts;
}

std::string Joined(const std::string& base, const std::vector<std::string>& parts, size_t count) {
  std::string path = base;
  for (size_t i = 0; i < count; ++i) path += "/" + parts[i];
  return path;
}

// base followed by parts, each part spelled as the entry that exists. Most paths exist as
// written, or all but their last part does: one or two lookups find the longest prefix that
// exists as written, and only the parts after it are matched against their folder's entries.
std::string ResolveUnder(const std::string& base, const std::vector<std::string>& parts) {
  size_t existing = parts.size();
  std::string path = Joined(base, parts, existing);
  while (existing > 0 && !Exists(path)) path = Joined(base, parts, --existing);
  for (size_t i = existing; i < parts.size(); ++i) path += "/" + ResolveComponent(path, parts[i]);
  return path;
}

// Windows folds "." and ".." lexically before it looks at the disk; so do we.
std::vector<std::string> Normalize(const std::vector<std::string>& parts) {
  std::vector<std::string> result;
  for (const std::string& part : parts) {
    if (part == ".") continue;
    if (part == "..") {
      if (!result.empty()) result.pop_back();
      continue;
    }
    result.push_back(part);
  }
  return result;
}

std::string CurrentWindowsDir() {
  std::vector<char> buffer(4096);
  if (!getcwd(buffer.data(), buffer.size())) return "Z:\\";
  return ToWindowsPath(buffer.data());
}

// The Linux folder that stands for a drive letter; drives other than C: and Z: do not exist.
std::string DriveBase(char letter) {
  switch (letter | 0x20) {
    case 'c':
      return MachineRoot() + "/drive_c";
    case 'z':
      return "";
    default:
      return std::string("/nonexistent-drive-") + static_cast<char>(letter | 0x20);
  }
}

}  // namespace

std::string HostUserName() {
  const char* user = std::getenv("USER");
  if (user && *user) return user;
  if (const passwd* entry = getpwuid(geteuid())) return entry->pw_name;
  return "user";
}

const std::string& MachineRoot() {
  std::lock_guard<std::mutex> lock(rootMutex);
  if (rootPath.empty()) {
    const char* env = std::getenv("KX_ROOT");
    rootPath = env && *env ? env : DefaultRoot();
    while (rootPath.size() > 1 && rootPath.back() == '/') rootPath.pop_back();
    CreateSkeleton(rootPath);
  }
  return rootPath;
}

void ResetMachineRoot() {
  std::lock_guard<std::mutex> lock(rootMutex);
  rootPath.clear();
}

std::string ToUnixPath(const std::string& windowsPath) {
  if (!windowsPath.empty() && windowsPath[0] == '/') return windowsPath;
  if (windowsPath.size() >= 2 && (windowsPath[0] == '\\' && windowsPath[1] == '\\')) {
    return "/nonexistent-unc" + windowsPath;  // network paths have no host equivalent
  }
  bool hasDrive = windowsPath.size() >= 2 && windowsPath[1] == ':' &&
                  std::isalpha(static_cast<unsigned char>(windowsPath[0]));
  if (!hasDrive) {
    if (!windowsPath.empty() && windowsPath[0] == '\\') {
      return ToUnixPath(CurrentWindowsDir().substr(0, 2) + windowsPath);
    }
    return ToUnixPath(CurrentWindowsDir() + "\\" + windowsPath);
  }
  std::string unixPath =
      ResolveUnder(DriveBase(windowsPath[0]), Normalize(SplitComponents(windowsPath.substr(2))));
  return unixPath.empty() ? "/" : unixPath;
}

std::string ToWindowsPath(const std::string& unixPath) {
  std::string drivePrefix = "Z:";
  std::string rest = unixPath;
  const std::string driveC = MachineRoot() + "/drive_c";
  if (rest.compare(0, driveC.size(), driveC) == 0 &&
      (rest.size() == driveC.size() || rest[driveC.size()] == '/')) {
    drivePrefix = "C:";
    rest = rest.substr(driveC.size());
  }
  std::string result = drivePrefix;
  for (const std::string& part : Normalize(SplitComponents(rest))) result += "\\" + part;
  return result.size() == 2 ? result + "\\" : result;
}

}  // namespace os::host
