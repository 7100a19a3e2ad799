#include "platform/sdl/sdl_loading_screen.h"

#include <SDL.h>
#include <SDL_ttf.h>

#include "shell/gl.h"

namespace {

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

}  // namespace

void draw_loading_screen_gl(int w, int h, const platform::LoadingScreen& screen) {
  glEnable(GL_SCISSOR_TEST);
  fill_rect(h, 0, 0, w, h, {0, 0, 0});
  outlined_rect(h, screen.background);
  outlined_rect(h, screen.trough);
  outlined_rect(h, screen.bar);
  glDisable(GL_SCISSOR_TEST);
  glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
  draw_text(w, h, screen);
}
