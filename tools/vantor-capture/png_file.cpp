#include "png_file.h"

#include <png.h>

#include <cerrno>
#include <cstdio>

#include "output_file.h"
#include "tool_cli.h"

bool writePng(const std::string& path, const RgbImage& image, std::string* reason, bool force) {
  std::string why;
  if (reason == nullptr) reason = &why;
  if (image.width <= 0 || image.height <= 0 ||
      image.pixels.size() != static_cast<std::size_t>(image.width) * image.height * 3) {
    *reason = "the picture's size does not match its pixels";
    return false;
  }
  OutputFile out;
  if (!out.open(path, {}, reason, force)) return false;
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(image.width);
  png.height = static_cast<png_uint_32>(image.height);
  png.format = PNG_FORMAT_RGB;
  errno = 0;
  if (!png_image_write_to_stdio(&png, out.file(), 0, image.pixels.data(), 0, nullptr)) {
    const int error = errno;
    *reason = error != 0 ? "cannot write: " + cli::os_reason(error) : std::string("cannot write: ") + png.message;
    png_image_free(&png);
    return false;
  }
  return out.commit(reason);
}

bool readPng(const std::string& path, RgbImage& image) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&png, path.c_str())) return false;
  png.format = PNG_FORMAT_RGB;
  std::vector<std::uint8_t> pixels(PNG_IMAGE_SIZE(png));
  if (!png_image_finish_read(&png, nullptr, pixels.data(), 0, nullptr)) {
    png_image_free(&png);
    return false;
  }
  image.width = static_cast<int>(png.width);
  image.height = static_cast<int>(png.height);
  image.pixels = std::move(pixels);
  return true;
}
