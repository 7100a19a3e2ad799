// The block filler: mixes a context's looping output buffer one block at a
// time, running engine ticks at exact frame positions, and stamps each block
// with the song position it was mixed at. Device-independent: an output
// thread (or an offline renderer) calls mix_fill_block for every block the
// device has finished playing.
#pragma once

#include <cstdint>

#include "music/xm_player.h"

// The looping buffer's length setting: the buffer holds (XM_BUFFER_SETTING
// / 20) x 2 blocks of about 20 ms, so 1000 gives 100 blocks, about 2 s.
constexpr int32_t XM_BUFFER_SETTING = 1000;
int32_t mix_block_frames(int32_t rate);                        // 884 at 44100
int32_t mix_buffer_frames(int32_t rate, int32_t bufferSetting); // 88400 at 44100

// Allocates the zeroed stamps, mix buffer and PCM buffer for `rate` and
// XM_BUFFER_SETTING. `out` must be zero-filled or released before. Returns
// false (with everything released) when memory runs out.
bool mix_output_init(MixOutput* out, int32_t rate);
// Frees the buffers and stamps and zeroes the record; safe to repeat.
void mix_output_release(MixOutput* out);

// Mixes the context's block fillBlock: zeroes it, runs the tick handler
// whenever a tick's frames are used up, mixes the voices, advances timeMs
// per run, stamps the block, converts it into pcmBuffer and moves fillBlock
// on (wrapping to 0).
void mix_fill_block(XmPlayer* player);

// The PCM frames of block b.
inline int16_t* mix_block_pcm(MixOutput* out, int32_t b) {
  return out->pcmBuffer + static_cast<int64_t>(b) * out->blockFrames * 2;
}
inline const float* mix_block_mix(const MixOutput* out, int32_t b) {
  return out->mixBuffer + static_cast<int64_t>(b) * out->blockFrames * 2;
}

uint64_t mix_pack_stamp(BlockStamp stamp);
BlockStamp mix_unpack_stamp(uint64_t packed);
// Stamp of block b (any thread). Zero stamp when b is out of range or no
// stamps are allocated.
BlockStamp mix_block_stamp(const MixOutput* out, int32_t b);
