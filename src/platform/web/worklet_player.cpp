// The player as the audio worklet runs it: a wasm module of its own, built
// from the player library alone (vantor_xm.h) with nothing to import, which
// the worklet instantiates from bytes the page hands it. The worklet copies
// the module's bytes in, starts the song, and asks for each render quantum
// as the audio thread needs it: the song plays for ever, from the start, at
// the audio context's rate.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "music/vantor_xm.h"

namespace {

// A render quantum is 128 frames today; the worklet never asks for more.
constexpr std::size_t kMaxFrames = 4096;

vxm_song* song = nullptr;
unsigned char* moduleBytes = nullptr;
std::int16_t pcm[2 * kMaxFrames];
// The quantum as Web Audio takes it: all the left frames, then the right.
float planar[2 * kMaxFrames];

}  // namespace

extern "C" {

// Room for the module's `bytes` bytes, for the worklet to copy them into;
// null when memory runs out.
__attribute__((used)) void* worklet_module_space(std::size_t bytes) {
  std::free(moduleBytes);
  moduleBytes = static_cast<unsigned char*>(std::malloc(bytes ? bytes : 1));
  return moduleBytes;
}

// Loads the module copied in and starts it at `rate` frames a second, to
// play for ever. 1 when it plays.
__attribute__((used)) int worklet_start(std::size_t bytes, int rate) {
  vxm_free(song);
  song = moduleBytes ? vxm_load_memory(moduleBytes, bytes, rate, nullptr) : nullptr;
  std::free(moduleBytes);
  moduleBytes = nullptr;
  if (!song) return 0;
  vxm_set_play_count(song, 0);
  return 1;
}

// Renders the next `frames` frames (at most 4096) into the planar buffer:
// the same 16-bit samples the intro and xm-render make, divided by 32768,
// which a float holds exactly. The frames rendered.
__attribute__((used)) int worklet_render(int frames) {
  if (!song || frames <= 0) return 0;
  const std::size_t asked = static_cast<std::size_t>(frames) < kMaxFrames ? static_cast<std::size_t>(frames) : kMaxFrames;
  const std::size_t n = vxm_render_s16(song, pcm, asked);
  for (std::size_t i = 0; i < n; ++i) {
    planar[i] = pcm[2 * i] * (1.0f / 32768.0f);
    planar[kMaxFrames + i] = pcm[2 * i + 1] * (1.0f / 32768.0f);
  }
  return static_cast<int>(n);
}

// The left frames at the result, the right ones 4096 floats further on.
__attribute__((used)) float* worklet_output() { return planar; }

// Where the song is after the frames rendered so far: the position the
// frames just handed out end at.
__attribute__((used)) int worklet_order() { return vxm_order(song); }
__attribute__((used)) int worklet_row() { return vxm_row(song); }
__attribute__((used)) double worklet_time_ms() { return static_cast<double>(vxm_time_ms(song)); }

}  // extern "C"
