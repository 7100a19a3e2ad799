// The Windows backend: Win32 window and messages, WGL, the GDI loading
// screen and the multimedia timer.
//
// Implements the whole seam, as the intro was first written for it:
// - the question and the failure message as message boxes;
// - module_instance as the executable's module handle, executable_folder
//   from its file name; the log file opened without following a link;
// - the window with a WGL context, full screen by changing the display mode
//   to the desktop's size at 32 bits (restored on close), Escape and close
//   as the quit message, no screen saver or monitor power-off while it runs;
// - the loading screen painted with GDI straight onto the window;
// - milliseconds from timeGetTime, the desktop from the system metrics,
//   entry points from wglGetProcAddress;
// - the wave device over WinMM (win32_wave.cpp), threads and sleep from the
//   kernel (win32_thread.cpp), the process entry (win32_startup.cpp) and its
//   own operator new (win32_memory.cpp), for the lean executable.
// Leaves out: nothing; wave_heard answers false, as the device plays the
// buffer.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <mmsystem.h>
#include <shlwapi.h>

#include <cstring>

#include "platform/platform.h"
#include "platform/window_layout.h"
#include "shell/main_loop.h"

namespace {

constexpr PIXELFORMATDESCRIPTOR kPixelFormat = {
    sizeof(PIXELFORMATDESCRIPTOR), 1,
    PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER,
    PFD_TYPE_RGBA, 32,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    32, 0, 0, PFD_MAIN_PLANE, 0, 0, 0, 0};

constexpr DWORD kWindowedExStyle = WS_EX_APPWINDOW | WS_EX_WINDOWEDGE;
constexpr DWORD kWindowedStyle =
    WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_CAPTION | WS_SYSMENU;
constexpr DWORD kFullScreenExStyle = WS_EX_APPWINDOW;
constexpr DWORD kFullScreenStyle = WS_POPUP | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;

HINSTANCE as_instance(void* p) { return static_cast<HINSTANCE>(p); }
HWND as_window(void* p) { return static_cast<HWND>(p); }
HDC as_dc(void* p) { return static_cast<HDC>(p); }
HGLRC as_rc(void* p) { return static_cast<HGLRC>(p); }

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SYSCOMMAND:
      // Keep the screen saver and monitor power-off away while the intro runs.
      if (wParam == SC_SCREENSAVE || wParam == SC_MONITORPOWER) return 0;
      break;
    case WM_CLOSE:
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_KEYDOWN:
    case WM_CHAR:
      if (wParam == VK_ESCAPE) {
        PostQuitMessage(0);
        return 0;
      }
      break;
    default:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

COLORREF colour_of(platform::Rgb c) { return RGB(c.r, c.g, c.b); }

void filled_rectangle(HDC dc, const platform::LoadingRect& r) {
  HBRUSH brush = CreateSolidBrush(colour_of(r.fill));
  HGDIOBJ previous = SelectObject(dc, brush);
  Rectangle(dc, r.left, r.top, r.right, r.bottom);
  SelectObject(dc, previous);
  DeleteObject(brush);
}

}  // namespace

namespace platform {

bool ask_fullscreen() {
  return MessageBoxA(nullptr, "fullscreen?", kIntroName, MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void show_failure_message(const char* text) {
  MessageBoxA(nullptr, text, nullptr, MB_OK | MB_ICONEXCLAMATION);
}

void* module_instance() { return GetModuleHandleA(nullptr); }

bool executable_folder(char* folder, std::size_t capacity) {
  if (capacity > 0) folder[0] = '\0';
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  // A cut path names no real folder.
  if (length == 0 || length >= MAX_PATH) return false;
  PathRemoveFileSpecA(path);
  const auto size = static_cast<std::size_t>(std::strlen(path));
  if (size + 2 > capacity) return false;  // the separator and the terminator
  CopyMemory(folder, path, size);
  folder[size] = '\\';
  folder[size + 1] = '\0';
  return true;
}

void* log_open(const char* name) {
  // The C runtime's sharing; the reparse flag opens a link itself, so that
  // it is refused instead of followed. A folder, a device or a pipe cannot be
  // opened so, or has no file information; nor has the invalid handle, which
  // is also the process's own pseudo handle, which closing leaves alone.
  const HANDLE file = CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                  FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  BY_HANDLE_FILE_INFORMATION info;
  // Emptied only once it is known to be a plain file.
  if (GetFileInformationByHandle(file, &info) && !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
      SetEndOfFile(file)) {
    return file;
  }
  CloseHandle(file);
  return nullptr;
}

void log_write(void* log, const char* text) {
  // A byte at a time: the log is three short lines.
  DWORD written;
  while (const char c = *text++) WriteFile(log, c == '\n' ? "\r\n" : text - 1, c == '\n' ? 2 : 1, &written, nullptr);
}

int open_window(WindowRecord& record) {
  const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
  const int screenHeight = GetSystemMetrics(SM_CYSCREEN);

  WNDCLASSA windowClass{};
  windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_OWNDC;
  windowClass.lpfnWndProc = window_procedure;
  windowClass.hInstance = as_instance(record.instance);
  windowClass.lpszClassName = kIntroName;
  if (!RegisterClassA(&windowClass)) return 0;

  int clientWidth = kWindowedWidth, clientHeight = kWindowedHeight;
  DWORD exStyle = kWindowedExStyle, style = kWindowedStyle;
  if (record.fullScreen) {
    DEVMODEA mode{};
    mode.dmSize = sizeof(DEVMODEA);
    mode.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT;
    mode.dmBitsPerPel = 32;
    mode.dmPelsWidth = static_cast<DWORD>(screenWidth);
    mode.dmPelsHeight = static_cast<DWORD>(screenHeight);
    if (ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN) != DISP_CHANGE_SUCCESSFUL) return 0;
    while (ShowCursor(FALSE) >= 0) {
    }
    clientWidth = screenWidth;
    clientHeight = screenHeight;
    exStyle = kFullScreenExStyle;
    style = kFullScreenStyle;
  }

  RECT rect{0, 0, clientWidth, clientHeight};
  AdjustWindowRect(&rect, style, FALSE);
  const int outerWidth = rect.right - rect.left;
  const int outerHeight = rect.bottom - rect.top;
  const int x = centre_offset(GetSystemMetrics(SM_CXSCREEN), rect.left, rect.right);
  const int y = centre_offset(GetSystemMetrics(SM_CYSCREEN), rect.top, rect.bottom);

  HWND window = CreateWindowExA(exStyle, kIntroName, kIntroName, style, x, y, outerWidth,
                                outerHeight, nullptr, nullptr, as_instance(record.instance),
                                nullptr);
  record.window = window;
  if (!window) return 0;

  HDC dc = GetDC(window);
  record.deviceContext = dc;
  if (!dc) return 0;

  const int format = ChoosePixelFormat(dc, &kPixelFormat);
  if (!format || !SetPixelFormat(dc, format, &kPixelFormat)) return 0;

  HGLRC rc = wglCreateContext(dc);
  record.renderContext = rc;
  if (!rc) return 0;
  return wglMakeCurrent(dc, rc) ? 1 : 0;
}

void close_window(WindowRecord& record) {
  if (record.renderContext) {
    wglMakeCurrent(nullptr, nullptr);
    wglDeleteContext(as_rc(record.renderContext));
  }
  if (record.deviceContext) ReleaseDC(as_window(record.window), as_dc(record.deviceContext));
  if (record.window) DestroyWindow(as_window(record.window));
  UnregisterClassA(kIntroName, as_instance(record.instance));
  if (record.fullScreen) {
    ChangeDisplaySettingsA(nullptr, 0);
    while (ShowCursor(TRUE) < 0) {
    }
  }
}

bool pump_one_message(bool* quit) {
  MSG message;
  if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) return false;
  if (message.message == WM_QUIT) *quit = true;
  TranslateMessage(&message);
  DispatchMessageA(&message);
  return true;
}

void swap_buffers(WindowRecord& record) { SwapBuffers(as_dc(record.deviceContext)); }

void set_caption(WindowRecord& record, const char* text) {
  SetWindowTextA(as_window(record.window), text);
}

void paint_loading_screen(WindowRecord& record, const LoadingScreen& s) {
  HDC dc = as_dc(record.deviceContext);
  filled_rectangle(dc, s.background);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, colour_of(s.textColour));
  HFONT font = CreateFontA(s.textHeight, 0, 0, 0, FW_DONTCARE, FALSE, FALSE, FALSE, ANSI_CHARSET,
                           0, 0, ANTIALIASED_QUALITY, 0, "arial");
  HGDIOBJ previousFont = SelectObject(dc, font);
  TextOutA(dc, s.textX, s.textY, s.text, static_cast<int>(std::strlen(s.text)));
  SelectObject(dc, previousFont);
  DeleteObject(font);
  filled_rectangle(dc, s.trough);
  filled_rectangle(dc, s.bar);
}

std::uint32_t milliseconds() { return timeGetTime(); }

void desktop_size(int* width, int* height) {
  *width = GetSystemMetrics(SM_CXSCREEN);
  *height = GetSystemMetrics(SM_CYSCREEN);
}

void* gl_proc_address(const char* name) {
  return reinterpret_cast<void*>(wglGetProcAddress(name));
}

}  // namespace platform
