/* A program that needs the machine restarted, started by a setup: it ends the session the way
 * Windows does when a restart is asked for, by sending the setup's main window the question
 * WM_QUERYENDSESSION and then WM_ENDSESSION with the answer, straight to the window: without a
 * desktop the setup has only a message-only window, which no broadcast of the session's end
 * reaches. It then stays a while, as a program does whose session is ending, so that the setup
 * must stop waiting for it.
 *   kxtest_asker [MARKS]
 * Appends the line "asker" to MARKS first. Exit code 1 when the setup's window is not found, 2
 * when MARKS cannot be written. */
#include <windows.h>

static const wchar_t kClass[] = L"KxanMainWindow";

static int AppendMark(const wchar_t* path) {
  DWORD written = 0;
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  int done;
  if (file == INVALID_HANDLE_VALUE) return 0;
  done = WriteFile(file, "asker\r\n", 7, &written, NULL) && written == 7;
  CloseHandle(file);
  return done;
}

int wmain(int argc, wchar_t** argv) {
  HWND window;
  LRESULT mayEnd;
  if (argc > 1 && argv[1][0] && !AppendMark(argv[1])) return 2;
  window = FindWindowW(kClass, NULL);
  if (!window) window = FindWindowExW(HWND_MESSAGE, NULL, kClass, NULL);
  if (!window) return 1;
  mayEnd = SendMessageW(window, WM_QUERYENDSESSION, 0, 0);
  SendMessageW(window, WM_ENDSESSION, mayEnd ? TRUE : FALSE, 0);
  Sleep(3000);
  return 0;
}
