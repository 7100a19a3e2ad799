// The wave output device over Web Audio. A page on a plain static host has
// no memory shared with the audio thread, so the audio worklet keeps its own
// copy of the looping buffer: it gets the whole buffer at start and then
// each block the output refills, by message, in the order it is to play
// them. It reports the bytes it has played, which the output reads as the
// position of a device that loops on its own. Should a block arrive late,
// the worklet plays silence and holds its count rather than replay the old
// one, so the music picks up where it stopped.
//
// The audio context itself is made in the click that answers the question
// (browsers let a page make sound only after a user gesture).
#include <emscripten.h>

#include <cstdint>

#include "platform/platform.h"

namespace platform {
namespace {

struct WebWave {
  const void* buffer = nullptr;
  std::uint32_t bytes = 0;
  bool open = false;
};

WebWave wave;

}  // namespace
}  // namespace platform

// clang-format off
EM_JS(int, web_audio_open, (int rate), { return Module.vantor.audioOpen(rate); });
EM_JS(int, web_audio_start, (const void* buffer, std::uint32_t bytes), {
  return Module.vantor.audioStart(buffer, bytes);
});
EM_JS(void, web_audio_write, (const void* data, std::uint32_t bytes), {
  Module.vantor.audioWrite(data, bytes);
});
EM_JS(std::uint32_t, web_audio_played, (), { return Module.vantor.audioPlayed(); });
EM_JS(void, web_audio_close, (), { Module.vantor.audioClose(); });
// clang-format on

namespace platform {

void* wave_open(int rate) {
  if (wave.open || !web_audio_open(rate)) return nullptr;
  wave = WebWave{};
  wave.open = true;
  return &wave;
}

bool wave_prepare(void* device, void* buffer, std::uint32_t bytes) {
  // Whole frames only, so no message splits one.
  bytes -= bytes % 4;
  if (device != &wave || !buffer || bytes == 0) return false;
  wave.buffer = buffer;
  wave.bytes = bytes;
  return true;
}

bool wave_start(void* device) {
  if (device != &wave || wave.bytes == 0) return false;
  return web_audio_start(wave.buffer, wave.bytes) != 0;
}

void wave_written(void* device, std::uint32_t offset, std::uint32_t bytes) {
  if (device != &wave || offset > wave.bytes || bytes > wave.bytes - offset) return;
  web_audio_write(static_cast<const std::uint8_t*>(wave.buffer) + offset, bytes);
}

std::uint32_t wave_position(void* device) { return device == &wave ? web_audio_played() : 0; }

void wave_close(void* device) {
  if (device != &wave) return;
  web_audio_close();
  wave = WebWave{};
}

// Nothing in the page holds the sound: the intro plays until it ends.
void wave_pause(void*, bool) {}

// The output loop runs on the page's own thread, which has no priority.
void raise_thread_priority() {}

}  // namespace platform
