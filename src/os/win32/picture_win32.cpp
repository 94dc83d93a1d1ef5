// The Windows bitmaps and the engine's own windows (see os.h): bitmaps loaded as device-independent
// sections, so that their pixels read back as stored on any display; picture windows of the main
// window's class whose procedure paints their bitmap; regions made block by block; layered
// windows through a call looked up at run time, since Windows before 2000 lacks it.
#include "os/win32/WindowsApi.h"
#include "os/win32/Win32Errors.h"

#include <commctrl.h>

#include <algorithm>

#include "os/os.h"
#include "os/win32/SystemLibraries.h"

namespace os {
namespace {

constexpr char kBitmapProperty[] = "KxPicture";

LRESULT CALLBACK PictureProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC target = BeginPaint(window, &paint);
      HBITMAP bitmap = static_cast<HBITMAP>(GetPropA(window, kBitmapProperty));
      BITMAP info;
      if (target && bitmap && GetObjectA(bitmap, sizeof(info), &info)) {
        HDC source = CreateCompatibleDC(target);
        HGDIOBJ previous = SelectObject(source, bitmap);
        BitBlt(target, 0, 0, info.bmWidth, info.bmHeight, source, 0, 0, SRCCOPY);
        SelectObject(source, previous);
        DeleteDC(source);
      }
      EndPaint(window, &paint);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;  // the picture covers the window: erasing first would only flicker
    case WM_NCDESTROY:
      RemovePropA(window, kBitmapProperty);
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

template <typename Function>
Function User32Call(const char* name) {
  return win32::ModuleFunction<Function>(GetModuleHandleA("user32.dll"), name);
}

HWND Handle(WindowHandle window) { return static_cast<HWND>(window); }

}  // namespace

BitmapHandle LoadBitmapFile(const std::string& path) {
  HANDLE bitmap =
      LoadImageA(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION);
  if (!bitmap) win32::Fail("Cannot load the bitmap " + path);
  return bitmap;
}

void DeleteBitmap(BitmapHandle bitmap) {
  if (bitmap) DeleteObject(static_cast<HBITMAP>(bitmap));
}

bool BitmapPixels(BitmapHandle bitmap, int& width, int& height, std::vector<uint32_t>& pixels) {
  BITMAP info;
  if (!bitmap || !GetObjectA(static_cast<HBITMAP>(bitmap), sizeof(info), &info)) return false;
  width = info.bmWidth;
  height = info.bmHeight;
  if (width <= 0 || height <= 0) return false;
  BITMAPINFO format = {};
  format.bmiHeader.biSize = sizeof(format.bmiHeader);
  format.bmiHeader.biWidth = width;
  format.bmiHeader.biHeight = -height;  // top row first
  format.bmiHeader.biPlanes = 1;
  format.bmiHeader.biBitCount = 32;
  format.bmiHeader.biCompression = BI_RGB;
  pixels.assign(static_cast<size_t>(width) * height, 0);
  HDC screen = GetDC(nullptr);
  int rows = GetDIBits(screen, static_cast<HBITMAP>(bitmap), 0, height, pixels.data(), &format,
                       DIB_RGB_COLORS);
  ReleaseDC(nullptr, screen);
  if (rows != height) return win32::Fail("Cannot read the pixels of a bitmap");
  // The fourth byte is no colour; a 32-bit file may carry anything there.
  for (uint32_t& pixel : pixels) pixel &= 0xFFFFFF;
  return true;
}

WindowHandle CreatePictureWindow(const std::string& title, BitmapHandle bitmap,
                                 const Rect& bounds) {
  HWND owner = Handle(MainWindow());
  char className[256];
  if (!owner || !bitmap || !GetClassNameA(owner, className, sizeof(className))) return nullptr;
  HWND window = CreateWindowExA(0, className, title.c_str(), WS_POPUP, bounds.left, bounds.top,
                                bounds.right - bounds.left, bounds.bottom - bounds.top, owner,
                                nullptr, GetModuleHandleA(nullptr), nullptr);
  if (!window) {
    win32::Fail("Cannot create the window " + title);
    return nullptr;
  }
  SetPropA(window, kBitmapProperty, bitmap);
  SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(PictureProcedure));
  return window;
}

WindowHandle CreateResourceDialog(const std::string& name) {
  HWND owner = Handle(MainWindow());
  if (!owner) return nullptr;
  HWND dialog = CreateDialogParamA(GetModuleHandleA(nullptr), name.c_str(), owner, nullptr, 0);
  if (!dialog) win32::Fail("Cannot create the dialog " + name);
  return dialog;
}

WindowHandle DialogItem(WindowHandle dialog, int id) { return GetDlgItem(Handle(dialog), id); }

WindowHandle CreateProgressBar(WindowHandle parent, const Rect& bounds, uint32_t barColour,
                               uint32_t backgroundColour) {
  HWND bar =
      CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE | PBS_SMOOTH, bounds.left,
                      bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top,
                      Handle(parent), nullptr, GetModuleHandleA(nullptr), nullptr);
  if (!bar) {
    win32::Fail("Cannot create a progress bar");
    return nullptr;
  }
  // Visual styles draw the bar in the theme's colours and ignore those set here: the bar is taken
  // out of the theme, where the system has themes at all: no theme has a class of the name " "
  // (Wine takes no empty name). Wine does not tell the control of the change, which is told here
  // then (once more, on Windows, where that does no harm).
  using SetTheme = HRESULT(WINAPI*)(HWND, LPCWSTR, LPCWSTR);
  if (auto setTheme = win32::ModuleFunction<SetTheme>(win32::LoadSystemLibrary("uxtheme.dll"),
                                                      "SetWindowTheme")) {
    if (SUCCEEDED(setTheme(bar, L" ", L" "))) SendMessageA(bar, WM_THEMECHANGED, 0, 0);
  }
  SendMessageA(bar, PBM_SETBARCOLOR, 0, static_cast<LPARAM>(barColour));
  SendMessageA(bar, PBM_SETBKCOLOR, 0, static_cast<LPARAM>(backgroundColour));
  return bar;
}

void SetProgressRange(WindowHandle bar, int low, int high, int step) {
  SendMessageA(Handle(bar), PBM_SETRANGE32, static_cast<WPARAM>(low), static_cast<LPARAM>(high));
  SendMessageA(Handle(bar), PBM_SETSTEP, static_cast<WPARAM>(step), 0);
}

void SetProgressPosition(WindowHandle bar, int position) {
  SendMessageA(Handle(bar), PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

bool SetWindowRegion(WindowHandle window, const std::vector<std::vector<Rect>>& blocks) {
  HRGN combined = nullptr;
  for (const std::vector<Rect>& block : blocks) {
    if (block.empty()) continue;
    std::vector<uint8_t> data(sizeof(RGNDATAHEADER) + block.size() * sizeof(RECT));
    auto* header = reinterpret_cast<RGNDATAHEADER*>(data.data());
    header->dwSize = sizeof(RGNDATAHEADER);
    header->iType = RDH_RECTANGLES;
    header->nCount = static_cast<DWORD>(block.size());
    header->nRgnSize = static_cast<DWORD>(block.size() * sizeof(RECT));
    RECT bound = {block[0].left, block[0].top, block[0].right, block[0].bottom};
    auto* rects = reinterpret_cast<RECT*>(data.data() + sizeof(RGNDATAHEADER));
    for (size_t i = 0; i < block.size(); ++i) {
      rects[i] = {block[i].left, block[i].top, block[i].right, block[i].bottom};
      bound.left = std::min(bound.left, rects[i].left);
      bound.top = std::min(bound.top, rects[i].top);
      bound.right = std::max(bound.right, rects[i].right);
      bound.bottom = std::max(bound.bottom, rects[i].bottom);
    }
    header->rcBound = bound;
    HRGN region = ExtCreateRegion(nullptr, static_cast<DWORD>(data.size()),
                                  reinterpret_cast<const RGNDATA*>(data.data()));
    if (!region) {
      if (combined) DeleteObject(combined);
      return win32::Fail("Cannot make the region of a window");
    }
    if (!combined) {
      combined = region;
    } else {
      CombineRgn(combined, combined, region, RGN_OR);
      DeleteObject(region);
    }
  }
  if (!combined) return true;
  if (SetWindowRgn(Handle(window), combined, TRUE)) return true;
  DeleteObject(combined);
  return win32::Fail("Cannot give a window its region");
}

bool SetWindowAlpha(WindowHandle window, uint8_t alpha) {
  using SetLayeredAttributes = BOOL(WINAPI*)(HWND, COLORREF, BYTE, DWORD);
  auto setAttributes = User32Call<SetLayeredAttributes>("SetLayeredWindowAttributes");
  if (!setAttributes) return false;
  SetWindowLongA(Handle(window), GWL_EXSTYLE, WS_EX_LAYERED);
  return setAttributes(Handle(window), 0, alpha, LWA_ALPHA) ||
         win32::Fail("Cannot make a window translucent");
}

bool SetWindowTitle(WindowHandle window, const std::string& title) {
  return SetWindowTextA(Handle(window), title.c_str()) != FALSE;
}

void MoveWindowTo(WindowHandle window, int left, int top) {
  SetWindowPos(Handle(window), nullptr, left, top, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void ShowWindow(WindowHandle window) { ::ShowWindow(Handle(window), SW_SHOW); }

void DestroyWindow(WindowHandle window) {
  if (window) ::DestroyWindow(Handle(window));
}

WindowState GetWindowState(WindowHandle window) {
  WindowState state;
  HWND handle = Handle(window);
  if (!handle || !IsWindow(handle)) return state;
  state.exists = true;
  state.visible = IsWindowVisible(handle) != FALSE;
  RECT bounds;
  if (GetWindowRect(handle, &bounds)) {
    state.bounds = {bounds.left, bounds.top, bounds.right, bounds.bottom};
  }
  char title[512] = {};
  GetWindowTextA(handle, title, sizeof(title));
  state.title = title;
  if (HWND bar = FindWindowExA(handle, nullptr, PROGRESS_CLASSA, nullptr)) {
    state.progress = static_cast<int>(SendMessageA(bar, PBM_GETPOS, 0, 0));
  }
  HRGN region = CreateRectRgn(0, 0, 0, 0);
  if (region && GetWindowRgn(handle, region) != ERROR) {
    std::vector<uint8_t> data(GetRegionData(region, 0, nullptr));
    if (!data.empty() && GetRegionData(region, static_cast<DWORD>(data.size()),
                                       reinterpret_cast<RGNDATA*>(data.data()))) {
      const auto* header = reinterpret_cast<const RGNDATAHEADER*>(data.data());
      const auto* rects = reinterpret_cast<const RECT*>(data.data() + header->dwSize);
      for (DWORD i = 0; i < header->nCount; ++i) {
        state.region.push_back({rects[i].left, rects[i].top, rects[i].right, rects[i].bottom});
      }
    }
  }
  if (region) DeleteObject(region);
  using GetLayeredAttributes = BOOL(WINAPI*)(HWND, COLORREF*, BYTE*, DWORD*);
  auto getAttributes = User32Call<GetLayeredAttributes>("GetLayeredWindowAttributes");
  BYTE alpha = 0;
  DWORD flags = 0;
  if ((GetWindowLongA(handle, GWL_EXSTYLE) & WS_EX_LAYERED) && getAttributes &&
      getAttributes(handle, nullptr, &alpha, &flags) && (flags & LWA_ALPHA)) {
    state.alpha = alpha;
  }
  return state;
}

}  // namespace os
