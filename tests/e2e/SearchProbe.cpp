// Loads libraries by name, as system code does, and prints the file each one came from; with
// "preload", after the Windows layer's preloading of the system libraries known to be loaded by
// name. library_search.sh runs it beside planted libraries.
//   search_probe plain|preload LIBRARY...
#include <cstdio>
#include <cstring>

#include "os/win32/SystemLibraries.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: search_probe plain|preload LIBRARY...\n");
    return 2;
  }
  if (std::strcmp(argv[1], "preload") == 0) {
    std::printf("preloaded: %d\n", os::win32::PreloadLibrariesLoadedByName());
  }
  for (int index = 2; index < argc; ++index) {
    HMODULE module = LoadLibraryA(argv[index]);
    char path[MAX_PATH] = "not loaded";
    if (module) GetModuleFileNameA(module, path, MAX_PATH);
    std::printf("%s: %s\n", argv[index], path);
  }
  return 0;
}
