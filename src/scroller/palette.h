// The rainbow: one walk around the hue circle at full saturation and
// brightness, in steps of about a ten-thousandth of a degree.
#pragma once

#include <cstdint>

#include "font/col.h"

// Hue in degrees, saturation and value in 0..1; every intermediate is kept
// in single precision so the table comes out the same on every platform.
void hsvToRgb(float h, float s, float v, float& r, float& g, float& b);

class xpalette {
 public:
  // Builds the whole table (3,623,422 entries). If its memory cannot be had
  // the palette is left empty and ok() is false.
  xpalette();
  ~xpalette();
  xpalette(const xpalette&) = delete;
  xpalette& operator=(const xpalette&) = delete;

  bool ok() const { return count > 1; }
  std::uint32_t size() const { return count; }
  const col* entries() const { return cols; }

  // The entry at index mod (size - 1): the last entry is never returned and
  // an index of size - 1 wraps to entry 0. Black for an empty palette.
  col getCol(std::uint32_t index) const;

  // The next value of the generator reduced modulo size - 1; with a 15-bit
  // generator that is always one of the first 32,768 (reddish) entries.
  std::uint32_t randomIndex();

 private:
  col* cols = nullptr;
  std::uint32_t count = 0;
};
