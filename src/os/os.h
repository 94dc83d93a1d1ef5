// The OS layer: the one interface through which the engine reaches the operating system.
//
// Everything is in Windows terms: ANSI paths with backslashes, file attributes and times as
// Windows keeps them, message boxes, resources and libraries. Two implementations exist and CMake
// picks one: win32/ calls the Windows API, host/ emulates the same facilities on Linux under a
// machine root ($KX_ROOT), where drive C: is $KX_ROOT/drive_c and drive Z: is "/".
//
// The layer holds no engine logic. Functions report failure by their result; the text of the
// last failure of the calling thread is LastErrorMessage(). Unless noted, every function may be
// called from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace os {

// ---------------------------------------------------------------------------------------------
// Errors

// The system's description of the calling thread's last failure, without a trailing newline.
std::string LastErrorMessage();

// ---------------------------------------------------------------------------------------------
// Process

// The process's command line as Windows reports it: the program, then the parameters, quoted where
// they contain blanks.
std::string CommandLine();

// Full path of the running program.
std::string ModuleFileName();

// Restricts the search for libraries to the system folder, so that nothing planted beside the
// program or in the current folder is ever loaded. Called once, first thing at start.
void HardenLibrarySearch();

// Initialises the common controls library (Windows) so that the windows drawn later use it.
void InitCommonControls();

// Ends the process with the exit code; static objects are finalised first.
[[noreturn]] void ExitProcess(int code);

// ---------------------------------------------------------------------------------------------
// Folders of the system and of the process

std::string GetCurrentDir();  // no trailing backslash except for a drive root
bool SetCurrentDir(const std::string& path);
std::string TempPath();    // with a trailing backslash
std::string WindowsDir();  // without a trailing backslash
std::string SystemDir();   // without a trailing backslash

// ---------------------------------------------------------------------------------------------
// Files and folders

enum FileAttribute : uint32_t {
  kAttrReadOnly = 0x01,
  kAttrHidden = 0x02,
  kAttrSystem = 0x04,
  kAttrDirectory = 0x10,
  kAttrArchive = 0x20,
  kAttrNormal = 0x80,
  kAttrReparsePoint = 0x400,  // a link (junction, symbolic link): never followed when deleting
};
constexpr uint32_t kInvalidAttributes = 0xFFFFFFFFu;

// Attributes of a file or folder, kInvalidAttributes when it does not exist.
uint32_t GetFileAttributes(const std::string& path);
bool SetFileAttributes(const std::string& path, uint32_t attributes);

// Times are Windows file times: 100-nanosecond intervals since 1601-01-01 UTC.
std::optional<int64_t> GetFileWriteTime(const std::string& path);
bool SetFileWriteTime(const std::string& path, int64_t fileTime);

enum class CreateResult { kCreated, kExists, kFailed };

// Creates one folder; its parent must exist. A name that exists already, as a file or a folder,
// gives kExists and is left untouched. With privateToUser the folder is accessible to the
// current user only (mode 0700 on the host; Windows folders inherit their parent's rights).
CreateResult CreateDir(const std::string& path, bool privateToUser = false);
// The folder must be empty; a link to a folder is removed itself, its target left alone.
bool RemoveDir(const std::string& path);
bool DeleteFile(const std::string& path);  // fails on a read-only file, as on Windows

struct FindData {
  std::string name;
  uint32_t attributes = 0;
  uint64_t size = 0;
  int64_t writeTime = 0;
};

// Lists the entries of a folder, without "." and "..". False when the listing could not be
// made or did not end normally; entries holds what was read.
bool ListFolder(const std::string& folder, std::vector<FindData>& entries);

// An open file; closed by its destructor on every path. Not shared between threads.
class File {
 public:
  enum class Mode {
    kRead,    // existing file, others may read but not write
    kCreate,  // create or truncate, others may read
    kAppend,  // open or create, writes go to the end, others may read
  };

  File() = default;
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  ~File();

  // An unopened File on failure (see LastErrorMessage()).
  static File Open(const std::string& path, Mode mode);

  bool IsOpen() const { return handle_ != kNoHandle; }
  // Bytes read, 0 at the end, -1 on failure.
  int64_t Read(void* buffer, size_t count);
  // True only when every byte was written.
  bool Write(const void* data, size_t count);
  bool Seek(int64_t offset);
  int64_t Size() const;  // -1 on failure
  void Close();

 private:
  static constexpr intptr_t kNoHandle = -1;
  explicit File(intptr_t handle) : handle_(handle) {}
  intptr_t handle_ = kNoHandle;
};

// ---------------------------------------------------------------------------------------------
// Time

struct LocalDateTime {
  int year = 0, month = 0, day = 0;  // month 1-12, day 1-31
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};
LocalDateTime LocalTime();

// ---------------------------------------------------------------------------------------------
// Resources of the running program

// The bytes of the resource of that type ("RCDATA") and name, which live as long as the process;
// nothing when the program has no such resource.
std::optional<std::span<const uint8_t>> FindResource(const std::string& type,
                                                     const std::string& name);

// ---------------------------------------------------------------------------------------------
// Dynamic libraries

// A loaded library, unloaded by its destructor. Loaded by full path only.
class Library {
 public:
  Library() = default;
  Library(Library&& other) noexcept;
  Library& operator=(Library&& other) noexcept;
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  ~Library();

  // An unloaded Library on failure (see LastErrorMessage()).
  static Library Load(const std::string& fullPath);

  bool IsLoaded() const { return handle_ != nullptr; }
  void* Symbol(const char* name) const;  // nullptr when missing
  void Unload();

 private:
  explicit Library(void* handle) : handle_(handle) {}
  void* handle_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Windows and message boxes

using WindowHandle = void*;
using IconHandle = void*;

// Flags and answers of message boxes, with the values Windows gives them.
enum MessageBoxFlag : uint32_t {
  kMbOk = 0x0,
  kMbOkCancel = 0x1,
  kMbYesNoCancel = 0x3,
  kMbYesNo = 0x4,
  kMbIconStop = 0x10,
  kMbIconQuestion = 0x20,
  kMbIconExclamation = 0x30,
  kMbIconInformation = 0x40,
  kMbDefButton2 = 0x100,
  kMbDefButton3 = 0x200,
  kMbTaskModal = 0x2000,
  kMbSetForeground = 0x10000,
};
enum MessageBoxAnswer : int { kIdOk = 1, kIdCancel = 2, kIdYes = 6, kIdNo = 7 };

// Shows a message box and returns the answer. When no box can be shown (no desktop), the text
// goes to standard error as "caption: text" and the default button is the answer; the host
// always does so, and takes scripted answers from $KX_MSGBOX_ANSWERS ("6,7,1": one per box).
int MessageBox(WindowHandle owner, const std::string& text, const std::string& caption,
               uint32_t flags);

// The program's icon resource of that name; nullptr when missing. DestroyIcon releases it.
IconHandle LoadAppIcon(const std::string& name);
void DestroyIcon(IconHandle icon);

}  // namespace os
