// The Windows OS layer's processes, disks, shell folders, session and COM registration (see
// os.h). Calls that old systems lack are looked up at run time.
#include "os/win32/WindowsApi.h"
#include "os/win32/Win32Errors.h"

#include <atomic>
#include <cstring>

#include "os/os.h"
#include "os/win32/MainThread.h"
#include "os/win32/SystemLibraries.h"

namespace os {
namespace {

HANDLE AsHandle(void* handle) { return static_cast<HANDLE>(handle); }

template <typename Function>
Function KernelFunction(const char* name) {
  return win32::ModuleFunction<Function>(GetModuleHandleA("kernel32.dll"), name);
}

// shell32 is loaded on first use, long after the library search was hardened, and never imported:
// it brings helper libraries of its own, which would otherwise be looked for beside the program
// before any of its code runs. SHGetSpecialFolderPathA is missing from the first Windows 95.
HMODULE ShellLibrary() {
  static const HMODULE shell = win32::LoadSystemLibrary("shell32.dll");
  return shell;
}

template <typename Function>
Function ShellFunction(const char* name) {
  return win32::ModuleFunction<Function>(ShellLibrary(), name);
}

std::wstring Widen(const std::string& text) {
  int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), length);
  wide.resize(static_cast<size_t>(length) - 1);
  return wide;
}

// A loaded type library, released on every path.
class TypeLibrary {
 public:
  explicit TypeLibrary(const std::string& file) {
    if (FAILED(LoadTypeLib(Widen(file).c_str(), &library_))) library_ = nullptr;
  }
  ~TypeLibrary() {
    if (library_) library_->Release();
  }
  ITypeLib* get() const { return library_; }

 private:
  ITypeLib* library_ = nullptr;
};

bool RegisterLibrary(ITypeLib* library, const std::string& file) {
  BSTR helpFile = nullptr;
  library->GetDocumentation(-1, nullptr, nullptr, nullptr, &helpFile);
  std::wstring helpFolder;
  if (helpFile) {
    helpFolder = helpFile;
    size_t slash = helpFolder.find_last_of(L'\\');
    helpFolder = slash == std::wstring::npos ? std::wstring() : helpFolder.substr(0, slash);
    SysFreeString(helpFile);
  }
  std::wstring path = Widen(file);
  return SUCCEEDED(
      RegisterTypeLib(library, path.data(), helpFolder.empty() ? nullptr : helpFolder.data()));
}

// UnRegisterTypeLib is missing from the first automation libraries, hence the look-up.
bool UnregisterLibrary(ITypeLib* library) {
  using UnregisterFn = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);
  HMODULE automation = GetModuleHandleA("oleaut32.dll");
  auto unregister = automation ? reinterpret_cast<UnregisterFn>(reinterpret_cast<void*>(
                                     GetProcAddress(automation, "UnRegisterTypeLib")))
                               : nullptr;
  TLIBATTR* attributes = nullptr;
  if (!unregister || FAILED(library->GetLibAttr(&attributes))) return false;
  HRESULT result = unregister(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum,
                              attributes->lcid, attributes->syskind);
  library->ReleaseTLibAttr(attributes);
  return SUCCEEDED(result);
}

// Catches the activation of a window being created on this thread once, and centres it.
thread_local HHOOK centringHook = nullptr;

LRESULT CALLBACK CentreOnActivation(int code, WPARAM wParam, LPARAM lParam) {
  HHOOK hook = centringHook;
  if (code == HCBT_ACTIVATE) {
    CentreWindow(reinterpret_cast<HWND>(wParam));
    UnhookWindowsHookEx(hook);
    centringHook = nullptr;
  }
  return CallNextHookEx(hook, code, wParam, lParam);
}

}  // namespace

Process::Process(Process&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }

Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    if (handle_) CloseHandle(AsHandle(handle_));
    handle_ = other.handle_;
    other.handle_ = nullptr;
  }
  return *this;
}

Process::~Process() {
  if (handle_) CloseHandle(AsHandle(handle_));
}

bool Process::Wait(uint32_t milliseconds) {
  return !handle_ || win32::WaitServing(AsHandle(handle_), milliseconds);
}

bool Process::ExitCode(uint32_t& code) const {
  DWORD exitCode = 0;
  if (!handle_) return win32::Fail("Cannot read the exit code", ERROR_INVALID_HANDLE);
  if (!GetExitCodeProcess(AsHandle(handle_), &exitCode)) {
    return win32::Fail("Cannot read the exit code");
  }
  if (exitCode == STILL_ACTIVE) return win32::FailWith("No exit code", "the program still runs");
  code = exitCode;
  return true;
}

Process CreateProcess(const std::string& commandLine, const std::string& workingFolder,
                      int showCommand) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(showCommand);
  PROCESS_INFORMATION info = {};
  std::string line = commandLine;  // the call may write into its command line
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      workingFolder.empty() ? nullptr : workingFolder.c_str(), &startup, &info)) {
    win32::Fail("Cannot start " + commandLine);
    return Process();
  }
  CloseHandle(info.hThread);
  return Process(info.hProcess);
}

Process ShellExecute(WindowHandle owner, const std::string& file, const std::string& parameters,
                     const std::string& workingFolder, int showCommand, bool& started) {
  SHELLEXECUTEINFOA info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
  info.hwnd = static_cast<HWND>(owner);
  info.lpFile = file.c_str();
  info.lpParameters = parameters.empty() ? nullptr : parameters.c_str();
  info.lpDirectory = workingFolder.empty() ? nullptr : workingFolder.c_str();
  info.nShow = showCommand;
  auto shellExecute = ShellFunction<BOOL(WINAPI*)(SHELLEXECUTEINFOA*)>("ShellExecuteExA");
  started = shellExecute && shellExecute(&info);
  if (!started)
    win32::Fail("Cannot open " + file, shellExecute ? GetLastError() : ERROR_PROC_NOT_FOUND);
  return started && info.hProcess ? Process(info.hProcess) : Process();
}

namespace {

// The crash handler of OnCrash, and who is running it.
void (*crashHandler)(const char*) = nullptr;
UINT crashExitCode = static_cast<UINT>(-1);
std::atomic<DWORD> crashingThread{0};

const char* FaultName(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
      return "access violation";
    case EXCEPTION_DATATYPE_MISALIGNMENT:
      return "misaligned data";
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
      return "illegal instruction";
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
      return "arithmetic fault";
    case EXCEPTION_STACK_OVERFLOW:
      return "stack overflow";
    default:
      if (code >= 0xC000008D && code <= 0xC0000093) return "arithmetic fault";  // floating point
      return "fault";
  }
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* pointers) {
  DWORD expected = 0;
  if (!crashingThread.compare_exchange_strong(expected, GetCurrentThreadId())) {
    if (expected == GetCurrentThreadId()) TerminateProcess(GetCurrentProcess(), crashExitCode);
    Sleep(INFINITE);  // the first fault's handler ends the process
  }
  const DWORD code =
      pointers && pointers->ExceptionRecord ? pointers->ExceptionRecord->ExceptionCode : 0;
  crashHandler(FaultName(code));
  TerminateProcess(GetCurrentProcess(), crashExitCode);
  return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

// The last-chance filter sees what no handler of the faulting thread took. (Some 64-bit systems
// swallow a fault inside a window procedure that they called back; it then never gets here.)
void OnCrash(void (*handler)(const char* fault), int exitCode) {
  crashHandler = handler;
  crashExitCode = static_cast<UINT>(exitCode);
  SetUnhandledExceptionFilter(OnUnhandledException);
}

// Windows tells a GUI process of the end of the session through its windows, which the engine's
// main window handles; a console's Ctrl+C never reaches a program without a console.
void OnStopRequest(void (*handler)(), int exitCode) {}

bool PumpMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) return false;
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return true;
}

void Sleep(uint32_t milliseconds) { win32::WaitServing(nullptr, milliseconds); }

std::vector<std::string> EnvironmentStrings() {
  std::vector<std::string> strings;
  char* block = GetEnvironmentStringsA();
  if (!block) return strings;
  for (const char* entry = block; *entry; entry += strlen(entry) + 1) strings.push_back(entry);
  FreeEnvironmentStringsA(block);
  return strings;
}

bool SetProcessVariable(const std::string& name, const std::string& value) {
  return SetEnvironmentVariableA(name.c_str(), value.c_str()) ||
         win32::Fail("Cannot set the variable " + name);
}

bool RemoveProcessVariable(const std::string& name) {
  return SetEnvironmentVariableA(name.c_str(), nullptr) ||
         win32::Fail("Cannot remove the variable " + name);
}

bool GetDiskFreeSpaceEx(const std::string& folder, uint64_t& freeBytes) {
  using FreeSpaceExFn = BOOL(WINAPI*)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
  auto freeSpaceEx = KernelFunction<FreeSpaceExFn>("GetDiskFreeSpaceExA");
  ULARGE_INTEGER available, total, totalFree;
  const std::string context = "Cannot tell the free space of " + folder;
  if (!freeSpaceEx) return win32::Fail(context, ERROR_PROC_NOT_FOUND);
  if (!freeSpaceEx(folder.c_str(), &available, &total, &totalFree)) return win32::Fail(context);
  freeBytes = available.QuadPart;
  return true;
}

bool GetDiskFreeSpaceClassic(const std::string& root, uint32_t& sectorsPerCluster,
                             uint32_t& bytesPerSector, uint32_t& freeClusters) {
  DWORD sectors, bytes, clusters, totalClusters;
  if (!GetDiskFreeSpaceA(root.c_str(), &sectors, &bytes, &clusters, &totalClusters)) {
    return win32::Fail("Cannot tell the free space of " + root);
  }
  sectorsPerCluster = sectors;
  bytesPerSector = bytes;
  freeClusters = clusters;
  return true;
}

bool GetShortPath(const std::string& path, std::string& shortPath) {
  char buffer[MAX_PATH + 1];
  DWORD length = GetShortPathNameA(path.c_str(), buffer, sizeof(buffer));
  if (length == 0) return win32::Fail(path);
  if (length >= sizeof(buffer)) return win32::Fail(path, ERROR_FILENAME_EXCED_RANGE);
  shortPath.assign(buffer, length);
  return true;
}

bool MoveFile(const std::string& source, const std::string& target) {
  return MoveFileA(source.c_str(), target.c_str()) ||
         win32::Fail("Cannot move " + source + " to " + target);
}

bool MoveFileAtReboot(const std::string& source, const std::string& target) {
  return MoveFileExA(source.c_str(), target.empty() ? nullptr : target.c_str(),
                     MOVEFILE_DELAY_UNTIL_REBOOT) ||
         win32::Fail("Cannot schedule " + source + " for the next start of Windows");
}

std::string GetSpecialFolder(int csidl) {
  char buffer[MAX_PATH + 1] = {};
  auto folderPath = ShellFunction<BOOL(WINAPI*)(HWND, LPSTR, int, BOOL)>("SHGetSpecialFolderPathA");
  if (!folderPath || !folderPath(nullptr, buffer, csidl, FALSE)) return "";
  return buffer;
}

namespace {

// Releases a COM interface on every path.
template <class Interface>
struct Released {
  Interface* pointer = nullptr;
  ~Released() {
    if (pointer) pointer->Release();
  }
};

// Sets the link's fields in a fixed order, each call having to succeed.
bool FillShellLink(IShellLinkA& shellLink, const ShellLinkData& link) {
  return SUCCEEDED(shellLink.SetPath(link.target.c_str())) &&
         SUCCEEDED(shellLink.SetArguments(link.arguments.c_str())) &&
         SUCCEEDED(shellLink.SetWorkingDirectory(link.workingFolder.c_str())) &&
         SUCCEEDED(shellLink.SetShowCmd(link.showCommand)) &&
         SUCCEEDED(shellLink.SetHotkey(link.hotkey)) &&
         SUCCEEDED(shellLink.SetDescription(link.description.c_str())) &&
         SUCCEEDED(shellLink.SetIconLocation(link.iconFile.c_str(), link.iconIndex));
}

void NotifyItemChanged(const std::string& path) {
  using Notify = void(WINAPI*)(LONG, UINT, LPCVOID, LPCVOID);
  if (auto notify = ShellFunction<Notify>("SHChangeNotify")) {
    notify(SHCNE_UPDATEITEM, SHCNF_PATHA | SHCNF_FLUSH, path.c_str(), nullptr);
  }
}

}  // namespace

bool SaveShellLink(const std::string& linkPath, const ShellLinkData& link) {
  const std::string context = "Cannot save the shortcut " + linkPath;
  Released<IShellLinkA> shellLink;
  HRESULT result = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                    reinterpret_cast<void**>(&shellLink.pointer));
  if (FAILED(result)) return win32::Fail(context, static_cast<DWORD>(result));
  if (!FillShellLink(*shellLink.pointer, link)) {
    return win32::FailWith(context, "the shell link refused a field");
  }
  Released<IPersistFile> file;
  result =
      shellLink.pointer->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file.pointer));
  if (FAILED(result)) return win32::Fail(context, static_cast<DWORD>(result));
  const std::wstring widePath = Widen(linkPath);
  result = file.pointer->Save(widePath.c_str(), FALSE);
  if (FAILED(result)) return win32::Fail(context, static_cast<DWORD>(result));
  NotifyItemChanged(linkPath);
  if (!link.iconFile.empty() &&
      GetFileAttributesA(link.iconFile.c_str()) != INVALID_FILE_ATTRIBUTES) {
    NotifyItemChanged(link.iconFile);
  }
  return true;
}

bool EnableShutdownPrivilege() {
  HANDLE token = nullptr;
  const std::string context = "Cannot enable the shutdown privilege";
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
    return win32::Fail(context);
  }
  TOKEN_PRIVILEGES privileges = {};
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  bool enabled =
      LookupPrivilegeValueA(nullptr, "SeShutdownPrivilege", &privileges.Privileges[0].Luid) &&
      AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) &&
      GetLastError() == ERROR_SUCCESS;  // "not all assigned" also returns TRUE
  if (!enabled) win32::Fail(context);
  CloseHandle(token);
  return enabled;
}

bool ExitWindows(uint32_t flags) {
  return ExitWindowsEx(flags, 0) || win32::Fail("Cannot restart Windows");
}

bool CallServerRegistration(const std::string& file, bool registering, int32_t& result) {
  result = 0;
  // A server's own libraries are found beside it; a missing disk must not stop the run with a
  // system box.
  UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS);
  HMODULE library = LoadLibraryExA(file.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  SetErrorMode(previousMode);
  if (!library) return win32::Fail("Cannot load " + file);
  using ServerFunction = HRESULT(STDAPICALLTYPE*)();
  const char* name = registering ? "DllRegisterServer" : "DllUnregisterServer";
  auto function =
      reinterpret_cast<ServerFunction>(reinterpret_cast<void*>(GetProcAddress(library, name)));
  if (!function) win32::Fail(file + " has no " + name);
  if (function) result = function();
  FreeLibrary(library);
  return function != nullptr;
}

bool RegisterTypeLibrary(const std::string& file, bool registering) {
  TypeLibrary library(file);
  const std::string context = "Cannot register the type library " + file;
  if (!library.get()) return win32::FailWith(context, "it cannot be loaded");
  bool done = registering ? RegisterLibrary(library.get(), file) : UnregisterLibrary(library.get());
  return done || win32::FailWith(context, "the system refused");
}

bool AddFontResource(const std::string& file) {
  return AddFontResourceA(file.c_str()) > 0 || win32::Fail("Cannot add the font " + file);
}

bool UnloadFontResource(const std::string& file) {
  return RemoveFontResourceA(file.c_str()) || win32::Fail("Cannot remove the font " + file);
}

void NotifyFontChange() {
  // A plain send to every window would wait for ever on one that hangs.
  DWORD_PTR answer = 0;
  SendMessageTimeoutA(HWND_BROADCAST, WM_FONTCHANGE, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer);
}

void NotifyEnvironmentChange() {
  DWORD_PTR answer = 0;
  SendMessageTimeoutA(HWND_BROADCAST, WM_SETTINGCHANGE, 0, reinterpret_cast<LPARAM>("Environment"),
                      SMTO_ABORTIFHUNG, 5000, &answer);
}

std::string CreateTempFile(const std::string& folder, const std::string& prefix) {
  char buffer[MAX_PATH + 1] = {};
  if (GetTempFileNameA(folder.c_str(), prefix.c_str(), 0, buffer) == 0) {
    win32::Fail("Cannot create a temporary file in " + folder);
    return "";
  }
  return buffer;
}

Rect WorkArea() {
  RECT area;
  if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0)) {
    return {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  }
  return {area.left, area.top, area.right, area.bottom};
}

void CentreWindow(WindowHandle window) {
  HWND handle = static_cast<HWND>(window);
  RECT bounds;
  if (!handle || !GetWindowRect(handle, &bounds)) return;
  Rect area = WorkArea();
  int width = bounds.right - bounds.left;
  int height = bounds.bottom - bounds.top;
  int left = area.left + (area.right - area.left - width) / 2;
  int top = area.top + (area.bottom - area.top - height) / 2;
  int screenWidth = GetSystemMetrics(SM_CXSCREEN);
  int screenHeight = GetSystemMetrics(SM_CYSCREEN);
  if (left + width > screenWidth) left = screenWidth - width;
  if (top + height > screenHeight) top = screenHeight - height;
  if (left < 0) left = 0;
  if (top < 0) top = 0;
  SetWindowPos(handle, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void RedrawNow(WindowHandle window) {
  RedrawWindow(static_cast<HWND>(window), nullptr, nullptr,
               RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

// Used by the message boxes of os_win32.cpp: centres the next window activated on this thread.
void ArmCentringHook() {
  if (centringHook) return;
  centringHook = SetWindowsHookExA(WH_CBT, CentreOnActivation, nullptr, GetCurrentThreadId());
}

void DisarmCentringHook() {
  if (!centringHook) return;
  UnhookWindowsHookEx(centringHook);
  centringHook = nullptr;
}

}  // namespace os
