// The loading screen drawn with OpenGL into the current context, GDI-like:
// outlined rectangles and anti-aliased text through SDL_ttf. Shared by the
// SDL backend and the headless capture, so both show the same screen.
#pragma once

#include "platform/platform.h"

// Draws `screen` into a drawable of w x h pixels (its top-left corner at the
// screen's origin, the rest black). Does not present it.
void draw_loading_screen_gl(int w, int h, const platform::LoadingScreen& screen);
