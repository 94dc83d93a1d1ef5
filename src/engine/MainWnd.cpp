#include "engine/MainWnd.h"

#include "database/KXClasses.h"
#include "expressions/Common.h"
#include "install/Programs.h"
#include "os/os.h"
#include "support/RunState.h"
#include "support/zrUtils.h"

namespace {

constexpr char kClassName[] = "KxanMainWindow";

// The class keeps the icon for as long as it is registered, which is as long as the window lives.
os::IconHandle classIcon = nullptr;

}  // namespace

bool CreateMainWindow(std::function<intptr_t(void*)> crossThread) {
  os::IconHandle icon = os::LoadAppIcon("MAINICON");
  os::MainWindowHandlers handlers{std::move(crossThread), SessionMayEnd, SessionEnds};
  switch (os::CreateMainWindow(kClassName, icon, std::move(handlers))) {
    case os::MainWindowResult::kCreated:
      classIcon = icon;
      MessageBoxSettings().mainWindow = os::MainWindow();
      return true;
    case os::MainWindowResult::kClassRefused:
      os::DestroyIcon(icon);
      ShowErrorBox("Cannot register main window class!");
      return false;
    case os::MainWindowResult::kWindowRefused:
      break;
  }
  os::DestroyIcon(icon);
  return false;
}

void DestroyMainWindow() {
  if (!os::MainWindow()) return;
  MessageBoxSettings().mainWindow = nullptr;
  os::DestroyMainWindow();
  os::DestroyIcon(classIcon);
  classIcon = nullptr;
}

bool SessionMayEnd() {
  TRunState& state = RunState();
  if (state.ResumeMode || MainDatabase().InstallState == TkxInstallState::isUnknown) return false;
  // A program of a program phase is running: the run is saved at that program, so that it goes on
  // after the restart with the ones that follow.
  TkxMainDatabase& database = MainDatabase();
  SuspendRun(database.InstallState, database.InstallStateData);
  state.SessionEnding = true;
  state.StopWaiting = true;
  return true;
}

void SessionEnds(bool ending) {
  if (ending) RegisterResume();
}
