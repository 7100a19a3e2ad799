#include <gtest/gtest.h>
#include "../common/scratch_folder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "capture.h"
#include "headless_gl.h"
#include "png_file.h"

namespace {

constexpr int kShrink = 4;

// Box-filters a frame by kShrink in both directions: the reference images
// stay small, and one-pixel differences between renderer versions blur out.
RgbImage shrink(const RgbImage& in) {
  RgbImage out;
  out.width = in.width / kShrink;
  out.height = in.height / kShrink;
  out.pixels.resize(static_cast<std::size_t>(out.width) * out.height * 3);
  for (int y = 0; y < out.height; ++y) {
    for (int x = 0; x < out.width; ++x) {
      for (int ch = 0; ch < 3; ++ch) {
        int sum = 0;
        for (int dy = 0; dy < kShrink; ++dy) {
          for (int dx = 0; dx < kShrink; ++dx) {
            sum += in.pixels[((static_cast<std::size_t>(y) * kShrink + dy) * in.width + x * kShrink + dx) * 3 + ch];
          }
        }
        out.pixels[(static_cast<std::size_t>(y) * out.width + x) * 3 + ch] =
            static_cast<std::uint8_t>((sum + kShrink * kShrink / 2) / (kShrink * kShrink));
      }
    }
  }
  return out;
}

struct Difference {
  double mean = 0;       // mean absolute difference per channel
  double farShare = 0;   // share of channels more than 40 apart
};

Difference compare(const RgbImage& a, const RgbImage& b) {
  Difference d;
  long total = 0, far = 0;
  for (std::size_t i = 0; i < a.pixels.size(); ++i) {
    const int delta = std::abs(int(a.pixels[i]) - int(b.pixels[i]));
    total += delta;
    far += delta > 40 ? 1 : 0;
  }
  d.mean = static_cast<double>(total) / static_cast<double>(a.pixels.size());
  d.farShare = static_cast<double>(far) / static_cast<double>(a.pixels.size());
  return d;
}

std::string referencePath(int frame) {
  char name[32];
  std::snprintf(name, sizeof name, "frame-%05d.png", frame);
  return std::string(PICTURE_DATA_DIR) + "/" + name;
}

TEST(Png, RoundTripAndRejection) {
  RgbImage image;
  image.width = 300;
  image.height = 100;
  for (int i = 0; i < image.width * image.height * 3; ++i) image.pixels.push_back(static_cast<std::uint8_t>(i * 7));
  const auto path = (scratch_path("vantor-png-test") += ".png").string();
  ASSERT_TRUE(writePng(path, image));
  RgbImage back;
  ASSERT_TRUE(readPng(path, back));
  EXPECT_EQ(back.width, 300);
  EXPECT_EQ(back.height, 100);
  EXPECT_EQ(back.pixels, image.pixels);

  // A flipped bit anywhere is caught by a checksum.
  const auto size = std::filesystem::file_size(path);
  for (std::uintmax_t at : {std::uintmax_t{20}, size / 2, size - 20}) {
    std::FILE* f = std::fopen(path.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    std::fseek(f, static_cast<long>(at), SEEK_SET);
    const int c = std::fgetc(f);
    std::fseek(f, static_cast<long>(at), SEEK_SET);
    std::fputc(c ^ 0x10, f);
    std::fclose(f);
    EXPECT_FALSE(readPng(path, back)) << "corruption at " << at;
    ASSERT_TRUE(writePng(path, image));
  }
  std::filesystem::resize_file(path, size - 30);
  EXPECT_FALSE(readPng(path, back));
  std::filesystem::remove(path);
  EXPECT_FALSE(readPng(path, back));

  RgbImage wrong = image;
  wrong.pixels.pop_back();
  EXPECT_FALSE(writePng(path, wrong));
}

// Frames from the start, the band filling up and later in the text,
// drawn the way the intro draws them and compared with stored images.
TEST(Capture, FramesMatchTheReferenceImages) {
  HeadlessGl gl;
  std::string why;
  if (!gl.open(kCaptureWidth, kCaptureHeight, &why)) GTEST_SKIP() << "no headless OpenGL (" << why << ")";
  IntroCapture capture;
  ASSERT_TRUE(capture.build());
  IntroCapture::setView(1920, 1080);

  // Before the text reaches the band every frame is only the cleared
  // background.
  capture.frame(true);
  const RgbImage first = gl.read();
  EXPECT_EQ(std::count(first.pixels.begin(), first.pixels.end(), 0), static_cast<long>(first.pixels.size()));

  // A typical frame, the band full of cubes on black, is compressed to a
  // small file (1.3 MB stored) and reads back pixel for pixel.
  while (capture.frameIndex() < 3000) capture.frame(false);
  capture.frame(true);
  const RgbImage typical = gl.read();
  const auto path = (scratch_path("vantor-png-frame") += ".png").string();
  ASSERT_TRUE(writePng(path, typical));
  EXPECT_LT(std::filesystem::file_size(path), 100000u);
  RgbImage back;
  ASSERT_TRUE(readPng(path, back));
  EXPECT_EQ(back.pixels, typical.pixels);
  std::filesystem::remove(path);
  ASSERT_TRUE(capture.build());

  // Set VANTOR_WRITE_REFERENCES to store new references after a deliberate
  // change of the picture.
  const bool writeReferences = std::getenv("VANTOR_WRITE_REFERENCES") != nullptr;
  for (int frame : {120, 400, 3000}) {
    while (capture.frameIndex() < frame) capture.frame(false);
    capture.frame(true);
    const RgbImage full = gl.read();
    ASSERT_EQ(full.width, kCaptureWidth);
    ASSERT_EQ(full.height, kCaptureHeight);
    const RgbImage actual = shrink(full);
    if (writeReferences) {
      ASSERT_TRUE(writePng(referencePath(frame), actual));
      continue;
    }
    RgbImage expected;
    ASSERT_TRUE(readPng(referencePath(frame), expected)) << referencePath(frame);
    ASSERT_EQ(expected.width, actual.width);
    ASSERT_EQ(expected.height, actual.height);
    const Difference d = compare(actual, expected);
    EXPECT_LT(d.mean, 1.0) << "frame " << frame;
    EXPECT_LT(d.farShare, 0.002) << "frame " << frame;
  }
}

TEST(Capture, DrawingAndRecordingPlaceTheSameCubes) {
  HeadlessGl gl;
  std::string why;
  if (!gl.open(kCaptureWidth, kCaptureHeight, &why)) GTEST_SKIP() << "no headless OpenGL (" << why << ")";
  IntroCapture drawn, recorded;
  ASSERT_TRUE(drawn.build());
  std::vector<CubeRecord> a, b;
  ASSERT_TRUE(recorded.build());
  IntroCapture::setView(1920, 1080);
  for (int frame = 0; frame < 150; ++frame) {
    drawn.frame(true, &a);
    recorded.frame(false, &b);
  }
  ASSERT_EQ(a.size(), b.size());
  ASSERT_FALSE(a.empty());
  for (std::size_t i = 0; i < a.size(); ++i) {
    ASSERT_EQ(drawn.charIndex(a[i].source), recorded.charIndex(b[i].source));
    ASSERT_EQ(a[i].x, b[i].x);
    ASSERT_EQ(a[i].y, b[i].y);
    ASSERT_EQ(a[i].z, b[i].z);
    ASSERT_EQ(a[i].colour.g, b[i].colour.g);
  }
}

}  // namespace
