// The loading screen's layout, apart from its painting: the headless capture
// draws the same screen without a platform backend.
#include "shell/loading_screen.h"

#include "platform/window_layout.h"

// The bar's right edge in 256ths of the window's width.
int loading_bar_right(int value) { return ((value + 28) * kWindowedWidth) >> 8; }

platform::LoadingScreen loading_screen_layout(int value) {
  platform::LoadingScreen s{};
  s.background = {0, 0, kWindowedWidth, kWindowedHeight, {44, 48, 69}};
  s.trough = {91, 402, 748, 410, {48, 80, 112}};
  s.bar = {91, 402, loading_bar_right(value), 410, {176, 208, 240}};
  s.textX = 261;
  s.textY = 243;
  s.textHeight = 44;
  s.text = "wait while loading...";
  s.textColour = {255, 255, 255};
  return s;
}
