// The Linux side: the host OS layer's own mapping takes a path to the Linux file system (finding
// existing names without regard to case, as the layer does for every call); stat and realpath
// do the rest, and the results go back to the layer's Windows names.
#include <sys/stat.h>

#include <cstdlib>
#include <memory>

#include "os/os.h"
#include "os/host/HostPaths.h"

namespace os {
namespace {

// The path with every link followed; "" when it leads nowhere.
std::string RealPath(const std::string& unixPath) {
  std::unique_ptr<char, decltype(&std::free)> resolved(realpath(unixPath.c_str(), nullptr),
                                                       &std::free);
  return resolved ? std::string(resolved.get()) : std::string();
}

}  // namespace

PathTarget ResolvePath(const std::string& path) {
  const std::string unixPath = host::ToUnixPath(path);
  PathTarget file;
  const size_t slash = unixPath.find_last_of('/');
  if (slash != std::string::npos) {
    const std::string folder = RealPath(slash == 0 ? "/" : unixPath.substr(0, slash));
    const std::string name = unixPath.substr(slash + 1);
    if (!folder.empty()) {
      file.entryPath = host::ToWindowsPath(folder == "/" ? "/" + name : folder + "/" + name);
    }
  }
  struct stat status;
  const std::string target = RealPath(unixPath);
  if (target.empty() || stat(target.c_str(), &status) != 0) return file;
  file.finalPath = host::ToWindowsPath(target);
  file.kind = S_ISREG(status.st_mode)   ? PathKind::kFile
              : S_ISDIR(status.st_mode) ? PathKind::kFolder
                                        : PathKind::kSpecial;
  return file;
}

bool FileNamesIgnoreCase() { return false; }

}  // namespace os
