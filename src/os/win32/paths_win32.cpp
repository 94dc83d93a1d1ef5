// The Windows side: a handle opened without any access (which neither blocks on a pipe nor
// touches a device's data) tells the kind of file, and the system's final path of the handle
// follows symbolic links and junctions. That call came with Vista; before it there are no links
// to files, and the full path name stands in.
#include <string>

#include "os/os.h"
#include "os/win32/WindowsApi.h"

namespace os {
namespace {

using FinalPathFn = DWORD(WINAPI*)(HANDLE, LPSTR, DWORD, DWORD);

// An open handle, closed on every way out.
class THandle {
 public:
  explicit THandle(HANDLE handle) : handle_(handle) {}
  ~THandle() {
    if (IsOpen()) CloseHandle(handle_);
  }
  THandle(const THandle&) = delete;
  THandle& operator=(const THandle&) = delete;
  bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return handle_; }

 private:
  HANDLE handle_;
};

HANDLE OpenWithoutAccess(const std::string& path, DWORD flags) {
  return CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
}

std::string FullPathName(const std::string& path) {
  char buffer[MAX_PATH * 4];
  const DWORD length = GetFullPathNameA(path.c_str(), sizeof buffer, buffer, nullptr);
  return length > 0 && length < sizeof buffer ? std::string(buffer, length) : std::string();
}

// The handle's path as the system resolved it, without the "\\?\" that marks a long path.
std::string FinalPathOf(HANDLE handle, const std::string& path) {
  static const auto finalPath = reinterpret_cast<FinalPathFn>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleA")));
  if (!finalPath) return FullPathName(path);
  char buffer[MAX_PATH * 4];
  const DWORD length = finalPath(handle, buffer, sizeof buffer, 0);
  if (length == 0 || length >= sizeof buffer) return "";
  std::string result(buffer, length);
  if (result.rfind("\\\\?\\UNC\\", 0) == 0) return "\\\\" + result.substr(8);
  if (result.rfind("\\\\?\\", 0) == 0) return result.substr(4);
  return result;
}

}  // namespace

PathTarget ResolvePath(const std::string& path) {
  PathTarget file;
  // The entry itself: a link in the last name is opened, not followed.
  {
    THandle entry(OpenWithoutAccess(path, FILE_FLAG_OPEN_REPARSE_POINT));
    if (entry.IsOpen()) {
      file.entryPath = FinalPathOf(entry.Get(), path);
    } else {
      const std::string full = FullPathName(path);
      const size_t separator = full.find_last_of('\\');
      if (separator != std::string::npos) {
        const std::string folderName = full.substr(0, separator + 1);
        THandle folder(OpenWithoutAccess(folderName, 0));
        const std::string folderPath = folder.IsOpen() ? FinalPathOf(folder.Get(), folderName) : "";
        if (!folderPath.empty()) {
          file.entryPath =
              folderPath + (folderPath.back() == '\\' ? "" : "\\") + full.substr(separator + 1);
        }
      }
    }
  }
  THandle target(OpenWithoutAccess(path, 0));
  if (!target.IsOpen()) return file;
  file.finalPath = FinalPathOf(target.Get(), path);
  if (GetFileType(target.Get()) != FILE_TYPE_DISK) {
    file.kind = PathKind::kSpecial;
    return file;
  }
  BY_HANDLE_FILE_INFORMATION information;
  if (!GetFileInformationByHandle(target.Get(), &information)) return file;
  file.kind = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::kFolder
                                                                        : PathKind::kFile;
  return file;
}

bool FileNamesIgnoreCase() { return true; }

}  // namespace os
