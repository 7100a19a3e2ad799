// The loading screen drawn with OpenGL into the current context, GDI-like:
// outlined rectangles and anti-aliased text through SDL_ttf. Shared by the
// SDL backend and the headless capture, so both show the same screen; the
// backend's question drawn in a window of its own uses the same pieces.
#pragma once

#include <SDL_ttf.h>

#include "platform/platform.h"

// Draws `screen` into a drawable of w x h pixels (its top-left corner at the
// screen's origin, the rest black). Does not present it.
void draw_loading_screen_gl(int w, int h, const platform::LoadingScreen& screen);

// Arial at `points`, or the installed face nearest to it; null (said on
// standard error) when there is none.
TTF_Font* open_sans_font(int points);

// Fills the rectangle [left, right) x [top, bottom), given top-down in the
// pixels of a drawable `windowHeight` high, through the scissor box, which
// the caller enables.
void fill_rect_gl(int windowHeight, int left, int top, int right, int bottom, platform::Rgb colour);

// Draws one line of UTF-8 text with its top-left corner at (x, y), blended
// onto what is there; the scissor test must be off.
void draw_text_gl(TTF_Font* font, int windowWidth, int windowHeight, int x, int y, const char* line,
                  platform::Rgb colour);
