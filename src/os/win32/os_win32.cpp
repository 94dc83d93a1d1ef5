// The Windows implementation of the OS layer: the ANSI Windows API (see os.h). Every failure is
// turned into text once, by Fail(), from GetLastError.
#include "os/win32/WindowsApi.h"
#include "os/win32/Win32Errors.h"

#include <commctrl.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "os/os.h"
#include "os/win32/Security.h"

namespace os {
namespace {

using win32::Fail;

int64_t FromFileTime(const FILETIME& time) {
  return (static_cast<int64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

FILETIME ToFileTime(int64_t value) {
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(value & 0xFFFFFFFF);
  time.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(value) >> 32);
  return time;
}

HANDLE AsHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// Without a desktop (a service, a test under Wine) a message box cannot appear; its text must
// not be lost, so it goes to standard error.
void WriteToStandardError(const std::string& caption, const std::string& text) {
  std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
  std::fflush(stderr);
}

int DefaultAnswer(uint32_t flags) {
  uint32_t buttons = flags & 0xF;
  if (buttons == MB_YESNO || buttons == MB_YESNOCANCEL) {
    if (flags & MB_DEFBUTTON3) return IDCANCEL;
    return (flags & MB_DEFBUTTON2) ? IDNO : IDYES;
  }
  if (buttons == MB_OKCANCEL && (flags & MB_DEFBUTTON2)) return IDCANCEL;
  return IDOK;
}

}  // namespace

std::string CommandLine() { return GetCommandLineA(); }

std::string ModuleFileName() {
  std::string path(MAX_PATH, '\0');
  for (;;) {
    DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return std::string();
    if (length < path.size()) return path.substr(0, length);
    path.resize(path.size() * 2);
  }
}

void InitCommonControls() { ::InitCommonControls(); }

void ExitProcess(int code) {
  std::fflush(nullptr);
  std::exit(code);
}

void SetStdoutBinary() { _setmode(_fileno(stdout), _O_BINARY); }
void SetStderrBinary() { _setmode(_fileno(stderr), _O_BINARY); }
void SetStdinBinary() { _setmode(_fileno(stdin), _O_BINARY); }

std::string GetCurrentDir() {
  DWORD size = GetCurrentDirectoryA(0, nullptr);
  std::string path(size, '\0');
  DWORD length = GetCurrentDirectoryA(size, path.data());
  path.resize(length < size ? length : 0);
  return path;
}

bool SetCurrentDir(const std::string& path) {
  return SetCurrentDirectoryA(path.c_str()) || Fail("Cannot change to folder " + path);
}

std::string TempPath() {
  char buffer[MAX_PATH + 1];
  DWORD length = GetTempPathA(sizeof(buffer), buffer);
  std::string path = length > 0 && length < sizeof(buffer) ? std::string(buffer, length) : "C:\\";
  return path.back() == '\\' ? path : path + "\\";
}

std::string WindowsDir() {
  char buffer[MAX_PATH + 1];
  UINT length = GetWindowsDirectoryA(buffer, sizeof(buffer));
  return length > 0 && length < sizeof(buffer) ? std::string(buffer, length) : "C:\\WINDOWS";
}

std::string SystemDir() {
  char buffer[MAX_PATH + 1];
  UINT length = GetSystemDirectoryA(buffer, sizeof(buffer));
  return length > 0 && length < sizeof(buffer) ? std::string(buffer, length)
                                               : WindowsDir() + "\\system32";
}

uint32_t GetFileAttributes(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) Fail(path);
  return attributes;
}

bool SetFileAttributes(const std::string& path, uint32_t attributes) {
  return SetFileAttributesA(path.c_str(), attributes) || Fail(path);
}

std::optional<int64_t> GetFileWriteTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
    Fail(path);
    return std::nullopt;
  }
  return FromFileTime(data.ftLastWriteTime);
}

bool SetFileWriteTime(const std::string& path, int64_t fileTime) {
  HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Fail(path);
  FILETIME time = ToFileTime(fileTime);
  bool ok = SetFileTime(file, nullptr, nullptr, &time) || Fail(path);
  CloseHandle(file);
  return ok;
}

CreateResult CreateDir(const std::string& path, bool privateToUser) {
  // A private folder gets its rights in the call that creates it, so that nobody else can use it
  // for a moment: the parent (C:\Temp, a service's Windows\Temp) may let others add files.
  std::optional<win32::PrivateSecurity> security;
  if (privateToUser && GetVersionData().platform == Platform::kWindowsNT) {
    security.emplace();
    if (!security->IsValid()) {
      Fail("Cannot create folder " + path, security->Error());
      return CreateResult::kFailed;
    }
  }
  if (CreateDirectoryA(path.c_str(), security ? security->Attributes() : nullptr)) {
    return CreateResult::kCreated;
  }
  DWORD error = GetLastError();
  Fail("Cannot create folder " + path, error);
  return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? CreateResult::kExists
                                                                     : CreateResult::kFailed;
}

bool RemoveDir(const std::string& path) {
  return RemoveDirectoryA(path.c_str()) || Fail("Cannot remove folder " + path);
}

bool DeleteFile(const std::string& path) {
  return DeleteFileA(path.c_str()) || Fail("Cannot delete " + path);
}

bool FindFile(const std::string& path, FindData& data) {
  // A name with wildcards gives the first entry that matches, as callers of FileSize expect.
  WIN32_FIND_DATAA found;
  HANDLE find = FindFirstFileA(path.c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return Fail(path);
  FindClose(find);
  uint64_t size = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
  data = {found.cFileName, found.dwFileAttributes, size, FromFileTime(found.ftLastWriteTime)};
  return true;
}

bool ListFolder(const std::string& folder, std::vector<FindData>& entries) {
  std::string pattern = folder;
  if (!pattern.empty() && pattern.back() != '\\') pattern += '\\';
  pattern += "*";
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return Fail("Cannot list folder " + folder);
  do {
    std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    uint64_t size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    entries.push_back({name, data.dwFileAttributes, size, FromFileTime(data.ftLastWriteTime)});
  } while (FindNextFileA(find, &data));
  DWORD error = GetLastError();
  FindClose(find);
  return error == ERROR_NO_MORE_FILES || Fail("Cannot list folder " + folder, error);
}

File File::Open(const std::string& path, Mode mode) {
  bool reading = mode == Mode::kRead || mode == Mode::kReadShared;
  DWORD access = reading                    ? GENERIC_READ
                 : mode == Mode::kReadWrite ? GENERIC_READ | GENERIC_WRITE
                                            : GENERIC_WRITE;
  DWORD disposition = reading ? OPEN_EXISTING : mode == Mode::kCreate ? CREATE_ALWAYS : OPEN_ALWAYS;
  DWORD share = mode == Mode::kReadShared ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ;
  HANDLE handle = CreateFileA(path.c_str(), access, share, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    Fail("Cannot open file " + path);
    return File();
  }
  if (mode == Mode::kAppend) SetFilePointer(handle, 0, nullptr, FILE_END);
  return File(reinterpret_cast<intptr_t>(handle));
}

int64_t File::Read(void* buffer, size_t count) {
  DWORD done = 0;
  DWORD chunk = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
  if (!ReadFile(AsHandle(handle_), buffer, chunk, &done, nullptr)) {
    Fail("Read error");
    return -1;
  }
  return done;
}

bool File::Write(const void* data, size_t count) {
  const char* bytes = static_cast<const char*>(data);
  while (count > 0) {
    DWORD chunk = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
    DWORD written = 0;
    if (!WriteFile(AsHandle(handle_), bytes, chunk, &written, nullptr)) return Fail("Write error");
    if (written == 0) return Fail("Write error", ERROR_DISK_FULL);
    bytes += written;
    count -= written;
  }
  return true;
}

bool File::Seek(int64_t offset) {
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  return SetFilePointerEx(AsHandle(handle_), distance, nullptr, FILE_BEGIN) || Fail("Seek error");
}

bool File::Truncate() { return SetEndOfFile(AsHandle(handle_)) || Fail("Truncate error"); }

int64_t File::Tell() const {
  LARGE_INTEGER zero, position;
  zero.QuadPart = 0;
  if (SetFilePointerEx(AsHandle(handle_), zero, &position, FILE_CURRENT)) return position.QuadPart;
  Fail("Seek error");
  return -1;
}

int64_t File::Size() const {
  LARGE_INTEGER size;
  if (GetFileSizeEx(AsHandle(handle_), &size)) return size.QuadPart;
  Fail("Cannot tell the size of a file");
  return -1;
}

void File::Close() {
  if (handle_ == kNoHandle) return;
  CloseHandle(AsHandle(handle_));
  handle_ = kNoHandle;
}

LocalDateTime LocalTime() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

bool RandomBytes(void* buffer, size_t count) {
  DWORD error = ERROR_SUCCESS;
  return win32::GenerateRandom(buffer, count, error) || Fail("Cannot draw random bytes", error);
}

std::optional<std::span<const uint8_t>> FindResource(const std::string& type,
                                                     const std::string& name) {
  LPCSTR resourceType = type == "RCDATA" ? MAKEINTRESOURCEA(10) : type.c_str();
  HRSRC info = FindResourceA(nullptr, name.c_str(), resourceType);
  if (!info) return std::nullopt;
  HGLOBAL loaded = LoadResource(nullptr, info);
  DWORD size = SizeofResource(nullptr, info);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data) return std::nullopt;
  return std::span<const uint8_t>(static_cast<const uint8_t*>(data), size);
}

Library Library::Load(const std::string& fullPath) {
  // A full path loads exactly that file; its own imports come from the system folder only.
  HMODULE module = LoadLibraryExA(fullPath.c_str(), nullptr, 0);
  if (!module) {
    Fail("Cannot load " + fullPath);
    return Library();
  }
  return Library(module);
}

void* Library::Symbol(const char* name) const {
  if (!handle_) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

void Library::Unload() {
  if (!handle_) return;
  FreeLibrary(static_cast<HMODULE>(handle_));
  handle_ = nullptr;
}

void ArmCentringHook();     // system_win32.cpp
void DisarmCentringHook();  // system_win32.cpp

int MessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
               uint32_t flags) {
  ArmCentringHook();
  int answer = MessageBoxA(static_cast<HWND>(owner), text.c_str(), caption.c_str(), flags);
  DisarmCentringHook();           // when no box appeared, the hook is still waiting
  if (answer > 0) return answer;  // 0, and -1 under Wine without a desktop, mean no box
  WriteToStandardError(caption, text);
  return DefaultAnswer(flags);
}

IconHandle LoadAppIcon(const std::string& name) {
  return LoadIconA(GetModuleHandleA(nullptr), name.c_str());
}

void DestroyIcon(IconHandle icon) {
  if (icon) ::DestroyIcon(static_cast<HICON>(icon));
}

}  // namespace os

// The C++ library's own handler for an exception nobody caught demangles the exception's type
// name, which links its whole demangler (46 KB) into every program. This one says the same
// without the type's name, then ends the program as the library's would.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
  const char* reason = "terminate called without an active exception";
  std::string what;
  if (const std::exception_ptr exception = std::current_exception()) {
    reason = "terminate called after throwing an exception";
    try {
      std::rethrow_exception(exception);
    } catch (const std::exception& error) {
      what = error.what();
    } catch (...) {
    }
  }
  std::fprintf(stderr, "%s\n", reason);
  if (!what.empty()) std::fprintf(stderr, "  what():  %s\n", what.c_str());
  std::abort();
}
}  // namespace __gnu_cxx
