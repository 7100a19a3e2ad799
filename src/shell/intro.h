// The intro's lifecycle: build the content, draw frames, stop the music.
#pragma once

#include <cstdint>

struct ProgressCallback {
  void* context;
  void (*report)(void* context, int value);  // value from 0 to 200
};

// Builds everything the intro shows and plays and sets the fixed OpenGL
// state and projection. Width, height and flag are accepted but not read.
// Returns 1 on success, 0 when the content could not be built.
int intro_init(int width, int height, int flag, const ProgressCallback* progress);

// Draws one frame into the back buffer. Returns non-zero to end the loop.
int intro_frame();

// Stops and releases the music.
void intro_shutdown();

// Horizontal stretch of the projection for a desktop size.
float aspect_factor(int desktopWidth, int desktopHeight);

// Milliseconds to seconds: the single-precision factor 0.001 applied in
// double precision, then narrowed.
float milliseconds_to_seconds(double milliseconds);
