#include "support/zrShell.h"

#include <strings.h>

#include "support/Errors.h"
#include "support/RunState.h"
#include "support/WinVersion.h"
#include "support/zrFileUtils.h"
#include "support/zrRegIni.h"
#include "support/zrStrUtils.h"

namespace {

constexpr uint32_t kWaitSlice = 100;

std::string LowerExtension(const std::string& file) {
  std::string name = ExtractFileName(file);
  size_t dot = name.find_last_of('.');
  std::string extension = dot == std::string::npos ? std::string() : name.substr(dot);
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return extension;
}

bool IsProgram(const std::string& file) {
  static const char* const kProgramExtensions[] = {".exe", ".com", ".bat", ".pif", ".lnk"};
  std::string extension = LowerExtension(file);
  for (const char* known : kProgramExtensions) {
    if (extension == known) return true;
  }
  return false;
}

std::string WithoutDoubleQuotes(const std::string& text) {
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
    return text.substr(1, text.size() - 2);
  }
  return text;
}

int WaitForExit(os::Process& process) {
  while (!process.Wait(kWaitSlice)) {
    os::PumpMessages();
    if (RunState().StopWaiting) return 0;
  }
  uint32_t code = 0;
  return process.ExitCode(code) ? static_cast<int>(code) : 0;
}

bool RunServerRegistration(const std::string& file, bool registering) {
  int32_t result = 0;
  if (os::CallServerRegistration(file, registering, result)) return result >= 0;
  if (LowerExtension(file) == ".exe") {
    bool started = false;
    os::ShellExecute(nullptr, file, registering ? "/REGSERVER" : "/UNREGSERVER", "",
                     os::kShowHidden, started);
    return started;
  }
  return os::RegisterTypeLibrary(file, registering);
}

// The user's own folder for an all-users folder the system does not have.
int FallbackFolder(int csidl) {
  switch (csidl) {
    case 22:
      return 11;  // start menu
    case 23:
      return 2;  // programs
    case 24:
      return 7;  // startup
    case 25:
      return 16;  // desktop
    default:
      return -1;
  }
}

// "SET NAME=value" lines, the name compared without case.
bool IsSetLineFor(const std::string& line, const std::string& name) {
  std::string trimmed = Trim(line);
  if (trimmed.size() < 4 || strncasecmp(trimmed.c_str(), "SET ", 4) != 0) return false;
  std::string variable = Trim(TextBefore(Trim(trimmed.substr(4)), '='));
  return strcasecmp(variable.c_str(), name.c_str()) == 0;
}

bool SetIn9xAutoexec(const std::string& name, const std::string& value) {
  const std::string autoexec = "c:\\autoexec.bat";
  const std::string setLine = Format("SET %s=%s", name.c_str(), value.c_str());
  // A machine without autoexec.bat simply gets one.
  std::vector<std::string> lines;
  if (!ReadTextLines(autoexec, lines)) return false;
  bool replaced = false;
  for (std::string& line : lines) {
    if (!IsSetLineFor(line, name)) continue;
    line = setLine;
    replaced = true;
  }
  if (!replaced) lines.push_back(setLine);
  return ReplaceWithLines(autoexec, lines);
}

}  // namespace

int RunAndWait(os::WindowHandle owner, const std::string& file, const std::string& parameters,
               int showCommand, const std::string& workingFolder) {
  os::Process process;
  std::string program = WithoutDoubleQuotes(file);
  if (!FileExists(program) || !IsProgram(program)) {
    bool started = false;
    process = os::ShellExecute(owner, program, parameters, workingFolder, showCommand, started);
    if (!started) return -1;
  } else {
    std::string commandLine = Trim(Format("\"%s\" %s", program.c_str(), parameters.c_str()));
    std::string folder = Trim(WithoutDoubleQuotes(workingFolder));
    process = os::CreateProcess(commandLine, folder, showCommand);
    if (!process.IsValid()) return -1;
  }
  return process.IsValid() ? WaitForExit(process) : 0;
}

bool RegisterServer(const std::string& file) { return RunServerRegistration(file, true); }

bool UnregisterServer(const std::string& file) { return RunServerRegistration(file, false); }

void EnvironmentStrings(std::vector<std::string>& list) { list = os::EnvironmentStrings(); }

const char kUserEnvironmentKey[] = "HKCU\\Environment";

bool SetEnvironmentVariable(const std::string& name, const std::string& value) {
  if (name.empty()) return false;
  if (IsPlatform9x()) return SetIn9xAutoexec(name, value);
  return RegWriteString(kUserEnvironmentKey, name, value);
}

std::string FontsKey() {
  return IsPlatform9x() ? "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Fonts\\"
                        : "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts\\";
}

const char kSharedDllsKey[] = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

bool RestartWindows(bool force) {
  uint32_t flags = os::kExitWindowsReboot | (force ? os::kExitWindowsForce : 0);
  if (!IsPlatform9x() && !os::EnableShutdownPrivilege()) return false;
  return os::ExitWindows(flags);
}

std::string SpecialFolder(int csidl) {
  std::string path = os::GetSpecialFolder(csidl);
  int fallback = FallbackFolder(csidl);
  if (path.empty() && fallback >= 0) path = os::GetSpecialFolder(fallback);
  return path;
}
