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
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace os {

using WindowHandle = void*;
using IconHandle = void*;

// ---------------------------------------------------------------------------------------------
// Errors

// The system's description of the calling thread's last failure, without a trailing newline.
std::string LastErrorMessage();
// Receives the text of every failure the layer records, on the failing thread, as it happens (the
// diagnostic log). Set it before other threads start; nullptr stops it. Failures of probes that
// answer "no" (a missing file or key) are recorded too.
using FailureObserver = void (*)(const std::string& text);
void SetFailureObserver(FailureObserver observer);

// ---------------------------------------------------------------------------------------------
// Process

// The process's command line as Windows reports it: the program, then the parameters, quoted where
// they contain blanks.
std::string CommandLine();

// Full path of the running program.
std::string ModuleFileName();

// Keeps the program's own folder and the current folder out of the search for libraries that
// system code loads by name, so that nothing planted beside the program is loaded: where Windows
// allows it, the search is restricted to the system folder; older systems first load, by their
// full paths, the system libraries known to be loaded by name. Called once, first thing at start.
// The host loads libraries by full path only and does nothing.
void HardenLibrarySearch();

// Initialises the common controls library (Windows) so that the windows drawn later use it.
void InitCommonControls();

// Ends the process with the exit code; static objects are finalised first.
[[noreturn]] void ExitProcess(int code);

// Calls handler once, on a thread of its own, when the process is asked from outside to stop
// (the host: SIGINT, SIGTERM or SIGHUP); when it returns, the process ends at once with exitCode,
// finalising nothing, since the other threads are still running. Call once, first thing at start,
// before any other thread exists. Programs started later do not inherit the arrangement. On
// Windows the engine learns of the end of a session through its main window; nothing here.
void OnStopRequest(void (*handler)(), int exitCode);

// Calls handler once, on the thread that faulted, when the process faults (an access violation, a
// bus error, an illegal instruction, an arithmetic fault, a stack overflow) and nothing in the
// program handles the fault; fault names it in a few plain words. When handler returns, the
// process ends at once with exitCode, finalising nothing. The handler runs in a damaged process:
// it should do little, and a fault inside it ends the process at once; another thread that
// faults meanwhile waits for the end. Call once at start, on the main thread.
void OnCrash(void (*handler)(const char* fault), int exitCode);

// Switch a standard stream to binary mode, so that bytes pass unchanged (Windows would otherwise
// turn each LF written into CR LF, and CR LF read into LF, and stop reading at Ctrl-Z). Call
// before the stream is used.
void SetStdinBinary();
void SetStdoutBinary();
void SetStderrBinary();

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

// Attributes of a file or folder, kInvalidAttributes when it does not exist. A link is not
// followed: it exists, with kAttrReparsePoint, even when what it points to does not.
uint32_t GetFileAttributes(const std::string& path);
bool SetFileAttributes(const std::string& path, uint32_t attributes);

// Times are Windows file times: 100-nanosecond intervals since 1601-01-01 UTC.
std::optional<int64_t> GetFileWriteTime(const std::string& path);
bool SetFileWriteTime(const std::string& path, int64_t fileTime);

enum class CreateResult { kCreated, kExists, kFailed };

// Creates one folder; its parent must exist. A name that exists already, as a file, a folder or
// a link, gives kExists and is left untouched (a link is never followed). With privateToUser the
// folder is accessible to the current user only, from the moment it exists: mode 0700 on the
// host; on Windows NT an owner-only security descriptor (the user and the system, inherited by
// everything created inside, none of the parent's rights), and kFailed when that descriptor
// cannot be made. The 9x platform keeps no rights: its folders are plain ones.
CreateResult CreateDir(const std::string& path, bool privateToUser = false);
// The folder must be empty; a link to a folder is removed itself, its target left alone.
bool RemoveDir(const std::string& path);
// Fails on a read-only file, as on Windows, and on a file in use: open as a File (in this process
// or another), or, on the host, held by another process's flock.
bool DeleteFile(const std::string& path);

struct FindData {
  std::string name;
  uint32_t attributes = 0;
  uint64_t size = 0;
  int64_t writeTime = 0;
};

// The folder entry of one file or folder, as a listing of its folder shows it (a folder's size is
// 0). Wildcards ("*", "?") in the last name give the first entry of the folder that matches,
// in the order Windows lists it ("." and ".." first outside a drive root, then by name).
bool FindFile(const std::string& path, FindData& data);

// Lists the entries of a folder, without "." and "..". False when the listing could not be
// made or did not end normally; entries holds what was read.
bool ListFolder(const std::string& folder, std::vector<FindData>& entries);

// An open file; closed by its destructor on every path. Not shared between threads.
//
// Each mode lets others do only what its comment says, in this process as in others: an open whose
// access a File already open does not share, or that does not share an access such a File has,
// fails with a sharing violation ("... being used by another process"), and the file is left as it
// was (kCreate truncates only an open that succeeded). So copying a file onto itself fails under
// any spelling of its name. No mode lets others delete or rename the file.
class File {
 public:
  enum class Mode {
    kRead,        // existing file, others may read but not write
    kCreate,      // create or truncate, others may read
    kAppend,      // open or create, writes go to the end, others may read
    kReadWrite,   // open or create for reading and writing, others may read only
    kReadShared,  // existing file for reading, others may read and write
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
  // Reads count bytes from offset, fewer only where the file ends; -1 on failure. A caller that
  // measured the file compares the result with count: a file that shrinks under it is not whole.
  int64_t ReadAt(int64_t offset, void* buffer, size_t count);
  // Appends the rest of the file to content; false when a read fails (content then holds what
  // was read before).
  bool ReadToEnd(std::string& content);
  // True only when every byte was written.
  bool Write(const void* data, size_t count);
  bool Seek(int64_t offset);
  int64_t Tell() const;  // -1 on failure
  bool Truncate();       // cuts the file at the current position
  int64_t Size() const;  // -1 on failure
  void Close();

 private:
  static constexpr intptr_t kNoHandle = -1;
  explicit File(intptr_t handle) : handle_(handle) {}
  intptr_t handle_ = kNoHandle;
};

// Where a path leads on this machine: the kind of what it reaches, every link followed, and the
// folder entry it names. For tools that must refuse inputs that are no regular files (a pipe
// blocks, a device gives bytes without end) and tell paths apart however they are written.
// Nothing is opened for reading.
enum class PathKind { kMissing, kFile, kFolder, kSpecial };
struct PathTarget {
  PathKind kind = PathKind::kMissing;
  // What the path leads to, every link followed, "." and ".." resolved; "" when it leads nowhere.
  std::string finalPath;
  // The folder entry the path names: its folder's final path and its own name as stored (a link
  // there is the entry, since writing to the name replaces the link). "" when the folder does not
  // exist.
  std::string entryPath;
};
PathTarget ResolvePath(const std::string& path);

// Whether the file system compares names without regard to case (final paths then differ in
// case only when they name the same file).
bool FileNamesIgnoreCase();

// ---------------------------------------------------------------------------------------------
// Time

struct LocalDateTime {
  int year = 0, month = 0, day = 0;  // month 1-12, day 1-31
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};
// The local time. The host reports $KX_LOCAL_TIME instead when it is set ("2026-12-06
// 10:00:00.000"), read at each call, so that tests can stop the clock.
LocalDateTime LocalTime();
// A file time in local time; false when the time cannot be converted.
bool FileTimeToLocalTime(int64_t fileTime, LocalDateTime& local);
// Milliseconds since the system started; wraps to 0 after about 49.7 days.
uint32_t TickCount();

// ---------------------------------------------------------------------------------------------
// Random bytes

// Fills buffer with count bytes from the system's cryptographic random source (RtlGenRandom, or
// CryptGenRandom where that is missing; getrandom on the host). False, with the buffer's content
// unspecified, when the system has no such source.
bool RandomBytes(void* buffer, size_t count);

// ---------------------------------------------------------------------------------------------
// Locales: the user's settings, and the locales the system has installed

// The separators of the user's date and time formats ("/" and ":" on the host).
char DateSeparator();
char TimeSeparator();
// A date in the user's short date format (the host writes "MM/dd/yyyy").
std::string ShortDateText(const LocalDateTime& date);
// -1, 0 or 1 as a sorts before, equal to or after b in the user's locale, letter case ignored.
int CompareTextIgnoreCase(const std::string& a, const std::string& b);

// The user's default locale (the host: $KX_LOCALE as a hexadecimal identifier, else 0409).
uint32_t UserDefaultLocaleId();
// The identifiers of the installed locales, in the order the system lists them.
std::vector<uint32_t> InstalledLocaleIds();
// The locale's abbreviated language name ("ENU"), at most three characters; "" when unknown.
std::string LocaleLanguageAbbreviation(uint32_t localeId);
// The locale's full language name as the user's language writes it ("German (Germany)"); ""
// when unknown.
std::string LocaleLanguageName(uint32_t localeId);
// The locale's default ANSI code page as decimal text ("1252"), at most five characters.
std::string LocaleAnsiCodePage(uint32_t localeId);
// The character-set number of fonts for a code page (1252 gives 0); false when unknown.
bool CharsetOfCodePage(uint32_t codePage, uint32_t& charset);

// Whether an in-process instance of the class with that interface can be created (it is
// released at once). Identifiers in registry form, "{...}". The host has no COM: false.
bool CanCreateInProcessObject(const std::string& classId, const std::string& interfaceId);

// COM for the calling thread while the object lives: initialised when it is made, uninitialised
// when it goes, if the initialisation succeeded. The host has no COM: nothing happens there.
class ComScope {
 public:
  ComScope();
  ~ComScope();
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  bool initialised_ = false;
};

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
// The Windows version

enum class Platform { kWin32s = 0, kWindows9x = 1, kWindowsNT = 2 };

struct VersionData {
  Platform platform = Platform::kWindowsNT;
  int major = 0;
  int minor = 0;
  int build = 0;            // as the platform reports it (the 9x platform packs more into it)
  std::string servicePack;  // the CSD text, "" when none
};

// The running system's version data. The host reports $KX_WINVER ("major.minor.build", with
// ":9x" appended for the 9x platform; default "5.1.2600"), read at each call, so that tests can
// switch platforms.
VersionData GetVersionData();

// ---------------------------------------------------------------------------------------------
// The user's rights

enum class AdminState { kNotAdministrator, kAdministrator, kNoGroupSid };

// Whether this process has an administrator's rights. Windows NT: its token holds the built-in
// Administrators group (S-1-5-32-544) enabled; a group kept only for denying (the filtered token
// of an administrator who has not elevated, or a restricted run) grants nothing and does not
// count. A token that cannot be opened or read: not an administrator. kNoGroupSid when the group's
// SID cannot be built. The 9x platform has no tokens: callers decide for it themselves.
// The host: $KX_ADMIN "1" is an administrator and "0" is not, whoever runs; otherwise the
// effective user root is one. Read at each call.
AdminState UserAdminState();

// ---------------------------------------------------------------------------------------------
// The registry

enum class RegRoot { kClassesRoot, kCurrentUser, kLocalMachine, kUsers };

// Value types, with the numbers Windows gives them.
enum RegType : uint32_t {
  kRegNone = 0,
  kRegString = 1,
  kRegExpandString = 2,
  kRegBinary = 3,
  kRegDword = 4,
  kRegMultiString = 7,
};

// An open registry key, closed by its destructor. Subkey paths are backslash-separated, without
// a leading backslash; names compare without regard to case and keep the case they were created
// with. The host keeps the registry in a text store under the machine root (see
// host/RegistryStore.h), which several processes may use at once.
class RegKey {
 public:
  RegKey() = default;
  RegKey(RegKey&& other) noexcept;
  RegKey& operator=(RegKey&& other) noexcept;
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  ~RegKey();

  // An unopened key on failure. Open needs the key to exist; Create makes it and every
  // missing parent.
  static RegKey Open(RegRoot root, const std::string& subkey, bool write);
  static RegKey Create(RegRoot root, const std::string& subkey);

  bool IsOpen() const { return handle_ != nullptr; }
  // The value's type and bytes (strings with their terminating zeros, as stored).
  bool QueryValue(const std::string& name, uint32_t& type, std::vector<uint8_t>& data) const;
  bool SetValue(const std::string& name, uint32_t type, const void* data, size_t size);
  bool DeleteValue(const std::string& name);
  // The name of the index-th direct subkey / value, false past the last one.
  bool EnumKey(uint32_t index, std::string& name) const;
  bool EnumValue(uint32_t index, std::string& name) const;
  void Close();

 private:
  explicit RegKey(void* handle) : handle_(handle) {}
  void* handle_ = nullptr;
};

// Deletes the key subkey (its last name) under root; fails when it has subkeys, as on NT.
bool RegDeleteKey(RegRoot root, const std::string& subkey);

// ---------------------------------------------------------------------------------------------
// Version resources

// The fixed file version of a program or library (its two 32-bit words), false when the file
// has no version resource. On the host a portable reader parses the PE file.
bool GetFileVersion(const std::string& path, uint32_t& mostSignificant, uint32_t& leastSignificant);

// ---------------------------------------------------------------------------------------------
// Disks and files of the system

// Free space available to the user on the volume holding folder, in bytes.
bool GetDiskFreeSpaceEx(const std::string& folder, uint64_t& freeBytes);
// The classic call, which takes a drive root ("C:\").
bool GetDiskFreeSpaceClassic(const std::string& root, uint32_t& sectorsPerCluster,
                             uint32_t& bytesPerSector, uint32_t& freeClusters);

// The short (8.3) form of an existing path; the host has none and gives the path itself.
bool GetShortPath(const std::string& path, std::string& shortPath);

// Fails when target exists, and when source is in use (see DeleteFile).
bool MoveFile(const std::string& source, const std::string& target);

// Replaces or deletes a file at the next start of Windows (the delay-until-reboot move of NT):
// with a target, source is moved onto it; with an empty target, source is deleted. The host
// records the request in PendingFileRenameOperations as Windows does.
bool MoveFileAtReboot(const std::string& source, const std::string& target);

// A new, empty file in folder whose name is the first three characters of prefix, hexadecimal
// digits and ".tmp", taken by nobody before (the system's temporary-name function asked with
// number 0). Its full path; "" when no such file could be made.
std::string CreateTempFile(const std::string& folder, const std::string& prefix);

// ---------------------------------------------------------------------------------------------
// Processes

// A started process, its handle closed by the destructor.
class Process {
 public:
  Process() = default;
  Process(Process&& other) noexcept;
  Process& operator=(Process&& other) noexcept;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process();

  bool IsValid() const { return handle_ != nullptr; }
  // Waits up to milliseconds; true when the process has ended. On the main thread the wait serves
  // the cross-thread sends that arrive meanwhile (see SendToMainThread).
  bool Wait(uint32_t milliseconds);
  // The exit code of an ended process.
  bool ExitCode(uint32_t& code) const;

 private:
  friend Process CreateProcess(const std::string&, const std::string&, int);
  friend Process ShellExecute(WindowHandle, const std::string&, const std::string&,
                              const std::string&, int, bool&);
  explicit Process(void* handle) : handle_(handle) {}
  void* handle_ = nullptr;
};

constexpr int kShowHidden = 0;
constexpr int kShowNormal = 1;

// Starts commandLine ("\"program\" parameters") in workingFolder ("" for the current one).
Process CreateProcess(const std::string& commandLine, const std::string& workingFolder,
                      int showCommand);
// Opens file with its default action; started is true when the shell accepted the request
// (even when it gives no process to wait for).
Process ShellExecute(WindowHandle owner, const std::string& file, const std::string& parameters,
                     const std::string& workingFolder, int showCommand, bool& started);

// Dispatches every waiting message of the calling thread, on the main thread the cross-thread
// sends among them; false when a quit message was taken.
bool PumpMessages();
// On the main thread the sleep serves the cross-thread sends that arrive meanwhile, so that no
// wait of the main thread holds up a thread that sends to it.
void Sleep(uint32_t milliseconds);

// The process's environment block, one "name=value" text per entry, in block order.
std::vector<std::string> EnvironmentStrings();
// Sets or removes a variable of this process's own environment (inherited by its children).
bool SetProcessVariable(const std::string& name, const std::string& value);
bool RemoveProcessVariable(const std::string& name);

// ---------------------------------------------------------------------------------------------
// Shell folders and session

// The path of a shell folder by its CSIDL number; "" when the system has none. The host answers
// with the folders of its machine root.
std::string GetSpecialFolder(int csidl);

// A shell link (".lnk" file) as plain data. Texts are taken as they are: no quotes are removed.
struct ShellLinkData {
  std::string target;
  std::string arguments;
  std::string workingFolder;
  std::string description;
  std::string iconFile;
  int32_t iconIndex = 0;
  uint16_t hotkey = 0;  // virtual key in the low byte, modifiers in the high byte
  int showCommand = 1;  // 1 normal, 3 maximized, 7 minimized without activation
};

// Saves link to linkPath (its folder must exist), replacing any file there, and tells the shell
// that the link, and the icon file when it exists, changed. Windows: the system's shell-link
// object, on a thread whose COM is initialised (ComScope); false when any of its calls fails.
// The host writes the binary format itself, with the attributes, size and times of the target
// when it exists, and tells nobody.
bool SaveShellLink(const std::string& linkPath, const ShellLinkData& link);

// Asks Windows to end the session and restart; flags as ExitWindowsEx takes them. On NT the
// shutdown privilege is enabled first. The host records the request under the machine root.
bool EnableShutdownPrivilege();
bool ExitWindows(uint32_t flags);
constexpr uint32_t kExitWindowsReboot = 0x02;
constexpr uint32_t kExitWindowsForce = 0x04;

// COM self-registration of a library: loads it with critical-error boxes suppressed and calls
// "DllRegisterServer" (or "DllUnregisterServer"). Missing file or export: false with result 0.
bool CallServerRegistration(const std::string& file, bool registering, int32_t& result);
// Registers or unregisters the type library in file (help folder: its help file's folder).
bool RegisterTypeLibrary(const std::string& file, bool registering);

// AddFontResource puts the fonts of file into the system's font table for this session; false
// when the file holds no font the system can use. The host has no font table: it succeeds for a
// file that exists and opens with the signature of a TrueType or OpenType font or collection, so
// that a broken or missing file fails as it would on Windows, and it changes nothing.
bool AddFontResource(const std::string& file);
// UnloadFontResource takes the font resource of file out of the system's font table; false when
// it was not there.
// NotifyFontChange tells every top-level window that the table changed, skipping windows that
// hang. The host has no font table: it removes nothing and tells nobody.
bool UnloadFontResource(const std::string& file);
void NotifyFontChange();
// NotifyEnvironmentChange tells every top-level window that the user's environment in the registry
// changed, so that programs started from the shell afterwards see it, skipping windows that hang.
// The host has no shell to tell.
void NotifyEnvironmentChange();

// The desktop work area and moving a window into it.
struct Rect {
  int left = 0, top = 0, right = 0, bottom = 0;
};
Rect WorkArea();
void RedrawNow(WindowHandle window);

// ---------------------------------------------------------------------------------------------
// Windows and message boxes

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

// ---------------------------------------------------------------------------------------------
// The main window and the main thread
//
// The process has one hidden main window, created on the thread that runs the engine, which thus
// becomes the main thread. Other threads reach the main thread through it: SendToMainThread hands
// a record to the window's crossThread handler and blocks until the main thread has run it. The
// main thread serves such sends wherever it dispatches: PumpMessages, Sleep and Process::Wait.
// Windows: a real window of the class given, never shown (a message-only one in a session without
// a desktop), and the private message 22801 sent with SendMessage. The host: a queue of the main
// thread. The host has no sessions of its own; the signal SIGUSR1 stands for the end of one, so
// that tests can end it while a program runs (`kill -USR1`, or a program the engine started
// signalling its parent): the main thread, where it next dispatches (PumpMessages, Sleep,
// Process::Wait), calls queryEndSession and then endSession with its answer, as Windows sends
// WM_QUERYENDSESSION and WM_ENDSESSION. The signal is taken from the first CreateMainWindow on.

// The window's handlers, called on the main thread only. An exception thrown by one cannot pass
// the window procedure: the layer answers 0 (FALSE) instead, so a handler catches its own.
struct MainWindowHandlers {
  std::function<intptr_t(void* record)> crossThread;  // a record sent from another thread
  std::function<bool()> queryEndSession;              // true: the session may end
  std::function<void(bool ending)> endSession;        // ending: the session really ends
};

enum class MainWindowResult { kCreated, kClassRefused, kWindowRefused };

// Registers the window class (className, with the icon; class styles redraw on resize and no
// close item) and creates the hidden main window on the calling thread, which becomes the main
// thread. kClassRefused when the class cannot be registered, as when a main window exists already
// (its class is registered until DestroyMainWindow); kWindowRefused when the window cannot be
// made. Either failure is recorded (LastErrorMessage) and leaves everything as it was. The icon
// stays the caller's, and must live as long as the window.
MainWindowResult CreateMainWindow(const std::string& className, IconHandle icon,
                                  MainWindowHandlers handlers);
// Destroys the main window and unregisters its class; sends waiting for it then answer 0,
// undelivered. Main thread only; nothing when no main window exists.
void DestroyMainWindow();
// The main window; nullptr when none exists.
WindowHandle MainWindow();
// True on the thread that created the main window; before one exists, on the program's main
// thread (the one that initialised the program).
bool IsMainThread();
// Hands record to the main window's crossThread handler and answers what the handler answers.
// From another thread it blocks until the main thread has served it; on the main thread the
// handler is called at once. Without a main window (none yet, or destroyed before the main thread
// served the send) the answer is 0 at once and the record is not delivered: delivered (when
// given) tells which, so that the sender can free a record the handler never saw. Each send
// takes a record of its own (a fresh heap record): a record that another send is still waiting
// with is not delivered again.
intptr_t SendToMainThread(void* record, bool* delivered = nullptr);

// Centres a window in the work area, then keeps it inside the screen.
void CentreWindow(WindowHandle window);

// The program's icon resource of that name; nullptr when missing. DestroyIcon releases it.
IconHandle LoadAppIcon(const std::string& name);
void DestroyIcon(IconHandle icon);

// ---------------------------------------------------------------------------------------------
// Bitmaps and the engine's own windows
//
// The splash and the presetup window: borderless pictures of the main window's class, or a dialog
// of the program's resources, owned by the main window. Main thread only, and only while the main
// window exists. Windows draws them; the host keeps them as state without pixels. Either layer
// reports that state through GetWindowState, so that tests ask both the same questions.

using BitmapHandle = void*;

// Loads a Windows bitmap file (bytes after the pixels, such as a trailer, are ignored); nullptr
// when the file is missing or no bitmap the system reads. The host reads uncompressed bitmaps of
// 1, 4, 8, 24 and 32 bits per pixel. DeleteBitmap releases it (nothing for nullptr).
BitmapHandle LoadBitmapFile(const std::string& path);
void DeleteBitmap(BitmapHandle bitmap);
// The bitmap's pixels, top row first, 32 bits each: blue in bits 0-7, green 8-15, red 16-23.
bool BitmapPixels(BitmapHandle bitmap, int& width, int& height, std::vector<uint32_t>& pixels);

// A hidden popup window (no frame) of the main window's class at bounds, owned by the main
// window, that paints bitmap at its top left corner; the bitmap stays the caller's and must
// outlive the window. nullptr when the window cannot be made.
WindowHandle CreatePictureWindow(const std::string& title, BitmapHandle bitmap, const Rect& bounds);
// The dialog of that name from the program's resources, hidden, without a dialog procedure and
// owned by the main window; nullptr when it cannot be made. DialogItem finds its control by id.
WindowHandle CreateResourceDialog(const std::string& name);
WindowHandle DialogItem(WindowHandle dialog, int id);
// A smooth progress bar inside parent at bounds (parent coordinates); colours as 0x00BBGGRR.
WindowHandle CreateProgressBar(WindowHandle parent, const Rect& bounds, uint32_t barColour,
                               uint32_t backgroundColour);
void SetProgressRange(WindowHandle bar, int low, int high, int step);
void SetProgressPosition(WindowHandle bar, int position);

// Gives the window the union of the rectangles as its shape, which the window then owns. Each
// block becomes one region (Windows takes at most a few thousand rectangles at once); the blocks
// are combined. No blocks leave the window its whole rectangle.
bool SetWindowRegion(WindowHandle window, const std::vector<std::vector<Rect>>& blocks);
// Makes the window layered with a constant alpha (0 clear, 255 opaque); false where the system
// has no layered windows (the call is looked up when needed, as older systems lack it).
bool SetWindowAlpha(WindowHandle window, uint8_t alpha);
bool SetWindowTitle(WindowHandle window, const std::string& title);
// Moves the window's top left corner to (left, top), keeping its size.
void MoveWindowTo(WindowHandle window, int left, int top);
void ShowWindow(WindowHandle window);
void DestroyWindow(WindowHandle window);

// What a window shows, as far as a test can ask without looking at pixels.
struct WindowState {
  bool exists = false;
  bool visible = false;
  Rect bounds;  // on the screen
  std::string title;
  int progress = -1;         // the position of its progress bar; -1 when it has none
  std::vector<Rect> region;  // its shape as the system keeps it (window coordinates); empty: none
  int alpha = -1;            // its constant alpha when layered; -1 when not
};
WindowState GetWindowState(WindowHandle window);

}  // namespace os
