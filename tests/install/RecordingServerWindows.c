/* Windows: the calls are the string value named by the library's full path under
 * HKCU\Software\KxTests\RecordingServer, where a registration of a real server would leave its
 * marks too. */
#include <windows.h>

#include <string.h>

#include "RecordingServer.h"

int RecordCall(char sign) {
  HMODULE self = NULL;
  char path[MAX_PATH + 1] = {0};
  char calls[256] = {0};
  DWORD size = sizeof calls - 2;
  HKEY key = NULL;
  LONG status;
  if (!GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          (LPCSTR)&RecordCall, &self) ||
      GetModuleFileNameA(self, path, MAX_PATH) == 0) {
    return 1;
  }
  if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\KxTests\\RecordingServer", 0, NULL, 0,
                      KEY_QUERY_VALUE | KEY_SET_VALUE, NULL, &key, NULL) != ERROR_SUCCESS) {
    return 1;
  }
  if (RegQueryValueExA(key, path, NULL, NULL, (BYTE*)calls, &size) != ERROR_SUCCESS) calls[0] = 0;
  calls[sizeof calls - 2] = 0;
  size_t length = strlen(calls);
  if (length + 1 < sizeof calls - 1) {
    calls[length] = sign;
    calls[length + 1] = 0;
  }
  status = RegSetValueExA(key, path, 0, REG_SZ, (const BYTE*)calls, (DWORD)strlen(calls) + 1);
  RegCloseKey(key);
  return status == ERROR_SUCCESS ? 0 : 1;
}
