// The portable backend: SDL2 in place of the Win32 window manager, WGL, GDI
// and the multimedia timer.
#define SDL_MAIN_HANDLED
#include <SDL.h>
#include <SDL_ttf.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/platform.h"
#include "shell/gl.h"
#include "shell/main_loop.h"
#include "shell/title.h"
#include "shell/window_layout.h"

namespace {

bool videoStarted = false;

// Fonts with Arial's metrics, in the places Debian-like systems keep them.
const char* const kFontPaths[] = {
    "/usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf",
    "/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf",
    "/usr/share/fonts/liberation/LiberationSans-Regular.ttf",
    "/usr/share/fonts/liberation-sans/LiberationSans-Regular.ttf",
    "/usr/share/fonts/truetype/msttcorefonts/Arial.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
};

// A cell height of 44 pixels (ascent plus descent) is an em of about 39
// pixels for Arial-metric faces.
constexpr int kFontPointSize = 39;

TTF_Font* open_loading_font() {
  if (!TTF_WasInit() && TTF_Init() != 0) return nullptr;
  for (const char* path : kFontPaths) {
    if (TTF_Font* font = TTF_OpenFont(path, kFontPointSize)) return font;
  }
  return nullptr;
}

// Rectangles of the loading screen are given top-down in window pixels;
// OpenGL's window coordinates run bottom-up.
void fill_rect(int windowHeight, int left, int top, int right, int bottom, platform::Rgb c) {
  if (right <= left || bottom <= top) return;
  glScissor(left, windowHeight - bottom, right - left, bottom - top);
  glClearColor(c.r / 255.0f, c.g / 255.0f, c.b / 255.0f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
}

// Like a GDI Rectangle: a black one-pixel outline around the brush colour.
void outlined_rect(int windowHeight, const platform::LoadingRect& r) {
  fill_rect(windowHeight, r.left, r.top, r.right, r.bottom, {0, 0, 0});
  fill_rect(windowHeight, r.left + 1, r.top + 1, r.right - 1, r.bottom - 1, r.fill);
}

void draw_text(int windowWidth, int windowHeight, const platform::LoadingScreen& s) {
  static TTF_Font* font = open_loading_font();
  if (!font) return;  // no font: the rest of the screen is still drawn
  const SDL_Colour white{s.textColour.r, s.textColour.g, s.textColour.b, 255};
  SDL_Surface* text = TTF_RenderText_Blended(font, s.text, white);
  if (!text) return;
  SDL_Surface* rgba = SDL_ConvertSurfaceFormat(text, SDL_PIXELFORMAT_ABGR8888, 0);
  SDL_FreeSurface(text);
  if (!rgba) return;

  // Identity matrices map the raster position straight to the viewport,
  // which is the whole window; the matrices are restored afterwards.
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();
  glRasterPos2f(2.0f * s.textX / windowWidth - 1.0f, 1.0f - 2.0f * s.textY / windowHeight);
  glPixelZoom(1.0f, -1.0f);  // surfaces run top-down
  glPixelStorei(GL_UNPACK_ROW_LENGTH, rgba->pitch / 4);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  SDL_LockSurface(rgba);
  glDrawPixels(rgba->w, rgba->h, GL_RGBA, GL_UNSIGNED_BYTE, rgba->pixels);
  SDL_UnlockSurface(rgba);
  glDisable(GL_BLEND);
  glBlendFunc(GL_ONE, GL_ZERO);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  glPixelZoom(1.0f, 1.0f);
  glPopMatrix();
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
  SDL_FreeSurface(rgba);
}

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
  int answer = -1;
  for (int attempt = 0; attempt < 2 && answer < 0; ++attempt) {
    if (SDL_ShowMessageBox(&box, &answer) != 0) {
      std::fprintf(stderr, "vantor: cannot ask \"fullscreen?\": %s\n", SDL_GetError());
      answer = -1;
    }
  }
  if (video) SDL_QuitSubSystem(SDL_INIT_VIDEO);
  // No way to ask: run in a window, the safer of the two answers.
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
  glEnable(GL_SCISSOR_TEST);
  fill_rect(h, 0, 0, w, h, {0, 0, 0});
  outlined_rect(h, screen.background);
  outlined_rect(h, screen.trough);
  outlined_rect(h, screen.bar);
  glDisable(GL_SCISSOR_TEST);
  glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
  draw_text(w, h, screen);
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

void* gl_proc_address(const char* name) { return SDL_GL_GetProcAddress(name); }

}  // namespace platform

int main(int, char**) {
  SDL_SetMainReady();
  return vantor_main();
}
