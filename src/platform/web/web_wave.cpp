// The wave output device over Web Audio. The audio worklet plays the music
// itself: it holds the player (vantor-xm.wasm, built from the player library
// alone) and renders each quantum from the module's bytes when the audio
// thread asks for it, so the music goes on whatever the page's thread does
// (a hidden tab, a slow frame, a stall). A page on a plain static host has
// no memory shared with the audio thread, so nothing of the program's own
// mixing would reach it in time: the device takes no buffer, and the
// program mixes nothing. It reports what the worklet plays, which the
// position queries answer from.
//
// The module is the 2.xm the page fetched beside itself, the one the
// program loaded. The audio context itself is made in the click that
// answers the question (browsers let a page make sound only after a user
// gesture); the worklet renders at the context's rate.
#include <emscripten.h>

#include <cstdint>

#include "platform/platform.h"

namespace platform {
namespace {

bool open = false;
int device;  // its address is the handle

}  // namespace
}  // namespace platform

// clang-format off
EM_JS(int, web_audio_open, (), { return Module.vantor.audioOpen(); });
EM_JS(int, web_audio_start, (), { return Module.vantor.audioStart(); });
EM_JS(double, web_audio_played, (), { return Module.vantor.audioPlayed(); });
EM_JS(void, web_audio_heard, (std::int32_t* order, std::int32_t* row, std::int32_t* ms), {
  var heard = Module.vantor.audioHeard();
  HEAP32[order >> 2] = heard[0];
  HEAP32[row >> 2] = heard[1];
  HEAP32[ms >> 2] = heard[2];
});
EM_JS(void, web_audio_close, (), { Module.vantor.audioClose(); });
// clang-format on

namespace platform {

void* wave_open(int) {
  if (open || !web_audio_open()) return nullptr;
  open = true;
  return &device;
}

// The page's audio says nothing of why it would not start.
const char* wave_open_error() { return ""; }

// It plays the module, not a buffer.
bool wave_prepare(void*, void*, std::uint32_t) { return false; }

bool wave_start(void* handle) { return handle == &device && web_audio_start() != 0; }

std::uint32_t wave_position(void* handle) {
  if (handle != &device) return 0;
  // Frames played as bytes of 16-bit stereo, wrapping at 2^32.
  return static_cast<std::uint32_t>(static_cast<std::uint64_t>(web_audio_played()) * 4);
}

bool wave_heard(void* handle, std::int32_t* order, std::int32_t* row, std::int32_t* ms) {
  if (handle != &device) return false;
  web_audio_heard(order, row, ms);
  return true;
}

void wave_close(void* handle) {
  if (handle != &device) return;
  web_audio_close();
  open = false;
}

// Nothing in the page holds the sound: the intro plays until it ends.
void wave_pause(void*, bool) {}

// The page has no thread to raise: the worklet's is the browser's own.
void raise_thread_priority() {}

}  // namespace platform
