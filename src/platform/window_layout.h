// Window placement arithmetic shared by the backends.
#pragma once

// Offset that centres an outer extent [low, high) on a screen extent. The
// shift is arithmetic, so an outer window larger than the screen gets a
// negative offset halved towards minus infinity.
constexpr int centre_offset(int screenExtent, int low, int high) {
  return (screenExtent + low - high) >> 1;
}

constexpr int kWindowedWidth = 840;
constexpr int kWindowedHeight = 525;
