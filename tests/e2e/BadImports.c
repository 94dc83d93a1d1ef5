/* Imports version.dll, a library an attacker could plant beside a setup program: the import check
 * must reject it. */
#include <windows.h>

__declspec(dllexport) DWORD KxTestVersionSize(const char* path) {
  DWORD handle = 0;
  return GetFileVersionInfoSizeA(path, &handle);
}
