// A seam through which tests and tools see every cube the scroller places,
// with or without drawing it through OpenGL. The intro installs none.
#pragma once

#include "font/col.h"

class xscrollerChar;

struct CubeRecord {
  const xscrollerChar* source;  // the character that placed the cube
  int column;                   // glyph cell of the cube
  int row;
  float x, y, z;                // model-view translation passed for the cube
  col colour;                   // its palette colour
};

struct CubeRecorder {
  void* context;
  void (*record)(void* context, const CubeRecord& cube);
  // Also draw through OpenGL. When false no OpenGL call is made at all, so
  // the scroller can run without a context.
  bool draw;
};

// Installs a recorder for every scroller; null (the default) only draws.
// The recorder must outlive its installation.
void setCubeRecorder(const CubeRecorder* recorder);
const CubeRecorder* cubeRecorder();
