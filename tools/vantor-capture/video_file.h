// A video file with one picture and one sound stream, written through
// FFmpeg's libraries:
//   .mp4  H.264 (yuv420p, BT.709) and AAC, for playing and uploading;
//   .mkv  FFV1 (bgr0) and FLAC, lossless: every pixel and sample survives.
//
// The file is written as output_file.h describes: as a new file in the same
// folder that gets its name only when finish() succeeds, so a failed or
// abandoned capture never leaves a half-written file where the video should
// be. FFmpeg writes, and for the index at the front of an .mp4 reads back,
// through the descriptor of that file, never by name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "output_file.h"

struct VideoSettings {
  std::string path;  // the extension chooses the container and codecs
  int width = 0;
  int height = 0;
  int fps = 60;
  int quality = 18;  // H.264 constant rate factor: lower is better and larger
  std::vector<std::string> inputs;  // files the video must not overwrite
  bool force = false;               // replace a read-only file
};

// Seconds spent in each stage, summed over all calls.
struct VideoTimes {
  double converting = 0;  // pixel and sample format conversion
  double encoding = 0;    // encoders and writing the file
};

class VideoFile {
 public:
  VideoFile() = default;
  ~VideoFile();  // abandons a file that was not finished
  VideoFile(const VideoFile&) = delete;
  VideoFile& operator=(const VideoFile&) = delete;

  // Empty when the extension names a container this class writes, else why
  // not, for an error line about the path.
  static std::string checkExtension(const std::string& path);

  // Creates the temporary file and writes the header. On failure returns
  // false, with the reason in error(), and leaves nothing behind.
  bool open(const VideoSettings& settings);

  // One picture of width x height pixels, 4 bytes each in the order B, G, R,
  // unused, rows from the bottom up (as OpenGL reads them).
  bool addPicture(const std::uint8_t* bgrxBottomUp);

  // Interleaved stereo 16-bit frames at 44100 Hz, continuing the sound.
  bool addSound(const std::int16_t* frames, int count);

  // Flushes the encoders, writes the trailer and gives the file its name;
  // without replace, only while the name is free. On failure the new file
  // is removed.
  bool finish(bool replace = true);

  // Something had the name when the file was opened.
  bool replacing() const { return output.replacing(); }

  // Stops and removes the temporary file.
  void abandon();

  const std::string& error() const { return message; }
  const VideoTimes& times() const { return spent; }

 private:
  struct Codecs;
  bool fail(const std::string& what, int code = 0);
  bool encodeSound(bool flush);
  bool drain(void* codec, void* stream);

  VideoSettings settings;
  OutputFile output;
  std::string message;
  VideoTimes spent;
  Codecs* c = nullptr;
};

constexpr int kVideoSampleRate = 44100;
