// The wave output device over Web Audio: an audio worklet plays the looping
// buffer straight out of the program's shared memory, from a cursor that
// wraps at the buffer's end, and counts the bytes it has handed over. The
// output thread reads that count as the position played, exactly as it reads
// the position of a device that loops on its own.
//
// The audio context itself is made in the click that answers the question
// (browsers let a page make sound only after a user gesture).
#include <emscripten.h>

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

namespace platform {
namespace {

// Shared with the worklet, which reads `buffer` and updates `played` and
// reads `stopped` with Atomics. One device at a time, and never freed: the
// worklet may run one more pass after it is told to stop.
struct WebWave {
  std::atomic<std::uint32_t> played{0};
  std::atomic<std::uint32_t> stopped{1};
  const void* buffer = nullptr;
  std::uint32_t bytes = 0;
  bool open = false;
};
static_assert(sizeof(std::atomic<std::uint32_t>) == 4);

WebWave wave;

}  // namespace
}  // namespace platform

// clang-format off
EM_JS(int, web_audio_open, (int rate), { return Module.vantor.audioOpen(rate); });
EM_JS(int, web_audio_start, (void* wave, const void* buffer, std::uint32_t bytes), {
  return Module.vantor.audioStart(wave, buffer, bytes);
});
EM_JS(void, web_audio_close, (), { Module.vantor.audioClose(); });
// clang-format on

namespace platform {

void* wave_open(int rate) {
  if (wave.open || !web_audio_open(rate)) return nullptr;
  wave.open = true;
  wave.buffer = nullptr;
  wave.bytes = 0;
  wave.played.store(0);
  wave.stopped.store(1);
  return &wave;
}

bool wave_prepare(void* device, void* buffer, std::uint32_t bytes) {
  // Whole frames only, so the cursor never splits one.
  bytes -= bytes % 4;
  if (device != &wave || !buffer || bytes == 0) return false;
  wave.buffer = buffer;
  wave.bytes = bytes;
  return true;
}

bool wave_start(void* device) {
  if (device != &wave || wave.bytes == 0) return false;
  wave.stopped.store(0);
  return web_audio_start(&wave, wave.buffer, wave.bytes) != 0;
}

std::uint32_t wave_position(void* device) {
  if (device != &wave) return 0;
  // A read-modify-write rather than a load: it publishes the blocks this
  // thread refilled since its last poll to the worklet's next pass.
  return wave.played.fetch_add(0, std::memory_order_acq_rel);
}

void wave_close(void* device) {
  if (device != &wave) return;
  wave.stopped.store(1);
  web_audio_close();
  wave.open = false;
}

// Nothing in the page holds the sound: the intro plays until it ends.
void wave_pause(void*, bool) {}

// Browsers give a worker no priority to raise.
void raise_thread_priority() {}

}  // namespace platform
