// The browser backend: an HTML page in place of the Win32 window manager, a
// WebGL context with our own immediate-mode layer (web_gl.cpp) in place of
// WGL, and a 2D canvas laid over the GL one in place of GDI.
//
// The core runs its own blocking loop; here the loop is suspended (Asyncify)
// at the places where a desktop program would wait: for the answer to the
// question, after painting the loading screen, at each buffer swap, and for
// the module the page is still fetching. The page has one thread, so that
// works on any static host; the music plays in the audio worklet.
// The page's own code lives in web_page.js; the functions below only call it.
//
// Implements:
// - the question and the failure message as boxes in the page;
// - executable_folder as the root of the in-memory file system, where the
//   page puts the 2.xm it fetched from beside itself (waiting for it); the
//   log file in it as on any POSIX system (../posix_log_file.cpp);
// - the window as a canvas with a WebGL context: 840 x 525 centred on the
//   page (scaled down to fit a smaller page), or the whole page once the
//   browser has granted full screen, following its size (no display mode is
//   changed), drawn at the screen's pixel density; Escape, or leaving full
//   screen, as the quit request; the caption as the tab's title;
// - the loading screen on a 2D canvas laid over the GL one;
// - milliseconds from the page's clock, the desktop as the screen's size;
// - the wave device as an audio worklet that plays the module itself
//   (web_wave.cpp).
// Leaves out:
// - module_instance: null, as everywhere off Windows;
// - OpenGL entry points that WebGL lacks: each resolves to a stub that stops
//   the program with a word on the console, should the core ever call one
//   (it never does), so the start-up check passes;
// - threads (web_thread.cpp): none starts, none is needed;
// - wave_pause and raise_thread_priority: empty (nothing to raise; the intro
//   never pauses its music).
#include <emscripten.h>
#include <emscripten/html5.h>
#include <webgl/webgl1.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"
#include "platform/web/web_gl.h"
#include "platform/window_layout.h"
#include "shell/main_loop.h"

// clang-format off
EM_ASYNC_JS(int, web_ask_yes_no, (const char* caption, const char* text), {
  return await Module.vantor.askYesNo(UTF8ToString(caption), UTF8ToString(text));
});
EM_ASYNC_JS(void, web_show_message, (const char* caption, const char* text), {
  await Module.vantor.showMessage(UTF8ToString(caption), UTF8ToString(text));
});
EM_JS(void, web_open_page, (int fullScreen, int width, int height), {
  Module.vantor.openPage(!!fullScreen, width, height);
});
EM_JS(int, web_canvas_changed, (int* width, int* height), {
  var size = Module.vantor.canvasChanged();
  if (!size) return 0;
  HEAP32[width >> 2] = size[0];
  HEAP32[height >> 2] = size[1];
  return 1;
});
EM_ASYNC_JS(void, web_module_folder, (), { await Module.vantor.moduleFolder(); });
EM_JS(void, web_close_page, (), { Module.vantor.closePage(); });
EM_JS(int, web_next_event, (), { return Module.vantor.nextEvent(); });
EM_JS(void, web_post_quit, (), { Module.vantor.postQuit(); });
EM_ASYNC_JS(void, web_next_frame, (), { await Module.vantor.nextFrame(); });
EM_JS(void, web_set_title, (const char* text), { document.title = UTF8ToString(text); });
EM_JS(void, web_viewport_size, (int* width, int* height), {
  HEAP32[width >> 2] = innerWidth;
  HEAP32[height >> 2] = innerHeight;
});
EM_JS(void, web_screen_size, (int* width, int* height), {
  HEAP32[width >> 2] = screen.width;
  HEAP32[height >> 2] = screen.height;
});
EM_JS(void, web_loading_rect, (int left, int top, int right, int bottom, int rgb), {
  Module.vantor.loadingRect(left, top, right, bottom, rgb);
});
EM_JS(void, web_loading_text, (int x, int y, int height, const char* text, int rgb), {
  Module.vantor.loadingText(x, y, height, UTF8ToString(text), rgb);
});
EM_ASYNC_JS(void, web_loading_show, (), { await Module.vantor.showLoading(); });
// clang-format on

namespace {

// What the page's event queue hands out (see nextEvent in web_page.js).
enum WebEvent { kNoEvent = 0, kEscape = 1, kQuit = 2 };

// Entry points a desktop driver has but WebGL does not. The core resolves
// them at start-up and never calls them; should that change, the call stops
// the program with a word on the console instead of jumping to null.
void unavailable_gl_entry_point() {
  std::fputs("vantor: an OpenGL entry point that WebGL lacks was called\n", stderr);
  std::abort();
}

int packed(platform::Rgb c) { return c.r << 16 | c.g << 8 | c.b; }

void loading_rect(const platform::LoadingRect& r) {
  web_loading_rect(r.left, r.top, r.right, r.bottom, packed(r.fill));
}

}  // namespace

namespace platform {

bool ask_fullscreen() { return web_ask_yes_no(kIntroName, "fullscreen?") != 0; }

void show_failure_message(const char* text) { web_show_message("Error", text); }

void* module_instance() { return nullptr; }

// The page fetches 2.xm from beside itself into the root of the in-memory
// file system; the question does not wait for it, the music does.
bool executable_folder(char* folder, std::size_t capacity) {
  web_module_folder();
  if (capacity < 2) {
    if (capacity > 0) folder[0] = '\0';
    return false;
  }
  folder[0] = '/';
  folder[1] = '\0';
  return true;
}

int open_window(WindowRecord& record) {
  int width = kWindowedWidth, height = kWindowedHeight;
  // Full screen is the page's whole area, which is the screen once the
  // browser has granted it.
  if (record.fullScreen) web_viewport_size(&width, &height);
  web_open_page(record.fullScreen, width, height);
  EmscriptenWebGLContextAttributes attributes;
  emscripten_webgl_init_context_attributes(&attributes);
  attributes.alpha = EM_FALSE;  // an opaque window
  attributes.depth = EM_TRUE;
  attributes.stencil = EM_FALSE;
  attributes.antialias = EM_FALSE;
  attributes.majorVersion = 1;
  const EMSCRIPTEN_WEBGL_CONTEXT_HANDLE context = emscripten_webgl_create_context("#canvas", &attributes);
  if (context <= 0) return 0;
  record.window = record.deviceContext = reinterpret_cast<void*>(static_cast<std::intptr_t>(context));
  if (emscripten_webgl_make_context_current(context) != EMSCRIPTEN_RESULT_SUCCESS) return 0;
  record.renderContext = record.window;
  if (!web_gl_init()) return 0;
  // The backing store's pixels, which may be more than the window's.
  web_canvas_changed(&width, &height);
  emscripten_glViewport(0, 0, width, height);
  return 1;
}

void close_window(WindowRecord& record) {
  if (record.window) {
    emscripten_webgl_destroy_context(
        static_cast<EMSCRIPTEN_WEBGL_CONTEXT_HANDLE>(reinterpret_cast<std::intptr_t>(record.window)));
  }
  record.window = record.deviceContext = record.renderContext = nullptr;
  web_close_page();
}

bool pump_one_message(bool* quit) {
  switch (web_next_event()) {
    case kNoEvent:
      return false;
    case kEscape:
      // Escape posts the quit request, which a later pass removes.
      web_post_quit();
      return true;
    case kQuit:
      *quit = true;
      return true;
    default:
      return true;
  }
}

// The browser shows what was drawn once control returns to it; the next
// frame starts with the display's next refresh.
void swap_buffers(WindowRecord&) {
  web_gl_flush();
  web_next_frame();
  // The page's size changed meanwhile: the next frame fills the canvas's
  // new backing store.
  int width = 0, height = 0;
  if (web_canvas_changed(&width, &height)) emscripten_glViewport(0, 0, width, height);
}

void set_caption(WindowRecord&, const char* text) { web_set_title(text); }

void paint_loading_screen(WindowRecord&, const LoadingScreen& screen) {
  loading_rect(screen.background);
  loading_rect(screen.trough);
  loading_rect(screen.bar);
  web_loading_text(screen.textX, screen.textY, screen.textHeight, screen.text, packed(screen.textColour));
  // Give the browser the chance to show it before the work goes on.
  web_loading_show();
}

std::uint32_t milliseconds() {
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(emscripten_get_now()));
}

void desktop_size(int* width, int* height) { web_screen_size(width, height); }

void* gl_proc_address(const char* name) {
  if (void* address = emscripten_webgl_get_proc_address(name)) return address;
  return reinterpret_cast<void*>(&unavailable_gl_entry_point);
}

}  // namespace platform

int main() { return vantor_main(); }
