// Minimal PNG files: 8-bit RGB, written with stored (uncompressed) deflate
// blocks, and read back only in that same form.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;  // rows top to bottom, 3 bytes a pixel
};

// Returns false if the file cannot be written.
bool writePng(const std::string& path, const RgbImage& image);

// Reads a PNG as written by writePng (RGB, 8 bits, no interlace, stored
// deflate blocks, filter type 0 on every row). Returns false for anything
// else, including truncated or corrupt files.
bool readPng(const std::string& path, RgbImage& image);

std::uint32_t crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0);
std::uint32_t adler32(const std::uint8_t* data, std::size_t size, std::uint32_t adler = 1);
