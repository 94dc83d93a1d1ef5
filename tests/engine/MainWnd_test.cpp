// The engine's main window: a worker thread's send reaches the handler on the main thread while
// the engine waits (for the splash time, for a started program), the refused class, the owner of
// the boxes, and the answer to the end of the session.
#include "engine/MainWnd.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "database/KXClasses.h"
#include "expressions/Common.h"
#include "os/os.h"
#include "support/RunState.h"
#include "support/zrShell.h"
#include "support/zrUtils.h"

namespace {

class MainWndTest : public testing::Test {
 protected:
  MainWndTest() {
    ResetRunState();
    FreeRunObjects();
  }
  ~MainWndTest() override {
    DestroyMainWindow();  // releases a sender the main thread never served
    for (std::thread& worker : workers_) {
      if (worker.joinable()) worker.join();
    }
    ResetRunState();
    FreeRunObjects();
  }

  bool Create() {
    return CreateMainWindow([this](void* record) -> intptr_t {
      if (std::this_thread::get_id() != mainThread_) ++offMainThread_;
      ++served_;
      return *static_cast<int*>(record) + 1;
    });
  }

  // A worker sends value; answer receives the main thread's answer.
  void SendFromWorker(int& value, std::atomic<intptr_t>& answer) {
    workers_.emplace_back([&value, &answer] { answer = os::SendToMainThread(&value); });
  }

  const std::thread::id mainThread_ = std::this_thread::get_id();
  std::atomic<int> served_{0};
  std::atomic<int> offMainThread_{0};
  std::vector<std::thread> workers_;
};

// Each wait of the engine's main thread, lasting long enough to take the send.
struct EngineWait {
  const char* name;
  std::function<void()> wait;
};

const EngineWait kEngineWaits[] = {
    {"WaitDispatching", [] { WaitDispatching(os::TickCount(), 1500); }},
    {"RunAndWait",
     [] { EXPECT_EQ(RunAndWait(nullptr, KX_TEST_SLEEPER, "1500", os::kShowHidden, ""), 7); }},
};

class EngineWaitTest : public MainWndTest, public testing::WithParamInterface<EngineWait> {};

TEST_P(EngineWaitTest, AWorkersSendIsServedOnTheMainThreadMeanwhile) {
  ASSERT_TRUE(Create());
  int value = 41;
  std::atomic<intptr_t> answer{-1};
  SendFromWorker(value, answer);
  GetParam().wait();
  ASSERT_EQ(served_, 1);  // nothing but the wait served it
  workers_.back().join();
  workers_.clear();
  EXPECT_EQ(answer, 42);
  EXPECT_EQ(offMainThread_, 0);
}

INSTANTIATE_TEST_SUITE_P(Waits, EngineWaitTest, testing::ValuesIn(kEngineWaits),
                         [](const testing::TestParamInfo<EngineWait>& info) {
                           return std::string(info.param.name);
                         });

TEST_F(MainWndTest, TheWindowOwnsTheBoxesWhileItLives) {
  ASSERT_TRUE(Create());
  EXPECT_NE(os::MainWindow(), nullptr);
  EXPECT_EQ(MessageBoxSettings().mainWindow, os::MainWindow());
  DestroyMainWindow();
  EXPECT_EQ(os::MainWindow(), nullptr);
  EXPECT_EQ(MessageBoxSettings().mainWindow, nullptr);
}

TEST_F(MainWndTest, AClassThatCannotBeRegisteredIsReported) {
  ASSERT_TRUE(Create());
  os::WindowHandle first = os::MainWindow();
  testing::internal::CaptureStderr();
  EXPECT_FALSE(Create());  // the class is registered while the first window lives
  std::string boxes = testing::internal::GetCapturedStderr();
  EXPECT_NE(boxes.find("Error: Cannot register main window class!"), std::string::npos) << boxes;
  // The first window goes on serving.
  EXPECT_EQ(os::MainWindow(), first);
  EXPECT_EQ(MessageBoxSettings().mainWindow, first);
  int value = 7;
  std::atomic<intptr_t> answer{-1};
  SendFromWorker(value, answer);
  WaitDispatching(os::TickCount(), 300);
  workers_.back().join();
  EXPECT_EQ(answer, 8);
}

struct SessionCase {
  bool resumeMode;
  TkxInstallState state;
  bool mayEnd;
};

TEST_F(MainWndTest, TheSessionMayEndOnlyWhileAResumableStepRuns) {
  const SessionCase cases[] = {
      {false, TkxInstallState::isUnknown, false},  // dialogs, files: nothing to resume
      {false, TkxInstallState::isRunAppBeforeDialogs, true},
      {false, TkxInstallState::isRunAppBeforeInstall, true},
      {false, TkxInstallState::isRegServers, true},
      {false, TkxInstallState::isRunAppAfterInstall, true},
      {true, TkxInstallState::isRunAppBeforeDialogs, false},  // a resumed run
      {true, TkxInstallState::isUnknown, false},
  };
  for (const SessionCase& session : cases) {
    SCOPED_TRACE(testing::Message()
                 << session.resumeMode << " " << static_cast<int>(session.state));
    ResetRunState();
    RunState().ResumeMode = session.resumeMode;
    MainDatabase().InstallState = session.state;
    EXPECT_EQ(SessionMayEnd(), session.mayEnd);
    EXPECT_EQ(RunState().SessionEnding, session.mayEnd);
    EXPECT_EQ(RunState().StopWaiting, session.mayEnd);
  }
}

}  // namespace
