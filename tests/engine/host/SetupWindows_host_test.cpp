// The setup windows as the host keeps them: a run of the splash and the presetup window, with
// what Windows would show of them (place, shape, alpha, title, progress).
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "engine/BitmapFiles.h"
#include "engine/MainWnd.h"
#include "engine/Presetup.h"
#include "engine/Splash.h"
#include "os/os.h"
#include "support/zrFileUtils.h"

namespace {

constexpr uint32_t kRed = 0xFF0000, kBlue = 0x0000FF, kGreen = 0x00FF00;

std::string PictureFile(int width, int height, uint32_t (*colour)(int x, int y),
                        const std::string& trailer = "") {
  return BitmapFile(width, height, std::function<uint32_t(int, int)>(colour)) + trailer;
}

bool Inside(const std::vector<os::Rect>& region, int x, int y) {
  for (const os::Rect& r : region) {
    if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return true;
  }
  return false;
}

class SetupWindowsHost : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CreateMainWindow([](void*) -> intptr_t { return 0; }));
  }
  void TearDown() override {
    DestroyPresetupWindow();
    CloseSplash();
    DestroyMainWindow();
  }
  ScratchFolder scratch_{CurrentTestName()};
};

TEST_F(SetupWindowsHost, SplashWithColourAndOpacityThenPresetupInTheCorner) {
  // A blue frame (the transparent colour) round a red picture; the last column is red.
  const std::string splash = scratch_.Path() + "splash.bmp";
  ASSERT_TRUE(WriteFileText(
      splash,
      PictureFile(
          300, 100,
          [](int x, int y) { return x == 299 || (x >= 10 && y >= 10 && y < 90) ? kRed : kBlue; },
          SplashTrailerBytes(0, kBlue, 50))));
  ShowSplash(splash);
  const os::WindowState shown = os::GetWindowState(SplashWindow());
  EXPECT_TRUE(shown.visible);
  EXPECT_EQ(shown.title, "KXSplashWindow");
  EXPECT_EQ(shown.bounds.left, (1024 - 300) / 2);
  EXPECT_EQ(shown.bounds.top, (738 - 100) / 2);
  EXPECT_EQ(shown.bounds.right - shown.bounds.left, 300);
  EXPECT_EQ(shown.alpha, 128);
  EXPECT_FALSE(Inside(shown.region, 5, 5)) << "the blue frame is transparent";
  EXPECT_TRUE(Inside(shown.region, 50, 50));
  EXPECT_TRUE(Inside(shown.region, 299, 0)) << "the last column";

  // The presetup bitmap: green (transparent) left half.
  ASSERT_TRUE(WriteFileText(scratch_.Path() + "presetup.bmp", PictureFile(285, 180, [](int x, int) {
                              return x < 20 ? kGreen : kRed;
                            })));
  ShowPresetupWindow(scratch_.Path(), "Setup");
  SetPresetupProgress(40);
  const os::WindowState presetup = os::GetWindowState(PresetupWindow());
  EXPECT_TRUE(presetup.visible);
  EXPECT_EQ(presetup.title, "KXPresetupWindow");
  EXPECT_EQ(presetup.bounds.right, 1024 - 20);
  EXPECT_EQ(presetup.bounds.bottom, 738 - 20);
  EXPECT_EQ(presetup.progress, 40);
  EXPECT_FALSE(Inside(presetup.region, 10, 10));
  EXPECT_TRUE(Inside(presetup.region, 20, 10));
  EXPECT_EQ(presetup.alpha, -1);

  os::WindowHandle splashWindow = SplashWindow();
  DestroyPresetupWindow();
  CloseSplash();
  EXPECT_FALSE(os::GetWindowState(splashWindow).exists);
  EXPECT_EQ(SplashWindow(), nullptr);
}

TEST_F(SetupWindowsHost, OpaqueSplashHasNoShapeAndADialogPresetupAloneIsCentred) {
  const std::string splash = scratch_.Path() + "splash.bmp";
  ASSERT_TRUE(WriteFileText(
      splash, PictureFile(
                  40, 20, [](int, int) { return kBlue; }, SplashTrailerBytes(0, 0xFFFFFFFF, 100))));
  ShowSplash(splash);
  const os::WindowState shown = os::GetWindowState(SplashWindow());
  EXPECT_TRUE(shown.visible);
  EXPECT_TRUE(shown.region.empty()) << "rectangular";
  EXPECT_EQ(shown.alpha, -1) << "opaque";
  CloseSplash();

  // A splash that is no bitmap, is cut short, or is too short for a trailer, shows nothing.
  const std::string whole = PictureFile(
      40, 20, [](int, int) { return kBlue; }, SplashTrailerBytes(0, 0xFFFFFFFF, 100));
  for (const std::string& bytes :
       {std::string(300, 'x'), whole.substr(0, 200), std::string("BM")}) {
    ASSERT_TRUE(WriteFileText(splash, bytes));
    ShowSplash(splash);
    EXPECT_EQ(SplashWindow(), nullptr) << bytes.size();
    CloseSplash();
  }

  ShowPresetupWindow(scratch_.Path(), "Docs");
  SetPresetupProgress(7);
  const os::WindowState dialog = os::GetWindowState(PresetupWindow());
  EXPECT_TRUE(dialog.visible);
  EXPECT_EQ(dialog.title, "Preparing \"Docs\" package...");
  EXPECT_EQ(dialog.progress, 7);
  const int width = dialog.bounds.right - dialog.bounds.left;
  const int height = dialog.bounds.bottom - dialog.bounds.top;
  EXPECT_EQ(dialog.bounds.left, (1024 - width) / 2);
  EXPECT_EQ(dialog.bounds.top, (738 - height) / 2);
}

TEST_F(SetupWindowsHost, ASplashOnWindows98IsOpaque) {
  ASSERT_TRUE(os::SetProcessVariable("KX_WINVER", "4.10.2222:9x"));
  struct Restore {
    ~Restore() { os::RemoveProcessVariable("KX_WINVER"); }
  } restore;
  const std::string splash = scratch_.Path() + "splash.bmp";
  ASSERT_TRUE(WriteFileText(
      splash, PictureFile(
                  40, 20, [](int, int) { return kBlue; }, SplashTrailerBytes(0, 0xFFFFFFFF, 50))));
  ShowSplash(splash);
  EXPECT_TRUE(os::GetWindowState(SplashWindow()).visible);
  EXPECT_EQ(os::GetWindowState(SplashWindow()).alpha, -1);
}

}  // namespace
