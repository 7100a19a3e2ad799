// A minimal writer of 16-bit PCM WAV files.
#pragma once

#include <cstdint>
#include <cstdio>

struct WavWriter {
  std::FILE* file = nullptr;
  uint32_t frames = 0;
  int channels = 2;
  int rate = 44100;
};

// Creates the file and writes a header to be completed by wav_close.
bool wav_open(WavWriter& wav, const char* path, int rate, int channels);
// Appends interleaved little-endian frames.
bool wav_write(WavWriter& wav, const int16_t* samples, uint32_t frames);
// Fills in the sizes and closes; false when anything failed to write.
bool wav_close(WavWriter& wav);
