#include "platform/sdl/sdl_loading_screen.h"

#include <SDL.h>
#include <SDL_ttf.h>
#include <fontconfig/fontconfig.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/gl.h"
#include "platform/sdl/sdl_rules.h"

namespace {

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

// Like a GDI Rectangle: a black one-pixel outline around the brush colour.
void outlined_rect(int windowHeight, const platform::LoadingRect& r) {
  fill_rect_gl(windowHeight, r.left, r.top, r.right, r.bottom, {0, 0, 0});
  fill_rect_gl(windowHeight, r.left + 1, r.top + 1, r.right - 1, r.bottom - 1, r.fill);
}

void draw_text(int windowWidth, int windowHeight, const platform::LoadingScreen& s) {
  static TTF_Font* font = open_sans_font(kFontPointSize);
  if (!font) return;  // no font: the rest of the screen is still drawn
  draw_text_gl(font, windowWidth, windowHeight, s.textX, s.textY, s.text, s.textColour);
}

}  // namespace

// The face the Windows build names is Arial; here the nearest the desktop
// has, found as the desktop finds fonts.
TTF_Font* open_sans_font(int points) {
  if (!TTF_WasInit() && TTF_Init() != 0) return nullptr;
  const std::vector<sdl_rules::FontCandidate> fonts = installed_fonts();
  const int chosen = sdl_rules::choose_loading_font(fonts);
  if (chosen < 0) {
    std::fprintf(stderr, "vantor: no sans serif font to draw text with\n");
    return nullptr;
  }
  const sdl_rules::FontCandidate& font = fonts[static_cast<std::size_t>(chosen)];
  TTF_Font* opened = TTF_OpenFontIndex(font.file.c_str(), points, font.index);
  if (!opened) std::fprintf(stderr, "vantor: cannot open %s: %s\n", font.file.c_str(), TTF_GetError());
  return opened;
}

// Rectangles are given top-down in window pixels; OpenGL's window
// coordinates run bottom-up.
void fill_rect_gl(int windowHeight, int left, int top, int right, int bottom, platform::Rgb c) {
  if (right <= left || bottom <= top) return;
  glScissor(left, windowHeight - bottom, right - left, bottom - top);
  glClearColor(c.r / 255.0f, c.g / 255.0f, c.b / 255.0f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
}

void draw_text_gl(TTF_Font* font, int windowWidth, int windowHeight, int x, int y, const char* line,
                  platform::Rgb colour) {
  const SDL_Colour ink{colour.r, colour.g, colour.b, 255};
  SDL_Surface* text = TTF_RenderUTF8_Blended(font, line, ink);
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
  glRasterPos2f(2.0f * x / windowWidth - 1.0f, 1.0f - 2.0f * y / windowHeight);
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

void draw_loading_screen_gl(int w, int h, const platform::LoadingScreen& screen) {
  // In the Windows build's order: background, text, trough, bar. The
  // rectangles are cleared through the scissor box, which must be off while
  // the text is drawn.
  glEnable(GL_SCISSOR_TEST);
  fill_rect_gl(h, 0, 0, w, h, {0, 0, 0});
  outlined_rect(h, screen.background);
  glDisable(GL_SCISSOR_TEST);
  draw_text(w, h, screen);
  glEnable(GL_SCISSOR_TEST);
  outlined_rect(h, screen.trough);
  outlined_rect(h, screen.bar);
  glDisable(GL_SCISSOR_TEST);
  glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
}
