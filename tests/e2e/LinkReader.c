/* Reads a shortcut through the system's shell-link object and prints its fields, one
 * "name=value" line each, for the end-to-end tests to compare:
 *   kxtest_linkreader LINK
 * Exit code 1 when the link cannot be loaded or a field cannot be read. */
#define COBJMACROS
#include <windows.h>
#include <shlobj.h>
#include <stdio.h>

static int Print(IShellLinkA* link) {
  char text[MAX_PATH * 4];
  int icon = 0, show = 0;
  WORD hotkey = 0;
  if (FAILED(IShellLinkA_GetPath(link, text, sizeof text, NULL, SLGP_RAWPATH))) return 1;
  printf("target=%s\n", text);
  if (FAILED(IShellLinkA_GetArguments(link, text, sizeof text))) return 1;
  printf("arguments=%s\n", text);
  if (FAILED(IShellLinkA_GetWorkingDirectory(link, text, sizeof text))) return 1;
  printf("workdir=%s\n", text);
  if (FAILED(IShellLinkA_GetDescription(link, text, sizeof text))) return 1;
  printf("description=%s\n", text);
  if (FAILED(IShellLinkA_GetIconLocation(link, text, sizeof text, &icon))) return 1;
  printf("icon=%s,%d\n", text, icon);
  if (FAILED(IShellLinkA_GetShowCmd(link, &show))) return 1;
  printf("show=%d\n", show);
  if (FAILED(IShellLinkA_GetHotkey(link, &hotkey))) return 1;
  printf("hotkey=%u\n", (unsigned)hotkey);
  return 0;
}

int main(int argc, char** argv) {
  IShellLinkA* link = NULL;
  IPersistFile* file = NULL;
  WCHAR path[MAX_PATH * 2];
  int result = 1;
  if (argc != 2) return 2;
  if (!MultiByteToWideChar(CP_ACP, 0, argv[1], -1, path, MAX_PATH * 2)) return 1;
  if (FAILED(CoInitialize(NULL))) return 1;
  if (SUCCEEDED(CoCreateInstance(&CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, &IID_IShellLinkA,
                                 (void**)&link))) {
    if (SUCCEEDED(IShellLinkA_QueryInterface(link, &IID_IPersistFile, (void**)&file))) {
      if (SUCCEEDED(IPersistFile_Load(file, path, STGM_READ))) result = Print(link);
      IPersistFile_Release(file);
    }
    IShellLinkA_Release(link);
  }
  CoUninitialize();
  return result;
}
