// "Uninstall.exe": removes an installed application, as its install log lists it.
//   Uninstall.exe "INSTALL LOG" [/s] [/log="FILE"]
// The uninstall entry starts it with the log; /s removes without asking and shows nothing. Exit
// code 0 when everything listed is gone (or waits for the next start of Windows), -1 otherwise.
// At the end the program removes itself: directly where the system allows it, else through a
// copy in the temporary folder that waits for this process to end.
#include <algorithm>
#include <string>
#include <vector>

#include "os/os.h"
#include "support/DiagnosticLog.h"
#include "support/Errors.h"
#include "support/zrFileUtils.h"
#include "support/zrStrUtils.h"
#include "uninstall/InstallLog.h"
#include "uninstall/Uninstaller.h"

namespace {

constexpr char kCleanupSwitch[] = "/cleanup";

struct TCommand {
  std::string LogPath;
  bool Silent = false;
  bool Cleanup = false;            // the copy that removes the program and its folders
  std::vector<std::string> Paths;  // the cleanup's program, then its folders
};

bool IsSwitch(const std::string& param, const char* name) {
  return param.size() > 1 && (param[0] == '/' || param[0] == '-') &&
         SameText(param.substr(1), name);
}

TCommand ReadCommand() {
  TCommand command;
  const std::vector<std::string> params = diag::ParamsWithoutLog(os::CommandLine());
  for (size_t index = 1; index < params.size(); ++index) {
    const std::string& param = params[index];
    if (IsSwitch(param, "s")) {
      command.Silent = true;
    } else if (IsSwitch(param, kCleanupSwitch + 1)) {
      command.Cleanup = true;
    } else if (command.Cleanup) {
      command.Paths.push_back(param);
    } else if (command.LogPath.empty()) {
      command.LogPath = param;
    }
  }
  return command;
}

int Box(const TCommand& command, const std::string& text, const std::string& caption,
        uint32_t flags) {
  diag::Linef("box \"%s\": %s", caption.c_str(), text.c_str());
  if (command.Silent) return (flags & 0xF) == os::kMbYesNo ? os::kIdYes : os::kIdOk;
  return os::MessageBox(nullptr, text, caption, flags | os::kMbSetForeground);
}

std::string Listing(const std::string& heading, const std::vector<std::string>& lines) {
  if (lines.empty()) return "";
  std::string text = "\n\n" + heading;
  for (const std::string& line : lines) text += "\n" + line;
  return text;
}

// The copy in the temporary folder: waits until the program it was copied from can be deleted
// (that process has ended), then removes the folders it was given when they are empty, and leaves
// itself for the next start of Windows.
int Cleanup(const TCommand& command) {
  if (command.Paths.empty()) return -1;
  for (int attempt = 0; attempt < 300 && FileExists(command.Paths[0]); ++attempt) {
    if (!DeleteFileForced(command.Paths[0])) os::Sleep(100);
  }
  for (size_t index = 1; index < command.Paths.size(); ++index) os::RemoveDir(command.Paths[index]);
  os::MoveFileAtReboot(os::ModuleFileName(), "");
  return 0;
}

// Deletes the running program, and then the folders of the installation it stood in; a program
// started from anywhere else (a copy the user keeps) stays.
void RemoveSelf(const std::string& logPath, const std::vector<std::string>& folders) {
  const std::string self = os::ModuleFileName();
  if (!SameText(ExtractFilePath(self), ExtractFilePath(logPath))) return;
  if (DeleteFileForced(self)) {
    for (const std::string& folder : folders) os::RemoveDir(folder);
    return;
  }
  std::string copy;
  try {
    copy = TemporaryPath() + UniqueName(TemporaryPath(), "kxu", ".exe", false);
  } catch (const KxError&) {
    copy.clear();
  }
  if (copy.empty() || !CopyFileWithProgress(self, copy, nullptr, false)) {
    os::MoveFileAtReboot(self, "");
    return;
  }
  std::string line = Format("\"%s\" %s \"%s\"", copy.c_str(), kCleanupSwitch, self.c_str());
  for (const std::string& folder : folders) line += " \"" + folder + "\"";
  diag::Line("the program is removed by " + line);
  os::Process cleaner = os::CreateProcess(line, TemporaryPath(), os::kShowHidden);
  if (!cleaner.IsValid()) os::MoveFileAtReboot(self, "");
}

std::vector<std::string> FoldersLeft(const TInstallLogRecords& records) {
  std::vector<std::string> left;
  for (const std::string& folder : records.Folders) {
    if (FolderExists(folder)) left.push_back(folder);
  }
  SortIgnoringCase(left);
  std::reverse(left.begin(), left.end());  // subfolders first
  return left;
}

int Uninstall(const TCommand& command) {
  const char* const kCaption = "Uninstall";
  if (command.LogPath.empty()) {
    Box(command, "Usage: Uninstall.exe \"INSTALL LOG\" [/s] [/log=\"FILE\"]", kCaption,
        os::kMbOk | os::kMbIconStop);
    return -1;
  }
  TInstallLogRecords records;
  std::string reason;
  if (!ReadInstallLog(command.LogPath, records, reason)) {
    Box(command, reason + "\nNothing was removed.", kCaption, os::kMbOk | os::kMbIconStop);
    return -1;
  }
  TUninstaller uninstaller(command.LogPath, records);
  const std::string name = uninstaller.DisplayName();
  const std::string title = records.Text("Title", "Uninstall " + name);
  const std::string question =
      records.Text("Question", "Remove " + name + " and all of its parts from this computer?");
  if (Box(command, question, title, os::kMbYesNo | os::kMbIconQuestion) != os::kIdYes) {
    diag::Line("the user kept the application");
    return -1;
  }
  const TUninstallReport report = uninstaller.Run();
  if (report.Stopped) {
    Box(command, report.Failures.back() + "\nNothing was removed.", title,
        os::kMbOk | os::kMbIconStop);
    return -1;
  }
  std::string text = records.Text("Finish", name + " was removed from this computer.");
  text +=
      Listing(records.Text("Kept", "These files were changed after the installation and are kept:"),
              report.KeptChanged);
  text += Listing(records.Text("Restart",
                               "These files are in use: they are removed when Windows "
                               "restarts:"),
                  report.AtRestart);
  text += Listing(records.Text("Failed", "These could not be removed:"), report.Failures);
  const bool whole = report.Failures.empty();
  Box(command, text, title, os::kMbOk | (whole ? os::kMbIconInformation : os::kMbIconExclamation));
  RemoveSelf(command.LogPath, FoldersLeft(records));
  return whole ? 0 : -1;
}

}  // namespace

int main() {
  os::HardenLibrarySearch();
  const TCommand command = ReadCommand();
  if (command.Cleanup) os::ExitProcess(Cleanup(command));
  const std::string logFile = diag::LogPathIn(os::CommandLine());
  if (!logFile.empty()) diag::Open(logFile);
  diag::Line("command line: " + os::CommandLine());
  int code = -1;
  try {
    code = Uninstall(command);
  } catch (const KxError& error) {
    Box(command, error.what(), "Uninstall", os::kMbOk | os::kMbIconStop);
  }
  diag::Close(Format("exit code %d", code));
  os::ExitProcess(code);
}
