// The portable backend: SDL2 in place of the Win32 window manager, WGL, GDI
// and the multimedia timer.
#define SDL_MAIN_HANDLED
#include <SDL.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/platform.h"
#include "platform/sdl/sdl_loading_screen.h"
#include "shell/gl.h"
#include "shell/main_loop.h"
#include "shell/title.h"
#include "shell/window_layout.h"
#include "sdl_rules.h"

namespace {

bool videoStarted = false;

SDL_Window* as_window(void* handle) { return static_cast<SDL_Window*>(handle); }

}  // namespace

namespace platform {

bool ask_fullscreen() {
  const SDL_MessageBoxButtonData buttons[] = {
      {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, 1, "Yes"},
      {0, 0, "No"},
  };
  SDL_MessageBoxData box{};
  box.flags = SDL_MESSAGEBOX_INFORMATION | SDL_MESSAGEBOX_BUTTONS_LEFT_TO_RIGHT;
  box.title = kIntroName;
  box.message = "fullscreen?";
  box.numbuttons = 2;
  box.buttons = buttons;
  // With the video subsystem up, SDL asks through the display's own message
  // box; without it, it first tries helper programs that may not exist.
  const bool video = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
  // Closing the box without an answer is an answer: not Yes. Only a box
  // that could not be shown at all is tried once more.
  int answer = -1;
  if (SDL_ShowMessageBox(&box, &answer) != 0) {
    std::fprintf(stderr, "vantor: cannot ask \"fullscreen?\" (%s); trying once more\n", SDL_GetError());
    if (SDL_ShowMessageBox(&box, &answer) != 0) answer = -1;
  }
  if (video) SDL_QuitSubSystem(SDL_INIT_VIDEO);
  // No answer, or no way to ask: run in a window, the safer of the two.
  return answer == 1;
}

void show_failure_message(const char* text) {
  std::fprintf(stderr, "%s\n", text);
  SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_WARNING, "Error", text, nullptr);
}

void* module_instance() { return nullptr; }

bool executable_folder(char* folder, std::size_t capacity) {
  if (capacity > 0) folder[0] = '\0';
  char* base = SDL_GetBasePath();  // ends with the separator
  if (!base) return false;
  const std::size_t size = std::strlen(base);
  const bool fits = size > 0 && size < capacity;
  if (fits) std::memcpy(folder, base, size + 1);
  SDL_free(base);
  return fits;
}

int open_window(WindowRecord& record) {
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    std::fprintf(stderr, "vantor: %s\n", SDL_GetError());
    return 0;
  }
  videoStarted = true;
  SDL_DisableScreenSaver();

  SDL_DisplayMode desktop{};
  if (SDL_GetDesktopDisplayMode(0, &desktop) != 0) return 0;

  int width = kWindowedWidth, height = kWindowedHeight;
  Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN;
  int x = centre_offset(desktop.w, 0, width), y = centre_offset(desktop.h, 0, height);
  if (record.fullScreen) {
    width = desktop.w;
    height = desktop.h;
    x = y = 0;
    flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
    SDL_ShowCursor(SDL_DISABLE);
  }

  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
  SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
  // A 32-bit depth buffer where the driver offers one, else 24 bits.
  for (int depth : {32, 24}) {
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, depth);
    SDL_Window* window = SDL_CreateWindow(kIntroName, x, y, width, height, flags);
    if (!window) continue;
    SDL_GLContext context = SDL_GL_CreateContext(window);
    if (!context) {
      SDL_DestroyWindow(window);
      continue;
    }
    record.window = window;
    record.deviceContext = window;
    record.renderContext = context;
    return SDL_GL_MakeCurrent(window, context) == 0 ? 1 : 0;
  }
  std::fprintf(stderr, "vantor: %s\n", SDL_GetError());
  return 0;
}

void close_window(WindowRecord& record) {
  if (record.renderContext) {
    SDL_GL_MakeCurrent(as_window(record.window), nullptr);
    SDL_GL_DeleteContext(record.renderContext);
  }
  if (record.window) SDL_DestroyWindow(as_window(record.window));
  if (record.fullScreen) SDL_ShowCursor(SDL_ENABLE);
  if (videoStarted) {
    SDL_EnableScreenSaver();
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    videoStarted = false;
  }
}

bool pump_one_message(bool* quit) {
  SDL_Event event;
  if (!SDL_PollEvent(&event)) return false;
  switch (event.type) {
    case SDL_QUIT:
      *quit = true;
      break;
    case SDL_KEYDOWN:
      // Escape posts the quit request, which a later pass removes.
      if (event.key.keysym.sym == SDLK_ESCAPE) {
        SDL_Event request{};
        request.type = SDL_QUIT;
        SDL_PushEvent(&request);
      }
      break;
    default:
      break;
  }
  return true;
}

void swap_buffers(WindowRecord& record) { SDL_GL_SwapWindow(as_window(record.deviceContext)); }

void set_caption(WindowRecord& record, const char* text) {
  SDL_SetWindowTitle(as_window(record.window), text);
}

void paint_loading_screen(WindowRecord& record, const LoadingScreen& screen) {
  int w = 0, h = 0;
  SDL_GL_GetDrawableSize(as_window(record.window), &w, &h);
  if (w <= 0 || h <= 0) return;
  draw_loading_screen_gl(w, h, screen);
  SDL_GL_SwapWindow(as_window(record.window));
}

std::uint32_t milliseconds() { return SDL_GetTicks(); }

void desktop_size(int* width, int* height) {
  SDL_DisplayMode mode{};
  if (SDL_GetDesktopDisplayMode(0, &mode) != 0) {
    *width = *height = 0;
    return;
  }
  *width = mode.w;
  *height = mode.h;
}

void* gl_proc_address(const char* name) {
  // Under GLX every name gets an address, offered or not: the context's own
  // version and extension strings say whether the driver has the function.
  const auto* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
  const auto* extensions = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
  if (!sdl_rules::gl_entry_point_offered(name, version, extensions)) return nullptr;
  return SDL_GL_GetProcAddress(name);
}

}  // namespace platform

int main(int, char**) {
  SDL_SetMainReady();
  return vantor_main();
}
