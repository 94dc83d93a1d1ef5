// The Windows main window as the system sees it: a real window of its class, never shown, with
// the frame it was made with; its procedure answers the end of the session through the handlers
// and delivers the private message only for records sent through the layer. Windows only (runs
// under Wine).
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "os/os.h"
#include "os/win32/WindowsApi.h"

namespace {

constexpr char kClassName[] = "KxTestMainWindow";
constexpr UINT kCrossThreadMessage = 22801;

class MainWindowWin32Test : public testing::Test {
 protected:
  MainWindowWin32Test() {
    os::MainWindowHandlers handlers;
    handlers.crossThread = [this](void* record) -> intptr_t {
      ++served_;
      return *static_cast<int*>(record) * 3;
    };
    handlers.queryEndSession = [this] { return sessionMayEnd_; };
    handlers.endSession = [this](bool ending) { endings_ += ending ? "E" : "c"; };
    created_ = os::CreateMainWindow(kClassName, nullptr, handlers);
  }
  ~MainWindowWin32Test() override { os::DestroyMainWindow(); }

  HWND Window() const { return static_cast<HWND>(os::MainWindow()); }

  os::MainWindowResult created_;
  int served_ = 0;
  bool sessionMayEnd_ = false;
  std::string endings_;
};

TEST_F(MainWindowWin32Test, IsAHiddenWindowOfItsClass) {
  ASSERT_EQ(created_, os::MainWindowResult::kCreated) << os::LastErrorMessage();
  HWND window = Window();
  ASSERT_TRUE(IsWindow(window));
  EXPECT_FALSE(IsWindowVisible(window));
  HWND found = FindWindowA(kClassName, nullptr);
  // Without a desktop (Wine without a display) the window is a message-only one.
  if (!found) found = FindWindowExA(HWND_MESSAGE, nullptr, kClassName, nullptr);
  EXPECT_EQ(found, window);
  char name[64] = {};
  GetClassNameA(window, name, sizeof(name));
  EXPECT_STREQ(name, kClassName);
  char title[8] = "x";
  GetWindowTextA(window, title, sizeof(title));
  EXPECT_STREQ(title, "");
  LONG_PTR style = GetWindowLongPtrA(window, GWL_STYLE);
  const LONG_PTR frame = WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MAXIMIZEBOX;
  EXPECT_EQ(style & frame, frame);
  EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_VISIBLE), 0);
  EXPECT_EQ(GetClassLongPtrA(window, GCL_STYLE), CS_HREDRAW | CS_VREDRAW | CS_NOCLOSE);
  EXPECT_EQ(GetWindowThreadProcessId(window, nullptr), GetCurrentThreadId());
  // The class goes with the window.
  os::DestroyMainWindow();
  WNDCLASSA registered;
  EXPECT_FALSE(GetClassInfoA(GetModuleHandleA(nullptr), kClassName, &registered));
}

TEST_F(MainWindowWin32Test, AnswersTheEndOfTheSessionThroughItsHandlers) {
  ASSERT_EQ(created_, os::MainWindowResult::kCreated) << os::LastErrorMessage();
  EXPECT_EQ(SendMessageA(Window(), WM_QUERYENDSESSION, 0, 0), FALSE);
  sessionMayEnd_ = true;
  EXPECT_EQ(SendMessageA(Window(), WM_QUERYENDSESSION, 0, 0), TRUE);
  EXPECT_EQ(SendMessageA(Window(), WM_ENDSESSION, FALSE, 0), 0);
  EXPECT_EQ(SendMessageA(Window(), WM_ENDSESSION, TRUE, 0), 0);
  EXPECT_EQ(endings_, "cE");
}

TEST_F(MainWindowWin32Test, DeliversThePrivateMessageOnlyForRecordsSentThroughTheLayer) {
  ASSERT_EQ(created_, os::MainWindowResult::kCreated) << os::LastErrorMessage();
  int value = 5;
  intptr_t answer = 0;
  bool delivered = false;
  std::thread sender([&] { answer = os::SendToMainThread(&value, &delivered); });
  while (!served_) os::PumpMessages();
  sender.join();
  EXPECT_EQ(answer, 15);
  EXPECT_TRUE(delivered);
  // Anyone on the desktop may send the message: a pointer it makes up is not followed.
  std::atomic<bool> answered{false};
  std::thread stranger([&] {
    answer = SendMessageA(Window(), kCrossThreadMessage, reinterpret_cast<WPARAM>(&value), 0);
    answered = true;
  });
  while (!answered) os::PumpMessages();
  stranger.join();
  EXPECT_EQ(answer, 0);
  EXPECT_EQ(served_, 1);
}

}  // namespace
