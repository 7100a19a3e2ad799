// An off-screen OpenGL context with a colour and depth buffer, through EGL
// without any display server (Mesa's surfaceless platform). It is a
// compatibility context, so the intro's immediate-mode drawing works.
#pragma once

#include <string>

#include "png_file.h"

class HeadlessGl {
 public:
  HeadlessGl() = default;
  ~HeadlessGl();
  HeadlessGl(const HeadlessGl&) = delete;
  HeadlessGl& operator=(const HeadlessGl&) = delete;

  // Creates the context and makes it current. On failure returns false and
  // says why in *error.
  bool open(int width, int height, std::string* error);
  void close();

  // Waits for drawing to finish and reads the frame, top row first.
  RgbImage read() const;

  // Waits for drawing to finish and reads the frame as it lies in OpenGL:
  // rows bottom up, 4 bytes a pixel in the order B, G, R, A. `out` holds
  // width x height x 4 bytes. The fastest read: no reordering on the way.
  void readBgra(std::uint8_t* out) const;

 private:
  void* display = nullptr;
  void* surface = nullptr;
  void* context = nullptr;
  int width = 0;
  int height = 0;
};
