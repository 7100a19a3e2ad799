// The portable backend: SDL2 in place of the Win32 window manager, WGL, GDI
// and the multimedia timer.
//
// Implements:
// - the question and the failure message as SDL message boxes, which
//   SIGINT and SIGTERM end at once; under Wayland, where SDL's box needs
//   zenity, in a small window of the intro's own (sdl_prompt.cpp); without
//   a display (SDL fell back to a driver that shows nothing, or the only
//   one is a Wayland compositor without a seat, which SDL cannot start on)
//   one line on standard error and a failed start;
// - executable_folder from SDL's base path; the log file through POSIX
//   calls that neither follow a link nor wait on a pipe (../posix_log_file.cpp);
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
#if defined(VANTOR_WAYLAND_PROBE)
#include <wayland-client.h>
#endif

#include "platform/gl.h"
#include "platform/platform.h"
#include "platform/sdl/sdl_loading_screen.h"
#include "platform/window_layout.h"
#include "sdl_prompt.h"
#include "sdl_rules.h"
#include "shell/main_loop.h"

namespace {

bool videoStarted = false;

SDL_Window* as_window(void* handle) { return static_cast<SDL_Window*>(handle); }

// Set once SDL has fallen back to a video driver that shows nothing, for
// want of a display.
bool displayMissing = false;

// Set when the Wayland compositor SDL would try offers no seat: no keyboard
// and no pointer (a headless compositor). SDL 2.26's Wayland driver writes
// through a null pointer while starting on one, so it is not tried there.
bool waylandSeatless = false;
// Set when, with Wayland left out, no driver is left to try.
bool noDriverLeft = false;

// Whether the last video start was on Wayland, which asks in a window of
// its own.
bool onWayland = false;

#if defined(VANTOR_WAYLAND_PROBE)
// Whether a Wayland compositor answers at the display SDL would use and
// lists no seat among its globals.
bool wayland_without_seat() {
  // A socket handed over by a parent is taken by the first connection and
  // would not be there for SDL's.
  if (std::getenv("WAYLAND_SOCKET")) return false;
  wl_display* display = wl_display_connect(nullptr);
  if (!display) return false;
  bool seat = false;
  static const wl_registry_listener listener = {
      [](void* found, wl_registry*, std::uint32_t, const char* interface, std::uint32_t) {
        if (std::strcmp(interface, "wl_seat") == 0) *static_cast<bool*>(found) = true;
      },
      [](void*, wl_registry*, std::uint32_t) {},
  };
  wl_registry* registry = wl_display_get_registry(display);
  bool answered = false;
  if (registry) {
    wl_registry_add_listener(registry, &listener, &seat);
    answered = wl_display_roundtrip(display) >= 0;
    wl_registry_destroy(registry);
  }
  wl_display_disconnect(display);
  return answered && !seat;
}
#else
bool wayland_without_seat() { return false; }
#endif

// Starts SDL's video subsystem, first leaving a Wayland compositor without
// a seat out of the drivers SDL may try.
bool start_video() {
  static bool probed = false;
  if (!probed) {
    probed = true;
    const char* requested = SDL_GetHint(SDL_HINT_VIDEODRIVER);
    if (sdl_rules::may_try_wayland(requested) && wayland_without_seat()) {
      waylandSeatless = true;
      const std::string others = sdl_rules::drivers_without_wayland(requested);
      noDriverLeft = others.empty();
      if (!noDriverLeft) SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, others.c_str(), SDL_HINT_OVERRIDE);
    }
  }
  if (noDriverLeft) return false;
  const bool started = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
  onWayland = started && std::strcmp(SDL_GetCurrentVideoDriver(), "wayland") == 0;
  return started;
}

// Whether there is no display, after start_video gave `started`; says so
// on standard error the first time.
bool no_display(bool started) {
  if (displayMissing) return true;
  displayMissing = started ? sdl_rules::display_missing(SDL_GetCurrentVideoDriver(), std::getenv("SDL_VIDEODRIVER"))
                           : waylandSeatless;
  if (displayMissing) {
    std::fprintf(stderr, "%s\n",
                 sdl_rules::no_display_line(std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"), waylandSeatless)
                     .c_str());
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

// While a question is up, Ctrl-C and SIGTERM end the process at once. With
// the video subsystem up, SDL turns both into a quit event, which nobody
// reads while a box waits for its answer; here they take their default
// action (the process ends by the signal, the shell reports 130 or 143),
// and a box's process goes with it. No question is up while the display
// mode is changed.
class SignalsEndTheProcess {
 public:
  SignalsEndTheProcess() {
#if defined(__linux__)
    default_action(SIGINT, &previousInt_);
    default_action(SIGTERM, &previousTerm_);
#endif
  }
  ~SignalsEndTheProcess() {
#if defined(__linux__)
    sigaction(SIGINT, &previousInt_, nullptr);
    sigaction(SIGTERM, &previousTerm_, nullptr);
#endif
  }
  SignalsEndTheProcess(const SignalsEndTheProcess&) = delete;
  SignalsEndTheProcess& operator=(const SignalsEndTheProcess&) = delete;

 private:
#if defined(__linux__)
  struct sigaction previousInt_ {}, previousTerm_ {};
#endif
};

int show_box(const SDL_MessageBoxData& box, int* answer) {
  const SignalsEndTheProcess signals;
#if defined(__linux__)
  static const bool tied = pthread_atfork(nullptr, nullptr, tie_box_to_parent) == 0;
  boxParent = getpid();
  boxShowing = tied;
  const int result = SDL_ShowMessageBox(&box, answer);
  boxShowing = false;
  return result;
#else
  return SDL_ShowMessageBox(&box, answer);
#endif
}

int ask_in_own_window(const char* title, const char* text, const std::vector<PromptButton>& buttons) {
  const SignalsEndTheProcess signals;
  return ask_in_window(title, text, buttons);
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
  const bool video = start_video();
  // Without a display there is nobody to ask: open_window says so and the
  // start fails.
  if (no_display(video)) {
    if (video) SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return false;
  }
  // Closing the box without an answer is an answer: not Yes. Only a box
  // that could not be shown at all is tried once more.
  int answer = -1;
  if (onWayland) {
    // Return answers Yes, as in SDL's box; Escape closes it unanswered.
    answer = ask_in_own_window(kIntroName, "fullscreen?", {{1, "Yes", true, false}, {0, "No", false, false}});
    if (answer == kPromptNoWindow) std::fprintf(stderr, "vantor: cannot ask \"fullscreen?\"\n");
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return answer == 1;
  }
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
  if (onWayland) {
    // In a window of its own, as the question was; without one (no OpenGL
    // there either) standard error has said it.
    if (start_video()) {
      if (onWayland) ask_in_own_window("Error", text, {{0, "OK", true, true}});
      SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }
    return;
  }
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
  if (!start_video()) {
    if (!no_display(false)) std::fprintf(stderr, "vantor: %s\n", SDL_GetError());
    return 0;
  }
  videoStarted = true;
  if (no_display(true)) return 0;
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
