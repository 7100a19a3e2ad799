// The portable backend: SDL2 in place of the Win32 window manager, WGL, GDI
// and the multimedia timer.
#define SDL_MAIN_HANDLED
#include <SDL.h>
#include <SDL_ttf.h>
#include <fontconfig/fontconfig.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "shell/gl.h"
#include "shell/main_loop.h"
#include "shell/title.h"
#include "shell/window_layout.h"
#include "sdl_rules.h"

namespace {

bool videoStarted = false;

// Every scalable font fontconfig knows, one candidate per family name.
std::vector<sdl_rules::FontCandidate> installed_fonts() {
  std::vector<sdl_rules::FontCandidate> fonts;
  FcConfig* config = FcInitLoadConfigAndFonts();
  if (!config) return fonts;
  FcPattern* pattern = FcPatternCreate();
  FcPatternAddBool(pattern, FC_OUTLINE, FcTrue);
  FcObjectSet* objects = FcObjectSetBuild(FC_FAMILY, FC_FILE, FC_INDEX, FC_WEIGHT, FC_SLANT, FC_WIDTH,
                                          FC_SPACING, static_cast<char*>(nullptr));
  FcFontSet* set = (pattern && objects) ? FcFontList(config, pattern, objects) : nullptr;
  for (int i = 0; set && i < set->nfont; ++i) {
    const FcPattern* font = set->fonts[i];
    FcChar8* file = nullptr;
    if (FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch) continue;
    sdl_rules::FontCandidate candidate;
    candidate.file = reinterpret_cast<const char*>(file);
    FcPatternGetInteger(font, FC_INDEX, 0, &candidate.index);
    FcPatternGetInteger(font, FC_WEIGHT, 0, &candidate.weight);
    FcPatternGetInteger(font, FC_SLANT, 0, &candidate.slant);
    FcPatternGetInteger(font, FC_WIDTH, 0, &candidate.width);
    int spacing = FC_PROPORTIONAL;
    FcPatternGetInteger(font, FC_SPACING, 0, &spacing);
    candidate.monospace = spacing == FC_MONO || spacing == FC_CHARCELL;
    FcChar8* family = nullptr;
    for (int n = 0; FcPatternGetString(font, FC_FAMILY, n, &family) == FcResultMatch; ++n) {
      candidate.family = reinterpret_cast<const char*>(family);
      fonts.push_back(candidate);
    }
  }
  if (set) FcFontSetDestroy(set);
  if (objects) FcObjectSetDestroy(objects);
  if (pattern) FcPatternDestroy(pattern);
  FcConfigDestroy(config);
  return fonts;
}

// A cell height of 44 pixels (ascent plus descent) is an em of about 39
// pixels for Arial-metric faces.
constexpr int kFontPointSize = 39;

// The face the Windows build names is Arial; here the nearest the desktop
// has, found as the desktop finds fonts.
TTF_Font* open_loading_font() {
  if (!TTF_WasInit() && TTF_Init() != 0) return nullptr;
  const std::vector<sdl_rules::FontCandidate> fonts = installed_fonts();
  const int chosen = sdl_rules::choose_loading_font(fonts);
  if (chosen < 0) {
    std::fprintf(stderr, "vantor: no sans serif font for the loading screen\n");
    return nullptr;
  }
  const sdl_rules::FontCandidate& font = fonts[static_cast<std::size_t>(chosen)];
  TTF_Font* opened = TTF_OpenFontIndex(font.file.c_str(), kFontPointSize, font.index);
  if (!opened) std::fprintf(stderr, "vantor: cannot open %s: %s\n", font.file.c_str(), TTF_GetError());
  return opened;
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

std::string executable_folder() {
  char* base = SDL_GetBasePath();
  if (!base) return {};
  std::string folder(base);
  SDL_free(base);
  return folder;
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
  // In the Windows build's order: background, text, trough, bar. The
  // rectangles are cleared through the scissor box, which must be off while
  // the text is drawn.
  glEnable(GL_SCISSOR_TEST);
  fill_rect(h, 0, 0, w, h, {0, 0, 0});
  outlined_rect(h, screen.background);
  glDisable(GL_SCISSOR_TEST);
  draw_text(w, h, screen);
  glEnable(GL_SCISSOR_TEST);
  outlined_rect(h, screen.trough);
  outlined_rect(h, screen.bar);
  glDisable(GL_SCISSOR_TEST);
  glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
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
