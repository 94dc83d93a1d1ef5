// The Windows OS layer's Windows version and version resources.
//
// The version comes from GetVersionExA. Since Windows 8.1 that call reports 6.2 to programs whose
// manifest does not declare the newer systems; the engine's manifest declares them up to
// Windows 10/11, which therefore report 10.0.
//
// Version resources are read by version.dll, which is loaded at run time from the system folder
// by its full path and never imported: a setup program runs from download folders, where a
// planted version.dll would otherwise be loaded in its place. The library stays loaded for the
// life of the process.
#include "os/win32/WindowsApi.h"
#include "os/win32/Win32Errors.h"

#include <cstring>
#include <vector>

#include "os/os.h"
#include "os/win32/SystemLibraries.h"

namespace os {
namespace {

using GetFileVersionInfoSizeFn = DWORD(WINAPI*)(LPCSTR, LPDWORD);
using GetFileVersionInfoFn = BOOL(WINAPI*)(LPCSTR, DWORD, DWORD, LPVOID);
using VerQueryValueFn = BOOL(WINAPI*)(LPCVOID, LPCSTR, LPVOID*, PUINT);

struct VersionLibrary {
  GetFileVersionInfoSizeFn getSize = nullptr;
  GetFileVersionInfoFn getInfo = nullptr;
  VerQueryValueFn query = nullptr;
  bool IsUsable() const { return getSize && getInfo && query; }
};

VersionLibrary LoadVersionLibrary() {
  VersionLibrary library;
  HMODULE module = win32::LoadSystemLibrary("version.dll");
  library.getSize =
      win32::ModuleFunction<GetFileVersionInfoSizeFn>(module, "GetFileVersionInfoSizeA");
  library.getInfo = win32::ModuleFunction<GetFileVersionInfoFn>(module, "GetFileVersionInfoA");
  library.query = win32::ModuleFunction<VerQueryValueFn>(module, "VerQueryValueA");
  return library;
}

// Loaded once, on first use, from whichever thread comes first.
const VersionLibrary& Version() {
  static const VersionLibrary library = LoadVersionLibrary();
  return library;
}

Platform PlatformOf(DWORD platformId) {
  switch (platformId) {
    case VER_PLATFORM_WIN32s:
      return Platform::kWin32s;
    case VER_PLATFORM_WIN32_WINDOWS:
      return Platform::kWindows9x;
    default:
      return Platform::kWindowsNT;
  }
}

}  // namespace

VersionData GetVersionData() {
  OSVERSIONINFOA info;
  std::memset(&info, 0, sizeof(info));
  info.dwOSVersionInfoSize = sizeof(info);
  VersionData data;
  if (!GetVersionExA(&info)) return data;
  data.platform = PlatformOf(info.dwPlatformId);
  data.major = static_cast<int>(info.dwMajorVersion);
  data.minor = static_cast<int>(info.dwMinorVersion);
  data.build = static_cast<int>(info.dwBuildNumber);
  data.servicePack.assign(info.szCSDVersion, strnlen(info.szCSDVersion, sizeof(info.szCSDVersion)));
  return data;
}

bool GetFileVersion(const std::string& path, uint32_t& mostSignificant,
                    uint32_t& leastSignificant) {
  const std::string context = "No version in " + path;
  const VersionLibrary& library = Version();
  if (!library.IsUsable()) return win32::Fail(context, ERROR_PROC_NOT_FOUND);
  DWORD ignored = 0;
  DWORD size = library.getSize(path.c_str(), &ignored);
  if (size == 0) return win32::Fail(context);
  std::vector<uint8_t> block(size);
  if (!library.getInfo(path.c_str(), 0, size, block.data())) return win32::Fail(context);
  void* value = nullptr;
  UINT length = 0;
  VS_FIXEDFILEINFO fixed;
  if (!library.query(block.data(), "\\", &value, &length) || !value ||
      length < sizeof(VS_FIXEDFILEINFO)) {
    return win32::FailWith(context, "the resource has no fixed information");
  }
  // A damaged resource can make the answer point anywhere; only the buffer is read.
  uintptr_t first = reinterpret_cast<uintptr_t>(block.data());
  uintptr_t at = reinterpret_cast<uintptr_t>(value);
  if (at < first || at - first > block.size() || block.size() - (at - first) < sizeof(fixed)) {
    return win32::FailWith(context, "the resource is damaged");
  }
  std::memcpy(&fixed, value, sizeof(fixed));
  if (fixed.dwSignature != VS_FFI_SIGNATURE) {
    return win32::FailWith(context, "the resource is damaged");
  }
  mostSignificant = fixed.dwFileVersionMS;
  leastSignificant = fixed.dwFileVersionLS;
  return true;
}

}  // namespace os
