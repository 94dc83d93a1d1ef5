// kxtool reboot: what a restart of the machine does for an installation, played on the
// machine's registry and files: the file operations delayed until the restart, then the commands
// registered to run once at the next logon.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "Verbs.h"
#include "os/os.h"
#include "support/zrFileUtils.h"

namespace {

constexpr char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr char kPendingValue[] = "PendingFileRenameOperations";
constexpr char kRunOnce[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

// The strings of a multi-string value, in order, empty ones kept: the list's own closing zero
// is dropped, then every string ends with its zero.
std::vector<std::string> MultiStrings(const std::vector<uint8_t>& data) {
  std::vector<std::string> strings;
  size_t end = data.size();
  if (end > 0 && data[end - 1] == 0) --end;
  std::string current;
  for (size_t index = 0; index < end; ++index) {
    if (data[index] == 0) {
      strings.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[index]));
    }
  }
  if (!current.empty()) strings.push_back(current);
  return strings;
}

// "\??\path" as the system keeps names, "!" before a target that may be replaced.
std::string PlainPath(std::string path) {
  if (!path.empty() && path.front() == '!') path.erase(0, 1);
  if (path.rfind("\\??\\", 0) == 0) path.erase(0, 4);
  return path;
}

bool ApplyOne(const std::string& source, const std::string& target) {
  if (target.empty()) {
    std::printf("delete %s\n", source.c_str());
    return !FileExists(source) || os::DeleteFile(source);
  }
  std::printf("move %s -> %s\n", source.c_str(), target.c_str());
  if (FileExists(target) && !os::DeleteFile(target)) return false;
  return os::MoveFile(source, target);
}

// Every pending operation in order; the list is cleared afterwards, as the system does whether
// or not each operation worked. False when one failed.
bool ApplyPendingOperations() {
  os::RegKey key = os::RegKey::Open(os::RegRoot::kLocalMachine, kSessionManager, true);
  uint32_t type = 0;
  std::vector<uint8_t> data;
  if (!key.IsOpen() || !key.QueryValue(kPendingValue, type, data)) return true;
  const std::vector<std::string> strings = MultiStrings(data);
  bool applied = true;
  for (size_t index = 0; index < strings.size(); index += 2) {
    const std::string source = PlainPath(strings[index]);
    const std::string target = index + 1 < strings.size() ? PlainPath(strings[index + 1]) : "";
    if (!ApplyOne(source, target)) {
      std::printf("failed: %s\n", os::LastErrorMessage().c_str());
      applied = false;
    }
  }
  key.DeleteValue(kPendingValue);
  return applied;
}

// The command of each value, deleted before it runs so that a command that restarts the machine
// again is not run twice; each waited for, one after the other.
bool RunOnceCommands(os::RegRoot root, const char* rootName) {
  os::RegKey key = os::RegKey::Open(root, kRunOnce, true);
  if (!key.IsOpen()) return true;
  std::vector<std::pair<std::string, std::string>> commands;
  std::string name;
  for (uint32_t index = 0; key.EnumValue(index, name); ++index) {
    uint32_t type = 0;
    std::vector<uint8_t> data;
    if (!key.QueryValue(name, type, data)) continue;
    const std::vector<std::string> strings = MultiStrings(data);
    commands.emplace_back(name, strings.empty() ? std::string() : strings.front());
  }
  bool ran = true;
  for (const auto& [valueName, command] : commands) {
    key.DeleteValue(valueName);
    std::printf("run %s\\%s: %s\n", rootName, valueName.c_str(), command.c_str());
    std::fflush(stdout);
    os::Process process = os::CreateProcess(command, "", os::kShowNormal);
    uint32_t code = 0;
    if (!process.IsValid() || !process.Wait(UINT32_MAX) || !process.ExitCode(code)) {
      std::printf("failed: %s\n", os::LastErrorMessage().c_str());
      ran = false;
      continue;
    }
    std::printf("exit %d\n", static_cast<int32_t>(code));
  }
  return ran;
}

}  // namespace

int RunRebootVerb(const std::vector<std::string>& args) {
  if (!args.empty()) {
    std::fputs("usage: kxtool reboot\n", stderr);
    return 2;
  }
  bool done = ApplyPendingOperations();
  done = RunOnceCommands(os::RegRoot::kLocalMachine, "HKLM") && done;
  done = RunOnceCommands(os::RegRoot::kCurrentUser, "HKCU") && done;
  std::fflush(stdout);
  return done ? 0 : 1;
}
