// Drives the intro's picture frame by frame outside the intro: the same
// seed, text and construction order, the same per-frame drawing.
#pragma once

#include <cstddef>
#include <unordered_map>
#include <vector>

#include "platform/window_layout.h"
#include "scroller/cube_recorder.h"
#include "scroller/intro_content.h"

// The intro's window.
constexpr int kCaptureWidth = kWindowedWidth;
constexpr int kCaptureHeight = kWindowedHeight;

class HeadlessGl;
class IntroCapture;

// The set-up every capture shares: opens the headless context of
// width x height (when gl is given) and builds the picture. Returns 0, or
// after an error line the exit status.
int startCapture(HeadlessGl* gl, IntroCapture& capture, int width, int height);

class IntroCapture {
 public:
  IntroCapture() = default;
  ~IntroCapture();
  IntroCapture(const IntroCapture&) = delete;
  IntroCapture& operator=(const IntroCapture&) = delete;

  // Seeds the generator and builds palette and scroller as intro_init does.
  // Returns false when memory runs out.
  bool build();

  // The intro's fixed OpenGL state and projection for a desktop size; needs
  // a current context.
  static void setView(int desktopWidth, int desktopHeight);

  // Runs the next frame. With drawGl it clears and draws into the current
  // context as intro_frame does; without, the animation only advances and
  // no OpenGL call is made. Cubes placed are appended to *cubes if given.
  void frame(bool drawGl, std::vector<CubeRecord>* cubes = nullptr);

  // Index of the next frame to run, from 0.
  int frameIndex() const { return next; }

  // Position in the scroll text of the character that placed a cube.
  std::size_t charIndex(const xscrollerChar* c) const { return index.at(c); }

  const IntroContent& content() const { return built; }

 private:
  IntroContent built;
  std::unordered_map<const xscrollerChar*, std::size_t> index;
  int next = 0;
};
