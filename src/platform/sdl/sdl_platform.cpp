// The portable backend: SDL2 in place of the Win32 window manager, WGL, GDI
// and the multimedia timer.
//
// Implements:
// - the question and the failure message as SDL message boxes, which
//   SIGINT and SIGTERM end at once; without a display (SDL fell back to a
//   driver that shows nothing) one line on standard error and a failed start;
// - executable_folder from SDL's base path;
// - the window with an OpenGL context, full screen as a desktop-sized
//   window (the display mode is never changed), Escape and close as the quit
//   event, the screen saver held off;
// - the loading screen drawn with OpenGL and the system's Arial or a face
//   with its metrics, through fontconfig (sdl_loading_screen.cpp);
// - milliseconds from SDL's ticks, the desktop from display 0, entry points
//   checked against the context's version and extensions (sdl_rules.cpp);
// - the wave device over SDL audio (sdl_wave.cpp), threads from the standard
//   library (../std_thread.cpp).
// Leaves out: module_instance (null: there is no module handle), and
// wave_heard answers false, as SDL plays the buffer.
#define SDL_MAIN_HANDLED
#include <SDL.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#if defined(__linux__)
#include <pthread.h>
#include <sys/prctl.h>
#include <unistd.h>
#endif

#include "platform/gl.h"
#include "platform/platform.h"
#include "platform/sdl/sdl_loading_screen.h"
#include "platform/window_layout.h"
#include "shell/main_loop.h"
#include "sdl_rules.h"

namespace {

bool videoStarted = false;

SDL_Window* as_window(void* handle) { return static_cast<SDL_Window*>(handle); }

// Set once SDL has fallen back to a video driver that shows nothing, for
// want of a display.
bool displayMissing = false;

// Whether there is no display; says so on standard error the first time.
bool no_display() {
  if (!displayMissing && sdl_rules::display_missing(SDL_GetCurrentVideoDriver(), std::getenv("SDL_VIDEODRIVER"))) {
    displayMissing = true;
    std::fprintf(stderr, "%s\n",
                 sdl_rules::no_display_line(std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY")).c_str());
  }
  return displayMissing;
}

#if defined(__linux__)
// SDL shows a message box from a child process (X11) or a helper program
// (zenity), and waits for it in a loop that no signal breaks. The child ties
// itself to the parent, so that it goes when the parent goes.
bool boxShowing = false;
pid_t boxParent = 0;

void tie_box_to_parent() {
  if (!boxShowing) return;
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != boxParent) _exit(1);  // the parent was gone before the tie
}

// Sets `signal` to its default action, unless it is ignored (a background
// job's SIGINT): then it stays ignored.
void default_action(int signal, struct sigaction* previous) {
  sigaction(signal, nullptr, previous);
  if (previous->sa_handler == SIG_IGN) return;
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
}
#endif

// A message box that Ctrl-C and SIGTERM end at once. With the video
// subsystem up, SDL turns both into a quit event, which nobody reads while
// the box waits for its answer; here they take their default action (the
// process ends by the signal, the shell reports 130 or 143), and the box's
// process goes with it. No box is up while the display mode is changed.
int show_box(const SDL_MessageBoxData& box, int* answer) {
#if defined(__linux__)
  static const bool tied = pthread_atfork(nullptr, nullptr, tie_box_to_parent) == 0;
  struct sigaction previousInt {}, previousTerm {};
  default_action(SIGINT, &previousInt);
  default_action(SIGTERM, &previousTerm);
  boxParent = getpid();
  boxShowing = tied;
  const int result = SDL_ShowMessageBox(&box, answer);
  boxShowing = false;
  sigaction(SIGINT, &previousInt, nullptr);
  sigaction(SIGTERM, &previousTerm, nullptr);
  return result;
#else
  return SDL_ShowMessageBox(&box, answer);
#endif
}

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
  // Without a display there is nobody to ask: open_window says so and the
  // start fails.
  if (video && no_display()) {
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return false;
  }
  // Closing the box without an answer is an answer: not Yes. Only a box
  // that could not be shown at all is tried once more.
  int answer = -1;
  if (show_box(box, &answer) != 0) {
    std::fprintf(stderr, "vantor: cannot ask \"fullscreen?\" (%s); trying once more\n", SDL_GetError());
    if (show_box(box, &answer) != 0) answer = -1;
  }
  if (video) SDL_QuitSubSystem(SDL_INIT_VIDEO);
  // No answer, or no way to ask: run in a window, the safer of the two.
  return answer == 1;
}

void show_failure_message(const char* text) {
  std::fprintf(stderr, "%s\n", text);
  // With no display, standard error is the only place to say it.
  if (displayMissing) return;
  const SDL_MessageBoxButtonData ok = {
      SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, 0, "OK"};
  SDL_MessageBoxData box{};
  box.flags = SDL_MESSAGEBOX_WARNING;
  box.title = "Error";
  box.message = text;
  box.numbuttons = 1;
  box.buttons = &ok;
  int answer = 0;
  show_box(box, &answer);
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
  if (no_display()) return 0;
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
