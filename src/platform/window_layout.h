// The window every backend opens: its name, its windowed size and where it
// goes on the screen.
#pragma once

// The window's class and caption, the question's caption, and the start of
// the running caption.
constexpr const char* kIntroName = "Vantor Filigree by Kestrel";

// The client area in a window; the loading screen and the start-up arguments
// of the intro have this size whatever the mode.
constexpr int kWindowedWidth = 840;
constexpr int kWindowedHeight = 525;

// Offset that centres an outer extent [low, high) on a screen extent. The
// shift is arithmetic, so an outer window larger than the screen gets a
// negative offset halved towards minus infinity.
constexpr int centre_offset(int screenExtent, int low, int high) {
  return (screenExtent + low - high) >> 1;
}
