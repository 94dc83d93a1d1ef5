// The Windows OS layer's system libraries: loading them by full path, and keeping libraries
// planted beside the program out of the process. Used by the Windows layer (and by a test
// program that shows the preloading at work); any thread.
//
// A setup program runs from download folders, where anyone may leave a file named like a system
// library. Windows looks for a library that is loaded by name in the program's folder first.
// Where Windows allows it (SetDefaultDllDirectories: Windows 8, and Vista and 7 once updated),
// HardenLibrarySearch (os.h) restricts that search to the system folder. Older systems cannot be
// told so; there the system libraries that system code is known to load by name are loaded first
// by their full paths: a library that is already loaded is taken by its name, so the program's
// folder is never searched for it.
#pragma once

#include "os/win32/WindowsApi.h"

namespace os::win32 {

// The function of that name in module; nullptr when either is missing. Calls that old systems
// lack are looked up this way, never imported: the program must still start there.
template <typename Function>
Function ModuleFunction(HMODULE module, const char* name) {
  return module ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)))
                : nullptr;
}

// The library of that file name in the system folder, loaded by its full path, its own imports
// looked for in the system folder first; nullptr when the system has none. Stays loaded.
HMODULE LoadSystemLibrary(const char* fileName);

// Loads every system library known to be loaded by name, those the system has. Returns how many
// are loaded afterwards.
int PreloadLibrariesLoadedByName();

}  // namespace os::win32
