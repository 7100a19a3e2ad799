// What the intro shows, built the one way the intro builds it, so that the
// intro and the tools that capture it see exactly the same picture.
#pragma once

#include <cstdint>

#include "scroller/palette.h"
#include "scroller/scroller.h"

// The generator seed the intro uses before it builds its content.
constexpr std::uint32_t kIntroSeed = 1;

struct IntroContent {
  xpalette* palette = nullptr;
  xscroller* scroller = nullptr;
};

// Builds the palette, then the scroller with the scroll text and the
// intro's parameters. The generator must already be seeded: the scroller's
// characters draw their start colours from it. Returns false, with nothing
// left allocated, when memory runs out.
bool createIntroContent(IntroContent& content);

// Releases what createIntroContent built (the intro itself keeps it).
void destroyIntroContent(IntroContent& content);
