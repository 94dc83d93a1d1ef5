// The Windows OS layer's library search and system libraries (see SystemLibraries.h and os.h).
#include "os/win32/SystemLibraries.h"

#include <string>

#include "os/os.h"

namespace os {
namespace win32 {
namespace {

// System libraries that the system's own code loads by name, not by path, on the versions that
// have them: a planted copy of any of them would run inside the setup. None is a "known DLL" on
// every version, which Windows would always take from the system folder. A name the running
// system lacks is simply not loaded.
constexpr const char* kLibrariesLoadedByName[] = {
    "uxtheme.dll",   "dwmapi.dll",                                   // themes: user32, comctl32
    "version.dll",   "apphelp.dll",                                  // kernel32, the shim engine
    "cryptbase.dll", "cryptsp.dll",  "rsaenh.dll",   "rsabase.dll",  // advapi32: random, providers
    "ntmarta.dll",   "secur32.dll",  "sspicli.dll",                  // advapi32: rights, accounts
    "userenv.dll",   "profapi.dll",                                  // the user's profile folders
    "setupapi.dll",  "propsys.dll",  "linkinfo.dll", "ntshrui.dll",  // shell32, shortcuts
    "srvcli.dll",    "cscapi.dll",   "shfolder.dll",                 // shell32: shares, folders
    "oleacc.dll",    "clbcatq.dll",                                  // accessibility, COM classes
    "msimg32.dll",   "riched20.dll", "riched32.dll",                 // the plug-ins' controls
};

}  // namespace

HMODULE LoadSystemLibrary(const char* fileName) {
  std::string path = SystemDir() + "\\" + fileName;
  // With an altered search path the library's imports are found beside it before anywhere else.
  return LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

int PreloadLibrariesLoadedByName() {
  // Where one of them is missing, the attempt must end quietly, without a box.
  UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  int loaded = 0;
  for (const char* name : kLibrariesLoadedByName) {
    if (LoadSystemLibrary(name)) ++loaded;
  }
  SetErrorMode(previousMode);
  return loaded;
}

}  // namespace win32

void HardenLibrarySearch() {
  using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
  using SetDllDirectoryFn = BOOL(WINAPI*)(LPCSTR);
  constexpr DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
  HMODULE kernel = GetModuleHandleA("kernel32.dll");
  auto setDefault =
      win32::ModuleFunction<SetDefaultDllDirectoriesFn>(kernel, "SetDefaultDllDirectories");
  // Takes the current folder out of the search (XP SP1 and later), which matters where the
  // search cannot be restricted: the restricted search never looks there.
  auto setDllDirectory = win32::ModuleFunction<SetDllDirectoryFn>(kernel, "SetDllDirectoryA");
  if (setDllDirectory) setDllDirectory("");
  // Where the search cannot be restricted (the call is missing or refused), the program's folder
  // stays first: the known names are loaded before anyone asks for them.
  if (!setDefault || !setDefault(kSearchSystem32)) win32::PreloadLibrariesLoadedByName();
}

}  // namespace os
