// The host's bitmaps and the engine's own windows (see os.h): bitmaps are decoded into pixels, and
// windows are records of what Windows would show (position, size, title, shape, alpha, the
// position of a progress bar), without pixels. Main thread only, as on Windows.
#include <strings.h>

#include <algorithm>
#include <cstring>
#include <list>
#include <memory>

#include "os/host/HostErrors.h"
#include "os/os.h"

namespace os {
namespace {

struct HostBitmap {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;  // top row first
};

struct HostWindow {
  WindowState state;
  HostWindow* parent = nullptr;
  int id = 0;
  bool isProgressBar = false;
  int low = 0, high = 100, step = 10;
};

// Every window made and not yet destroyed; a handle is the address of its record.
std::list<std::unique_ptr<HostWindow>>& Windows() {
  static std::list<std::unique_ptr<HostWindow>> windows;
  return windows;
}

HostWindow* Find(WindowHandle handle) {
  for (const auto& window : Windows()) {
    if (window.get() == handle) return window.get();
  }
  return nullptr;
}

HostWindow* Add(HostWindow* parent, const Rect& bounds, const std::string& title) {
  auto window = std::make_unique<HostWindow>();
  window->parent = parent;
  window->state.exists = true;
  window->state.bounds = bounds;
  window->state.title = title;
  Windows().push_back(std::move(window));
  return Windows().back().get();
}

// Bitmaps larger than this are no pictures a setup shows; the limit keeps a forged header from
// asking for gigabytes.
constexpr int64_t kMaxPixels = 64LL * 1024 * 1024;

uint32_t Le16(const std::string& bytes, size_t offset) {
  return static_cast<uint8_t>(bytes[offset]) | static_cast<uint8_t>(bytes[offset + 1]) << 8;
}
uint32_t Le32(const std::string& bytes, size_t offset) {
  return Le16(bytes, offset) | Le16(bytes, offset + 2) << 16;
}

// Decodes an uncompressed bitmap file; false for anything else or anything cut short.
bool DecodeBitmap(const std::string& bytes, HostBitmap& bitmap) {
  constexpr size_t kFileHeader = 14;
  if (bytes.size() < kFileHeader + 12 || bytes.compare(0, 2, "BM") != 0) return false;
  const uint32_t dataOffset = Le32(bytes, 10);
  const uint32_t headerSize = Le32(bytes, kFileHeader);
  const bool core = headerSize == 12;
  if (!core && (headerSize < 40 || kFileHeader + headerSize > bytes.size())) return false;
  int64_t width, height;
  uint32_t bits, compression = 0, coloursUsed = 0;
  if (core) {
    width = Le16(bytes, 18);
    height = static_cast<int16_t>(Le16(bytes, 20));
    bits = Le16(bytes, 24);
  } else {
    width = static_cast<int32_t>(Le32(bytes, 18));
    height = static_cast<int32_t>(Le32(bytes, 22));
    bits = Le16(bytes, 28);
    compression = Le32(bytes, 30);
    coloursUsed = Le32(bytes, 46);
  }
  const bool topDown = height < 0;
  if (topDown) height = -height;
  if (compression != 0 || width <= 0 || height <= 0 || width * height > kMaxPixels) return false;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) return false;

  std::vector<uint32_t> palette;
  if (bits <= 8) {
    const uint32_t entries = coloursUsed && coloursUsed <= (1u << bits) ? coloursUsed : 1u << bits;
    const size_t entrySize = core ? 3 : 4;
    const size_t start = kFileHeader + headerSize;
    if (start + entries * entrySize > bytes.size()) return false;
    for (uint32_t i = 0; i < entries; ++i) {
      const size_t at = start + i * entrySize;
      palette.push_back(static_cast<uint8_t>(bytes[at]) | static_cast<uint8_t>(bytes[at + 1]) << 8 |
                        static_cast<uint8_t>(bytes[at + 2]) << 16);
    }
  }
  const uint64_t stride = (static_cast<uint64_t>(width) * bits + 31) / 32 * 4;
  if (dataOffset > bytes.size() || stride * height > bytes.size() - dataOffset) return false;

  bitmap.width = static_cast<int>(width);
  bitmap.height = static_cast<int>(height);
  bitmap.pixels.assign(static_cast<size_t>(width * height), 0);
  for (int64_t row = 0; row < height; ++row) {
    const size_t line = dataOffset + (topDown ? row : height - 1 - row) * stride;
    uint32_t* out = &bitmap.pixels[static_cast<size_t>(row * width)];
    for (int64_t x = 0; x < width; ++x) {
      if (bits >= 24) {
        const size_t at = line + x * (bits / 8);
        out[x] = static_cast<uint8_t>(bytes[at]) | static_cast<uint8_t>(bytes[at + 1]) << 8 |
                 static_cast<uint8_t>(bytes[at + 2]) << 16;
        continue;
      }
      const uint64_t bit = static_cast<uint64_t>(x) * bits;
      const uint8_t byte = static_cast<uint8_t>(bytes[line + bit / 8]);
      const uint32_t index = (byte >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
      // Windows shows an index past the palette as black.
      out[x] = index < palette.size() ? palette[index] : 0;
    }
  }
  return true;
}

}  // namespace

BitmapHandle LoadBitmapFile(const std::string& path) {
  File file = File::Open(path, File::Mode::kRead);
  std::string bytes;
  if (!file.IsOpen() || !file.ReadToEnd(bytes)) return nullptr;
  auto bitmap = std::make_unique<HostBitmap>();
  if (!DecodeBitmap(bytes, *bitmap)) {
    host::FailWith("Cannot load the bitmap " + path, "not a bitmap the system reads");
    return nullptr;
  }
  return bitmap.release();
}

void DeleteBitmap(BitmapHandle bitmap) { delete static_cast<HostBitmap*>(bitmap); }

bool BitmapPixels(BitmapHandle bitmap, int& width, int& height, std::vector<uint32_t>& pixels) {
  if (!bitmap) return false;
  const HostBitmap& decoded = *static_cast<const HostBitmap*>(bitmap);
  width = decoded.width;
  height = decoded.height;
  pixels = decoded.pixels;
  return true;
}

WindowHandle CreatePictureWindow(const std::string& title, BitmapHandle bitmap,
                                 const Rect& bounds) {
  if (!MainWindow() || !bitmap) return nullptr;
  return Add(nullptr, bounds, title);
}

// The host's copy of the program's dialog resources: the presetup dialog, in pixels as the
// dialog units of its font (8-point "MS Sans Serif": 6 by 13 pixels per 4 by 8 units) make them.
// The host draws no frame, so the window is its client area.
WindowHandle CreateResourceDialog(const std::string& name) {
  if (!MainWindow() || strcasecmp(name.c_str(), "DLG_PRESETUP") != 0) return nullptr;
  auto units = [](int x, int y, int cx, int cy) {
    return Rect{x * 6 / 4, y * 13 / 8, (x + cx) * 6 / 4, (y + cy) * 13 / 8};
  };
  HostWindow* dialog = Add(nullptr, units(0, 0, 262, 34), "");
  Add(dialog, units(6, 7, 23, 23), "MAINICON")->id = 100;
  HostWindow* bar = Add(dialog, units(36, 11, 218, 12), "");
  bar->id = 101;
  bar->isProgressBar = true;
  bar->state.visible = true;
  bar->state.progress = 0;
  return dialog;
}

WindowHandle DialogItem(WindowHandle dialog, int id) {
  for (const auto& window : Windows()) {
    if (window->parent == dialog && window->id == id) return window.get();
  }
  return nullptr;
}

WindowHandle CreateProgressBar(WindowHandle parent, const Rect& bounds, uint32_t, uint32_t) {
  HostWindow* owner = Find(parent);
  if (!owner) return nullptr;
  HostWindow* bar = Add(owner, bounds, "");
  bar->isProgressBar = true;
  bar->state.visible = true;
  bar->state.progress = 0;
  return bar;
}

void SetProgressRange(WindowHandle bar, int low, int high, int step) {
  if (HostWindow* window = Find(bar)) {
    window->low = low;
    window->high = high;
    window->step = step;
  }
}

// As the control does: a position outside the range is taken to the nearest end.
void SetProgressPosition(WindowHandle bar, int position) {
  if (HostWindow* window = Find(bar)) {
    window->state.progress = std::max(window->low, std::min(position, window->high));
  }
}

bool SetWindowRegion(WindowHandle window, const std::vector<std::vector<Rect>>& blocks) {
  HostWindow* found = Find(window);
  if (!found) return false;
  found->state.region.clear();
  for (const std::vector<Rect>& block : blocks) {
    found->state.region.insert(found->state.region.end(), block.begin(), block.end());
  }
  return true;
}

bool SetWindowAlpha(WindowHandle window, uint8_t alpha) {
  HostWindow* found = Find(window);
  if (!found) return false;
  found->state.alpha = alpha;
  return true;
}

bool SetWindowTitle(WindowHandle window, const std::string& title) {
  HostWindow* found = Find(window);
  if (!found) return false;
  found->state.title = title;
  return true;
}

void MoveWindowTo(WindowHandle window, int left, int top) {
  if (HostWindow* found = Find(window)) {
    Rect& bounds = found->state.bounds;
    bounds = {left, top, left + bounds.right - bounds.left, top + bounds.bottom - bounds.top};
  }
}

void ShowWindow(WindowHandle window) {
  if (HostWindow* found = Find(window)) found->state.visible = true;
}

// Its children go with it, as on Windows.
void DestroyWindow(WindowHandle window) {
  Windows().remove_if([window](const std::unique_ptr<HostWindow>& item) {
    return item.get() == window || item->parent == window;
  });
}

WindowState GetWindowState(WindowHandle window) {
  HostWindow* found = Find(window);
  if (!found) return {};
  WindowState state = found->state;
  for (const auto& child : Windows()) {
    if (child->parent == found && child->isProgressBar) {
      state.progress = child->state.progress;
      break;
    }
  }
  return state;
}

}  // namespace os
