/* Holds a file open the way a running program holds a file of its own, so that a setup finds it
 * in use: others may read it, nobody may change or delete it, until the holder lets go. With
 * "alone", nobody else may even open it.
 *   kxtest_holder FILE READY STOP [alone]
 * Once FILE is held, READY is created; the holder lets go when STOP appears, or after 60 s so
 * that a test that died on the way leaves no holder behind. Exit code 1 when FILE cannot be held
 * or READY cannot be made. */
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  HANDLE held;
  HANDLE ready;
  DWORD share;
  int waited;
  if (argc != 4 && (argc != 5 || lstrcmpW(argv[4], L"alone") != 0)) return 2;
  share = argc == 5 ? 0 : FILE_SHARE_READ;
  held =
      CreateFileW(argv[1], GENERIC_READ, share, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (held == INVALID_HANDLE_VALUE) return 1;
  ready = CreateFileW(argv[2], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (ready == INVALID_HANDLE_VALUE) return 1;
  CloseHandle(ready);
  for (waited = 0; waited < 600; ++waited) {
    if (GetFileAttributesW(argv[3]) != INVALID_FILE_ATTRIBUTES) break;
    Sleep(100);
  }
  CloseHandle(held);
  return 0;
}
