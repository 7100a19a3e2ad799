#include "wav_writer.h"

namespace {

void put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
  put16(p, v & 0xFFFF);
  put16(p + 2, v >> 16);
}

void header(uint8_t* h, const WavWriter& wav) {
  const uint32_t blockAlign = static_cast<uint32_t>(wav.channels) * 2;
  const uint32_t dataBytes = wav.frames * blockAlign;
  const char* tags[] = {"RIFF", "WAVE", "fmt ", "data"};
  for (int i = 0; i < 4; ++i) {
    const int at = i == 0 ? 0 : (i == 1 ? 8 : (i == 2 ? 12 : 36));
    for (int c = 0; c < 4; ++c) h[at + c] = static_cast<uint8_t>(tags[i][c]);
  }
  put32(h + 4, 36 + dataBytes);
  put32(h + 16, 16);
  put16(h + 20, 1);  // PCM
  put16(h + 22, static_cast<uint32_t>(wav.channels));
  put32(h + 24, static_cast<uint32_t>(wav.rate));
  put32(h + 28, static_cast<uint32_t>(wav.rate) * blockAlign);
  put16(h + 32, blockAlign);
  put16(h + 34, 16);
  put32(h + 40, dataBytes);
}

}  // namespace

bool wav_begin(WavWriter& wav, std::FILE* file, bool seekable, int rate, int channels, uint32_t frames) {
  wav.file = file;
  wav.seekable = seekable;
  wav.rate = rate;
  wav.channels = channels;
  wav.frames = frames;
  wav.headerFrames = frames;
  uint8_t h[44] = {};
  header(h, wav);
  wav.frames = 0;
  return std::fwrite(h, 1, sizeof h, wav.file) == sizeof h;
}

bool wav_write(WavWriter& wav, const int16_t* samples, uint32_t frames) {
  const uint32_t values = frames * static_cast<uint32_t>(wav.channels);
  const uint16_t probe = 1;
  if (*reinterpret_cast<const uint8_t*>(&probe) == 1) {
    // A little-endian machine holds the samples as the file does.
    if (std::fwrite(samples, 2, values, wav.file) != values) return false;
    wav.frames += frames;
    return true;
  }
  uint8_t buffer[4096];
  uint32_t done = 0;
  while (done < values) {
    uint32_t n = 0;
    for (; n < sizeof buffer / 2 && done + n < values; ++n) {
      put16(buffer + 2 * n, static_cast<uint16_t>(samples[done + n]));
    }
    if (std::fwrite(buffer, 2, n, wav.file) != n) return false;
    done += n;
  }
  wav.frames += frames;
  return true;
}

bool wav_finish(WavWriter& wav) {
  if (!wav.file) return false;
  if (wav.frames == wav.headerFrames || !wav.seekable) return true;
  uint8_t h[44] = {};
  header(h, wav);
  return std::fseek(wav.file, 0, SEEK_SET) == 0 && std::fwrite(h, 1, sizeof h, wav.file) == sizeof h;
}
