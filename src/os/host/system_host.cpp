// The host OS layer's processes, disks, shell folders and session (see os.h): programs run by
// posix_spawn from their Windows command lines, free space from statvfs, shell folders from the
// registry store, and a restart recorded under the machine root for `kxtool reboot` to replay.
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>
#include <vector>

#include "os/host/FaultSwitch.h"
#include "os/host/HostErrors.h"
#include "os/host/HostPaths.h"
#include "os/host/MainThread.h"
#include "os/host/ShareModes.h"
#include "os/os.h"

extern char** environ;

namespace os {
namespace {

// A started child: its pid, and its status once reaped.
struct Child {
  pid_t pid = 0;
  bool ended = false;
  int status = 0;
};

Child* AsChild(void* handle) { return static_cast<Child*>(handle); }

// Windows' parameter rules: blanks separate, double quotes group and are dropped.
std::vector<std::string> SplitParameters(const std::string& line) {
  std::vector<std::string> parameters;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && static_cast<unsigned char>(line[i]) <= ' ') ++i;
    if (i >= line.size()) break;
    std::string parameter;
    bool quoted = false;
    for (; i < line.size() && (quoted || static_cast<unsigned char>(line[i]) > ' '); ++i) {
      if (line[i] == '"') {
        quoted = !quoted;
      } else {
        parameter += line[i];
      }
    }
    parameters.push_back(parameter);
  }
  return parameters;
}

// 0 when unixPath is a program that can be started, else why not (an errno value).
int ProgramProblem(const std::string& unixPath) {
  struct stat st;
  if (stat(unixPath.c_str(), &st) != 0) return errno;
  return S_ISREG(st.st_mode) && (st.st_mode & S_IXUSR) ? 0 : ENOEXEC;
}

// Runs argv[0] with the arguments in folder; 0 (with the failure recorded) when it could not be
// started.
pid_t Spawn(std::vector<std::string> arguments, const std::string& workingFolder) {
  if (arguments.empty()) {
    host::FailWith("Cannot start a program", "the command line is empty");
    return 0;
  }
  const std::string program = arguments[0];
  arguments[0] = host::ToUnixPath(arguments[0]);
  if (int problem = ProgramProblem(arguments[0])) {
    host::Fail("Cannot start " + program, problem);
    return 0;
  }
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  std::string folder = workingFolder.empty() ? std::string() : host::ToUnixPath(workingFolder);
  if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  // The stop signals are blocked in this process for its watcher thread (OnStopRequest); a
  // program started from here must still be stoppable by them.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  pid_t pid = 0;
  int error = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    host::Fail("Cannot start " + program, error);
    return 0;
  }
  return pid;
}

// Where a restart request is recorded.
std::string RestartRecord() { return host::MachineRoot() + "/restart-requested"; }

// Shell folders live in the registry, as on Windows; the CSIDL numbers name them.
struct ShellFolder {
  int csidl;
  bool common;
  const char* valueName;
};
const ShellFolder kShellFolders[] = {
    {2, false, "Programs"},        {5, false, "Personal"},       {7, false, "Startup"},
    {8, false, "Recent"},          {9, false, "SendTo"},         {11, false, "Start Menu"},
    {16, false, "Desktop"},        {19, false, "NetHood"},       {20, false, "Fonts"},
    {21, false, "Templates"},      {26, false, "AppData"},       {22, true, "Common Start Menu"},
    {23, true, "Common Programs"}, {24, true, "Common Startup"}, {25, true, "Common Desktop"},
    {35, true, "Common AppData"},
};
constexpr char kShellFoldersKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

std::string ShellFolderFromRegistry(const ShellFolder& folder) {
  RegKey key = RegKey::Open(folder.common ? RegRoot::kLocalMachine : RegRoot::kCurrentUser,
                            kShellFoldersKey, false);
  uint32_t type = 0;
  std::vector<uint8_t> data;
  if (!key.IsOpen() || !key.QueryValue(folder.valueName, type, data)) return "";
  if (type != kRegString && type != kRegExpandString) return "";
  std::string text(data.begin(), data.end());
  return text.substr(0, text.find('\0'));
}

}  // namespace

Process::Process(Process&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }

Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    delete AsChild(handle_);
    handle_ = other.handle_;
    other.handle_ = nullptr;
  }
  return *this;
}

// Like closing a process handle on Windows, this does not end the process; an unreaped child is
// left to init by a background reap when the engine exits.
Process::~Process() { delete AsChild(handle_); }

bool Process::Wait(uint32_t milliseconds) {
  Child* child = AsChild(handle_);
  if (!child) return true;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    if (child->ended) return true;
    pid_t result = waitpid(child->pid, &child->status, WNOHANG);
    if (result == child->pid || (result < 0 && errno == ECHILD)) {
      child->ended = true;
      return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) return false;
    host::SleepServing(10);
  }
}

bool Process::ExitCode(uint32_t& code) const {
  Child* child = AsChild(handle_);
  if (!child || !child->ended) return false;
  if (WIFEXITED(child->status)) {
    code = static_cast<uint32_t>(static_cast<int8_t>(WEXITSTATUS(child->status)));
  } else {
    code = 0xC0000000u | static_cast<uint32_t>(WTERMSIG(child->status));  // like an NT status
  }
  return true;
}

Process CreateProcess(const std::string& commandLine, const std::string& workingFolder,
                      int showCommand) {
  pid_t pid = Spawn(SplitParameters(commandLine), workingFolder);
  if (pid == 0) return Process();
  Child* child = new Child;
  child->pid = pid;
  return Process(child);
}

// Documents have no associations here: only programs can be opened.
Process ShellExecute(WindowHandle owner, const std::string& file, const std::string& parameters,
                     const std::string& workingFolder, int showCommand, bool& started) {
  std::vector<std::string> arguments = SplitParameters(parameters);
  arguments.insert(arguments.begin(), file);
  pid_t pid = Spawn(arguments, workingFolder);
  started = pid != 0;
  if (!started) return Process();
  Child* child = new Child;
  child->pid = pid;
  return Process(child);
}

void OnStopRequest(void (*handler)(), int exitCode) {
  // The signals are taken by sigwait on a thread of our own rather than by a signal handler: the
  // handler may then do real work (delete a folder tree), which no signal handler may.
  // A signal ignored from the start stays ignored, as the one who started us wanted (nohup, a
  // background job of a script).
  static sigset_t stopSignals;
  sigemptyset(&stopSignals);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction current;
    if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) {
      sigaddset(&stopSignals, signal);
    }
  }
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  std::thread([handler, exitCode] {
    int signal = 0;
    while (sigwait(&stopSignals, &signal) != 0) {
    }
    handler();
    std::fflush(nullptr);
    _exit(exitCode & 0xFF);
  }).detach();
}

namespace {

// The crash handler of OnCrash, and who is running it.
void (*crashHandler)(const char*) = nullptr;
int crashExitCode = -1;
std::atomic<bool> crashing{false};
pthread_t crashingThread;

const char* FaultName(int signal) {
  switch (signal) {
    case SIGSEGV:
      return "access violation";
    case SIGBUS:
      return "bus error";
    case SIGILL:
      return "illegal instruction";
    case SIGFPE:
      return "arithmetic fault";
    default:
      return "fault";
  }
}

void OnFault(int signal, siginfo_t*, void*) {
  if (crashing.exchange(true)) {
    if (pthread_equal(crashingThread, pthread_self())) _exit(crashExitCode & 0xFF);
    for (;;) pause();  // the first fault's handler ends the process
  }
  crashingThread = pthread_self();
  // The handler may wait on a lock that the faulting code held; the alarm's default action then
  // ends the process rather than leave a setup hanging on the user's screen.
  alarm(10);
  crashHandler(FaultName(signal));
  std::fflush(nullptr);
  _exit(crashExitCode & 0xFF);
}

}  // namespace

void OnCrash(void (*handler)(const char* fault), int exitCode) {
  crashHandler = handler;
  crashExitCode = exitCode;
  // A stack of its own, so that the handler can still run when the fault was a stack overflow.
  static std::vector<char> alternateStack(std::max<size_t>(SIGSTKSZ, 64 * 1024));
  stack_t stack{};
  stack.ss_sp = alternateStack.data();
  stack.ss_size = alternateStack.size();
  sigaltstack(&stack, nullptr);
  struct sigaction action {};
  action.sa_sigaction = OnFault;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGSEGV, SIGBUS, SIGILL, SIGFPE}) sigaction(signal, &action, nullptr);
}

void Sleep(uint32_t milliseconds) { host::SleepServing(milliseconds); }

std::vector<std::string> EnvironmentStrings() {
  std::vector<std::string> strings;
  for (char** entry = environ; entry && *entry; ++entry) strings.push_back(*entry);
  return strings;
}

bool SetProcessVariable(const std::string& name, const std::string& value) {
  return setenv(name.c_str(), value.c_str(), 1) == 0 ||
         host::Fail("Cannot set the variable " + name);
}

bool RemoveProcessVariable(const std::string& name) {
  return unsetenv(name.c_str()) == 0 || host::Fail("Cannot remove the variable " + name);
}

bool GetDiskFreeSpaceEx(const std::string& folder, uint64_t& freeBytes) {
  struct statvfs vfs;
  if (statvfs(host::ToUnixPath(folder).c_str(), &vfs) != 0) {
    return host::Fail("Cannot tell the free space of " + folder);
  }
  freeBytes = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
  return true;
}

// The classic call cannot tell more than 2 GiB, as on the systems that have only it.
bool GetDiskFreeSpaceClassic(const std::string& root, uint32_t& sectorsPerCluster,
                             uint32_t& bytesPerSector, uint32_t& freeClusters) {
  uint64_t freeBytes = 0;
  if (!GetDiskFreeSpaceEx(root, freeBytes)) return false;
  sectorsPerCluster = 64;
  bytesPerSector = 512;
  const uint64_t kLimit = 0x7FFF8000ULL;
  freeClusters = static_cast<uint32_t>((freeBytes < kLimit ? freeBytes : kLimit) / 32768);
  return true;
}

bool GetShortPath(const std::string& path, std::string& shortPath) {
  struct stat st;
  if (stat(host::ToUnixPath(path).c_str(), &st) != 0) return host::Fail(path);
  shortPath = path;
  return true;
}

bool MoveFile(const std::string& source, const std::string& target) {
  std::string from = host::ToUnixPath(source);
  std::string to = host::ToUnixPath(target);
  const std::string context = "Cannot move " + source + " to " + target;
  if (int refusal = host::RefusedChange(host::Change::kOther)) return host::Fail(context, refusal);
  struct stat st;
  if (lstat(to.c_str(), &st) == 0) {
    // Windows never moves onto an existing file without being asked to.
    return host::Fail(context, EEXIST);
  }
  host::DeleteAccess access(from);  // renaming needs delete access, as on Windows
  if (!access.Granted()) return host::Fail(context, EBUSY);
  return rename(from.c_str(), to.c_str()) == 0 || host::Fail(context);
}

// Windows keeps the requests as pairs in one multi-string: "\??\source" and "\??\target", or an
// empty string for a deletion.
bool MoveFileAtReboot(const std::string& source, const std::string& target) {
  RegKey key =
      RegKey::Create(RegRoot::kLocalMachine, "SYSTEM\\CurrentControlSet\\Control\\Session Manager");
  if (!key.IsOpen()) return false;
  uint32_t type = 0;
  std::vector<uint8_t> data;
  if (!key.QueryValue("PendingFileRenameOperations", type, data) || type != kRegMultiString) {
    data.clear();
  }
  // Every string ends with its zero and the list with one more; deletions add empty strings, so
  // only that last zero may go.
  if (!data.empty() && data.back() == 0) data.pop_back();
  std::string pair = "\\??\\" + source + '\0' + (target.empty() ? "" : "\\??\\" + target) + '\0';
  data.insert(data.end(), pair.begin(), pair.end());
  data.push_back(0);
  return key.SetValue("PendingFileRenameOperations", kRegMultiString, data.data(), data.size());
}

std::string GetSpecialFolder(int csidl) {
  switch (csidl) {
    case 36:  // CSIDL_WINDOWS
      return WindowsDir();
    case 37:  // CSIDL_SYSTEM
      return SystemDir();
    case 38:  // CSIDL_PROGRAM_FILES
      return "C:\\Program Files";
    case 43:  // CSIDL_PROGRAM_FILES_COMMON
      return "C:\\Program Files\\Common Files";
  }
  for (const ShellFolder& folder : kShellFolders) {
    if (folder.csidl == csidl) return ShellFolderFromRegistry(folder);
  }
  return "";
}

// Tests play either kind of user whoever runs them; a value that is neither leaves it to the
// real user.
AdminState UserAdminState() {
  const char* value = std::getenv("KX_ADMIN");
  if (value && std::strcmp(value, "1") == 0) return AdminState::kAdministrator;
  if (value && std::strcmp(value, "0") == 0) return AdminState::kNotAdministrator;
  return geteuid() == 0 ? AdminState::kAdministrator : AdminState::kNotAdministrator;
}

bool EnableShutdownPrivilege() { return true; }

bool ExitWindows(uint32_t flags) {
  const std::string context = "Cannot record the restart in " + RestartRecord();
  FILE* record = std::fopen(RestartRecord().c_str(), "a");
  if (!record) return host::Fail(context);
  std::fprintf(record, "flags=%u time=%ld\n", flags, static_cast<long>(std::time(nullptr)));
  if (std::fclose(record) != 0) return host::Fail(context);
  // The host has no machine to restart: it says so, and kxtool reboot plays the restart.
  std::printf(
      "The setup asks for a restart: the machine would restart now "
      "(kxtool reboot plays it).\n");
  std::fflush(stdout);
  return true;
}

bool CallServerRegistration(const std::string& file, bool registering, int32_t& result) {
  result = 0;
  void* library = dlopen(host::ToUnixPath(file).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    const char* error = dlerror();
    return host::FailWith("Cannot load " + file, error ? error : "unknown error");
  }
  const char* name = registering ? "DllRegisterServer" : "DllUnregisterServer";
  auto function = reinterpret_cast<int32_t (*)()>(dlsym(library, name));
  if (function) result = function();
  dlclose(library);
  return function || host::FailWith(file, std::string("the library has no ") + name);
}

bool RegisterTypeLibrary(const std::string& file, bool registering) {
  return host::FailWith(file, "the host has no type libraries");
}

// Without a font table, the check that the file is a font stands for loading it; the request
// counts as a change, so that a sweep of failures reaches a font that cannot be added.
bool AddFontResource(const std::string& file) {
  static const char* const kSignatures[] = {"\x00\x01\x00\x00", "OTTO", "true", "ttcf"};
  if (const int error = host::RefusedChange(host::Change::kOther)) {
    return host::Fail("Cannot add the font " + file, error);
  }
  char head[4] = {};
  const int descriptor = open(host::ToUnixPath(file).c_str(), O_RDONLY);
  if (descriptor < 0) return host::Fail("Cannot add the font " + file);
  const ssize_t read = ::read(descriptor, head, sizeof head);
  close(descriptor);
  for (const char* signature : kSignatures) {
    if (read == 4 && std::memcmp(head, signature, 4) == 0) return true;
  }
  return host::FailWith("Cannot add the font " + file, "the file is no TrueType or OpenType font");
}

bool UnloadFontResource(const std::string& file) {
  return host::FailWith("Cannot remove the font " + file, "the host has no font table");
}

void NotifyFontChange() {}

void NotifyEnvironmentChange() {}

std::string CreateTempFile(const std::string& folder, const std::string& prefix) {
  std::string base = folder;
  if (!base.empty() && base.back() != '\\') base += '\\';
  base += prefix.substr(0, 3);
  // Windows starts from the tick count and counts up through the 65535 names; so do we.
  const uint32_t start = TickCount() & 0xFFFF;
  for (uint32_t step = 0; step < 0x10000; ++step) {
    const uint32_t number = (start + step) & 0xFFFF;
    if (number == 0) continue;
    char digits[8];
    std::snprintf(digits, sizeof digits, "%X", number);
    const std::string path = base + digits + ".tmp";
    int descriptor = open(host::ToUnixPath(path).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (descriptor >= 0) {
      close(descriptor);
      return path;
    }
    if (errno != EEXIST) {
      host::Fail("Cannot create a temporary file in " + folder);
      return "";
    }
  }
  host::FailWith("Cannot create a temporary file in " + folder, "every name is taken");
  return "";
}

Rect WorkArea() { return {0, 0, 1024, 738}; }  // a 1024x768 screen less its task bar

void CentreWindow(WindowHandle window) {}

void RedrawNow(WindowHandle window) {}

}  // namespace os
