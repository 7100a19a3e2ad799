// A minimal writer of 16-bit PCM WAV files.
#pragma once

#include <cstdint>
#include <cstdio>

struct WavWriter {
  std::FILE* file = nullptr;
  bool seekable = true;      // false for a pipe: the header cannot be redone
  uint32_t frames = 0;       // written so far
  uint32_t headerFrames = 0; // what the header says
  int channels = 2;
  int rate = 44100;
};

// Writes a header for `frames` frames to `file`: a regular file, or a stream
// (standard output, a device) with seekable false, whose sizes must be right
// from the start.
bool wav_begin(WavWriter& wav, std::FILE* file, bool seekable, int rate, int channels, uint32_t frames);
// Appends interleaved little-endian frames.
bool wav_write(WavWriter& wav, const int16_t* samples, uint32_t frames);
// Corrects the sizes where fewer frames came than announced and the file
// can seek; false when that failed. The caller flushes and closes the file.
bool wav_finish(WavWriter& wav);
