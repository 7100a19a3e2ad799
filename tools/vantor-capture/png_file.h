// PNG files of 8-bit RGB pictures, through libpng: compressed as every image
// tool writes them, read back from any PNG that holds such a picture.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;  // rows top to bottom, 3 bytes a pixel
};

// Writes the picture as an 8-bit RGB PNG, safely: as a new file that takes
// the name when complete (see output_file.h; force replaces a read-only
// file). False, with the reason in *reason when given, if the picture is
// malformed or the file cannot be written.
bool writePng(const std::string& path, const RgbImage& image, std::string* reason = nullptr, bool force = false);

// Reads a PNG into 8-bit RGB. False for anything that is not a complete,
// intact PNG (a checksum that does not match, a file cut short).
bool readPng(const std::string& path, RgbImage& image);
