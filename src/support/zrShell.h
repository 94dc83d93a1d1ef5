// Programs, COM servers, the environment, shell folders and the restart of Windows: the support
// library's operations on the running system. Main thread (run and wait pumps its messages).
#pragma once

#include <string>
#include <vector>

#include "os/os.h"

// Starts file with parameters and waits for it, dispatching messages every 100 ms, until it ends
// or RunState().StopWaiting is set. Programs (.exe, .com, .bat, .pif, .lnk that exist) are
// created directly; anything else is opened by the shell. Returns the exit code, 0 when the wait
// was cut short or there was no process to wait for, -1 when nothing could be started.
int RunAndWait(os::WindowHandle owner, const std::string& file, const std::string& parameters,
               int showCommand, const std::string& workingFolder);

// COM self-registration: "DllRegisterServer" of a library; an .exe started hidden with
// "/REGSERVER"; otherwise the file as a type library. True on success.
bool RegisterServer(const std::string& file);
bool UnregisterServer(const std::string& file);

// The process's environment block, "name=value" per entry, in block order.
void EnvironmentStrings(std::vector<std::string>& list);

// Sets a variable of the user's environment for programs started later: under HKCU\Environment
// on NT, in c:\autoexec.bat on the 9x platform. False for an empty name or when the change could
// not be made.
extern const char kUserEnvironmentKey[];  // "HKCU\Environment"
bool SetEnvironmentVariable(const std::string& name, const std::string& value);

// The registry key that lists the system's fonts, value name the font's name, value its file:
// under "Windows" on the 9x platform, under "Windows NT" otherwise. Ends in a backslash.
std::string FontsKey();
// The system's counters of shared files: value name the file's path, value how many
// installations use it.
extern const char kSharedDllsKey[];

// Restarts Windows (forcing programs to close when force is set); false when Windows refused.
bool RestartWindows(bool force);

// The path of a shell folder by its CSIDL number; the all-users folders fall back to the user's
// own when the system has none.
std::string SpecialFolder(int csidl);
