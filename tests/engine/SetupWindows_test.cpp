// The parts of the setup windows that are plain computation or plain file reading, on either
// layer: the region scan, the splash trailer, the alpha of an opacity, the placement, and the
// bitmaps as the system loads them.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "engine/BitmapFiles.h"
#include "engine/Presetup.h"
#include "engine/RgnCompiler.h"
#include "engine/Splash.h"
#include "os/os.h"
#include "support/zrFileUtils.h"

namespace os {
bool operator==(const Rect& a, const Rect& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
}  // namespace os

namespace {

constexpr uint32_t O = 0xFF0000;  // opaque red
constexpr uint32_t T = 0x00FF00;  // the transparent colour of these cases
constexpr uint32_t kNone = 0xFFFFFFFF;

std::vector<os::Rect> Flatten(const std::vector<std::vector<os::Rect>>& blocks) {
  std::vector<os::Rect> all;
  for (const auto& block : blocks) all.insert(all.end(), block.begin(), block.end());
  return all;
}

TEST(RegionScan, RowsBecomeRectanglesOfTheirOpaqueRuns) {
  struct Case {
    const char* what;
    int width, height;
    std::vector<uint32_t> pixels;
    uint32_t transparent;
    std::vector<os::Rect> rects;
  };
  const Case cases[] = {
      {"wholly transparent", 3, 2, {T, T, T, T, T, T}, T, {}},
      {"opaque column at the right edge",
       3,
       2,
       {T, T, O, T, T, O},
       T,
       {{2, 0, 3, 1}, {2, 1, 3, 2}}},
      {"runs end before the pixel after them",
       5,
       1,
       {O, T, O, O, T},
       T,
       {{0, 0, 1, 1}, {2, 0, 4, 1}}},
      {"only the low 24 bits count", 2, 1, {0xAA00FF00, O}, T, {{1, 0, 2, 1}}},
      {"-1 leaves every pixel opaque", 2, 2, {T, O, O, T}, kNone, {{0, 0, 2, 1}, {0, 1, 2, 2}}},
      {"too few pixels for the size", 2, 2, {O, O, O}, T, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Flatten(ScanRegionRects(c.pixels, c.width, c.height, c.transparent)), c.rects)
        << c.what;
  }
}

TEST(RegionScan, BlocksHoldAtMost2000Rectangles) {
  // Every other pixel opaque: 3 runs a row, 1500 rows, 4500 rectangles.
  const int width = 6, height = 1500;
  std::vector<uint32_t> pixels;
  for (int i = 0; i < width * height; ++i) pixels.push_back(i % 2 ? T : O);
  const auto blocks = ScanRegionRects(pixels, width, height, T);
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(blocks[0].size(), 2000u);
  EXPECT_EQ(blocks[1].size(), 2000u);
  EXPECT_EQ(blocks[2].size(), 500u);
  EXPECT_TRUE((blocks[2].back() == os::Rect{4, 1499, 5, 1500}));
}

// The pixels of a test picture, top row first.
std::string BitmapFile(int width, int height, const std::vector<uint32_t>& topDown) {
  return ::BitmapFile(width, height, [&](int x, int y) { return topDown[y * width + x]; });
}

TEST(SplashTrailer, IsReadFromTheLast12BytesOfAFileLongEnough) {
  ScratchFolder scratch(CurrentTestName());
  const std::string bitmap = BitmapFile(2, 1, {O, T});
  struct Case {
    const char* what;
    std::string bytes;
    bool found;
    uint32_t milliseconds, transparent;
    int32_t opacity;
  };
  const Case cases[] = {
      {"none, opaque", bitmap + SplashTrailerBytes(2, kNone, 100), true, 2000, kNone, 100},
      {"colour and opacity", bitmap + SplashTrailerBytes(0, T, 50), true, 0, T, 50},
      {"a damaged time is cut to an hour", bitmap + SplashTrailerBytes(0xFFFFFFF0, T, 50), true, 0,
       T, 50},
      {"an hour at most", bitmap + SplashTrailerBytes(100000, T, 50), true, 3600000, T, 50},
      {"shorter than a header and a trailer", std::string(65, 'x'), false, 0, 0, 0},
      {"empty", "", false, 0, 0, 0},
  };
  for (const Case& c : cases) {
    const std::string path = scratch.Path() + "splash.bmp";
    ASSERT_TRUE(WriteFileText(path, c.bytes));
    std::optional<TSplashTrailer> trailer = ReadSplashTrailer(path);
    ASSERT_EQ(trailer.has_value(), c.found) << c.what;
    if (!trailer) continue;
    EXPECT_EQ(trailer->DisplayMilliseconds, c.milliseconds) << c.what;
    EXPECT_EQ(trailer->Transparent, c.transparent) << c.what;
    EXPECT_EQ(trailer->Opacity, c.opacity) << c.what;
  }
  EXPECT_FALSE(ReadSplashTrailer(scratch.Path() + "missing.bmp"));
}

TEST(SplashTrailer, OpacityGivesTheAlphaRoundedHalfToEven) {
  const std::pair<int32_t, int> cases[] = {{50, 128}, {10, 26},   {1, 3},     {0, 0},
                                           {99, 252}, {100, 255}, {250, 255}, {-5, 0}};
  for (auto [opacity, alpha] : cases) EXPECT_EQ(OpacityToAlpha(opacity), alpha) << opacity;
}

TEST(SetupWindowPlacement, SplashCentredPresetupInTheCornerOnlyBesideASplash) {
  const os::Rect work = {0, 0, 1024, 738};
  struct Case {
    const char* what;
    os::Rect bounds;
    os::Rect expected;
  };
  const Case cases[] = {
      {"splash centred, halves cut", CentredBounds(work, 301, 101), {361, 318, 662, 419}},
      {"work area not at the origin",
       CentredBounds({100, 50, 300, 150}, 100, 50),
       {150, 75, 250, 125}},
      {"presetup beside a splash", PresetupBounds(work, 285, 180, true), {719, 538, 1004, 718}},
      {"presetup alone", PresetupBounds(work, 285, 180, false), {369, 279, 654, 459}},
      {"presetup bigger than the screen",
       PresetupBounds(work, 2000, 1000, false),
       {0, 0, 2000, 1000}},
  };
  for (const Case& c : cases) EXPECT_TRUE(c.bounds == c.expected) << c.what;
}

TEST(Bitmaps, LoadAsStoredWithTheTrailerIgnoredAndRefuseGarbage) {
  ScratchFolder scratch(CurrentTestName());
  const std::vector<uint32_t> pixels = {O, T, 0x123456, 0x0000FF, 0xFFFFFF, 0};
  const std::string path = scratch.Path() + "picture.bmp";
  ASSERT_TRUE(WriteFileText(path, BitmapFile(3, 2, pixels) + SplashTrailerBytes(1, T, 50)));
  os::BitmapHandle bitmap = os::LoadBitmapFile(path);
  ASSERT_NE(bitmap, nullptr) << os::LastErrorMessage();
  int width = 0, height = 0;
  std::vector<uint32_t> read;
  EXPECT_TRUE(os::BitmapPixels(bitmap, width, height, read));
  EXPECT_EQ(width, 3);
  EXPECT_EQ(height, 2);
  EXPECT_EQ(read, pixels);
  os::DeleteBitmap(bitmap);

  // (A bitmap cut short within its pixels is refused by the host, but Windows may show it.)
  const std::string garbage[] = {"BM" + std::string(100, '\xff'), std::string(200, 'x')};
  for (const std::string& bytes : garbage) {
    ASSERT_TRUE(WriteFileText(path, bytes));
    EXPECT_EQ(os::LoadBitmapFile(path), nullptr) << bytes.size();
  }
  EXPECT_EQ(os::LoadBitmapFile(scratch.Path() + "missing.bmp"), nullptr);
}

}  // namespace
