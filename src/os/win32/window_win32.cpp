// The Windows main window (see os.h): a real window, never shown, whose procedure takes the
// records other threads send to the main thread as the private message 22801 and the end of the
// session. A sender registers its record before sending and the procedure delivers only records
// so registered: any process on the desktop can send the message, and its first parameter is a
// pointer the engine would otherwise follow; the registration also tells a sender whether its
// record was delivered before the window went away.
#include "os/win32/WindowsApi.h"
#include "os/win32/Win32Errors.h"

#include <atomic>
#include <mutex>
#include <set>

#include "os/os.h"
#include "os/win32/MainThread.h"

namespace os {
namespace {

constexpr UINT kCrossThreadMessage = 22801;  // 0x5911, a private message of our own window

std::atomic<HWND> mainWindow{nullptr};
// Written and read on the main thread only.
MainWindowHandlers handlers;
std::string registeredClass;

std::mutex pendingMutex;
std::set<void*> pendingRecords;  // sent to the window and not yet taken

// The first thread that asks is the program's main thread, since the variable below asks during
// the program's initialisation; CreateMainWindow moves it to the window's thread.
std::atomic<DWORD>& MainThreadId() {
  static std::atomic<DWORD> id{GetCurrentThreadId()};
  return id;
}
[[maybe_unused]] const bool mainThreadRecorded = (MainThreadId(), true);

// True once: the record was registered by a sender and is now taken for delivery.
bool TakePendingRecord(void* record) {
  std::lock_guard<std::mutex> lock(pendingMutex);
  return pendingRecords.erase(record) == 1;
}

// Exceptions cannot pass the system's frames around the window procedure.
intptr_t CallCrossThreadHandler(void* record) {
  // A copy, since the handler may destroy the window and with it the handlers.
  std::function<intptr_t(void*)> handler = handlers.crossThread;
  if (!handler) return 0;
  try {
    return handler(record);
  } catch (...) {
    return 0;
  }
}

LRESULT QueryEndSession(HWND window, WPARAM wParam, LPARAM lParam) {
  if (!handlers.queryEndSession) return DefWindowProcA(window, WM_QUERYENDSESSION, wParam, lParam);
  try {
    return handlers.queryEndSession() ? TRUE : FALSE;
  } catch (...) {
    return FALSE;
  }
}

void EndSession(bool ending) {
  if (!handlers.endSession) return;
  try {
    handlers.endSession(ending);
  } catch (...) {
  }
}

LRESULT CALLBACK MainWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kCrossThreadMessage: {
      void* record = reinterpret_cast<void*>(wParam);
      return TakePendingRecord(record) ? CallCrossThreadHandler(record) : 0;
    }
    case WM_QUERYENDSESSION:
      return QueryEndSession(window, wParam, lParam);
    case WM_ENDSESSION:
      EndSession(wParam != 0);
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

// The extended call first, the plain one where the system lacks it or refuses.
bool RegisterMainClass(const std::string& className, HICON icon) {
  const UINT styles = CS_HREDRAW | CS_VREDRAW | CS_NOCLOSE;
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSEXA extended = {};
  extended.cbSize = sizeof(extended);
  extended.style = styles;
  extended.lpfnWndProc = MainWindowProcedure;
  extended.hInstance = instance;
  extended.hIcon = icon;
  extended.lpszClassName = className.c_str();
  if (RegisterClassExA(&extended)) return true;
  WNDCLASSA plain = {};
  plain.style = styles;
  plain.lpfnWndProc = MainWindowProcedure;
  plain.hInstance = instance;
  plain.hIcon = icon;
  plain.lpszClassName = className.c_str();
  return RegisterClassA(&plain) || win32::Fail("Cannot register the window class " + className);
}

}  // namespace

MainWindowResult CreateMainWindow(const std::string& className, IconHandle icon,
                                  MainWindowHandlers newHandlers) {
  if (!RegisterMainClass(className, static_cast<HICON>(icon))) {
    return MainWindowResult::kClassRefused;
  }
  handlers = std::move(newHandlers);
  MainThreadId() = GetCurrentThreadId();
  // A frame without a minimize box, at (0, 0) and of no size; it is never shown.
  const DWORD styles = WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MAXIMIZEBOX;
  HINSTANCE instance = GetModuleHandleA(nullptr);
  HWND window = CreateWindowExA(0, className.c_str(), "", styles, 0, 0, 0, 0, nullptr, nullptr,
                                instance, nullptr);
  // A session without a desktop (Wine without a display) refuses top-level windows. A
  // message-only window still carries the sends from other threads; it misses only the
  // session-end broadcasts, which such a session does not send to windows anyway.
  if (!window) {
    window = CreateWindowExA(0, className.c_str(), "", styles, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             instance, nullptr);
  }
  if (!window) {
    win32::Fail("Cannot create the main window");
    handlers = {};
    UnregisterClassA(className.c_str(), instance);
    return MainWindowResult::kWindowRefused;
  }
  registeredClass = className;
  mainWindow = window;
  return MainWindowResult::kCreated;
}

void DestroyMainWindow() {
  HWND window = mainWindow.exchange(nullptr);
  if (!window) return;
  DestroyWindow(window);
  // Messages still queued for the window are answered 0 when the thread next looks at its
  // queue; this look releases their senders now rather than at the next wait.
  MSG message;
  PeekMessageA(&message, nullptr, kCrossThreadMessage, kCrossThreadMessage, PM_NOREMOVE);
  UnregisterClassA(registeredClass.c_str(), GetModuleHandleA(nullptr));
  registeredClass.clear();
  handlers = {};
}

WindowHandle MainWindow() { return mainWindow.load(); }

bool IsMainThread() { return MainThreadId().load() == GetCurrentThreadId(); }

intptr_t SendToMainThread(void* record, bool* delivered) {
  if (delivered) *delivered = false;
  if (IsMainThread()) {
    if (!mainWindow.load()) return 0;
    if (delivered) *delivered = true;
    return CallCrossThreadHandler(record);
  }
  HWND window = mainWindow.load();
  if (!window) return 0;
  {
    std::lock_guard<std::mutex> lock(pendingMutex);
    if (!pendingRecords.insert(record).second) return 0;
  }
  LRESULT answer = SendMessageA(window, kCrossThreadMessage, reinterpret_cast<WPARAM>(record), 0);
  // Still registered: the window went away before it took the record.
  bool taken = !TakePendingRecord(record);
  if (delivered) *delivered = taken;
  return taken ? answer : 0;
}

namespace win32 {

bool WaitServing(HANDLE handle, DWORD milliseconds) {
  if (!IsMainThread()) {
    if (handle) return WaitForSingleObject(handle, milliseconds) == WAIT_OBJECT_0;
    ::Sleep(milliseconds);
    return false;
  }
  const DWORD start = GetTickCount();
  const DWORD count = handle ? 1 : 0;
  for (;;) {
    // A look at the queue dispatches the messages sent to this thread. It looks only for a
    // message nobody posts and removes nothing: posted messages stay for PumpMessages.
    MSG message;
    PeekMessageA(&message, nullptr, kCrossThreadMessage, kCrossThreadMessage, PM_NOREMOVE);
    DWORD elapsed = GetTickCount() - start;
    DWORD remaining = milliseconds == INFINITE  ? INFINITE
                      : elapsed >= milliseconds ? 0
                                                : milliseconds - elapsed;
    DWORD result = MsgWaitForMultipleObjects(count, handle ? &handle : nullptr, FALSE, remaining,
                                             QS_SENDMESSAGE);
    if (handle && result == WAIT_OBJECT_0) return true;
    if (result != WAIT_OBJECT_0 + count) return false;  // the time is up, or the wait failed
  }
}

}  // namespace win32
}  // namespace os
