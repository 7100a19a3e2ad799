// The block filler: mixes the looping output buffer one block at a time,
// running engine ticks at exact frame positions, and stamps each block with
// the song position it was mixed at. Device-independent: an output thread
// (or an offline renderer) owns one MixOutput and calls mix_fill_block for
// every block the device has finished playing.
#pragma once

#include <atomic>
#include <cstdint>

#include "music/xm_types.h"

struct MixOutput {
  XmSong* song;           // song being mixed; null = nothing
  int32_t blockFrames;    // frames per block: 884 at 44100 Hz
  int32_t bufferFrames;   // frames in the looping buffer: 100 blocks
  int32_t blockCount;     // bufferFrames / blockFrames
  int32_t fillBlock;      // next block to mix, 0..blockCount-1
  // Position at which each block was mixed, packed by mix_pack_stamp so a
  // reader on another thread never sees a torn stamp. Read with
  // mix_block_stamp.
  std::atomic<uint64_t>* stamps;
  float* mixBuffer;       // bufferFrames x 2 floats, 16-byte aligned
  int16_t* pcmBuffer;     // bufferFrames x 2 values: what the device plays
  void* mixAllocation;    // owner of mixBuffer
  // Frames mixed since mix_output_init; the offline renderer uses these.
  int64_t totalFrames;
  int64_t tickFrame;      // frame index at which the current tick begins
};

// The frame counts for the default settings (bufferMs 1000).
constexpr int32_t XM_BUFFER_MS = 1000;
int32_t mix_block_frames(int32_t rate);                   // 884 at 44100
int32_t mix_buffer_frames(int32_t rate, int32_t bufferMs); // 88400 at 44100

// Allocates the zeroed stamps, mix buffer and PCM buffer for the song's
// rate and XM_BUFFER_MS, sets the song's mixer constants (and, for a song at
// mixRate, the process-wide ones), sets song, fillBlock = 0. `out` must be zero-initialised
// (MixOutput out{}) or released before; a previous allocation is released. Returns false (with everything
// released) when memory runs out. Start the song (xm_start_song) before the
// first mix_fill_block.
bool mix_output_init(MixOutput* out, XmSong* song);
// Frees the buffers and stamps and zeroes the record; safe to repeat.
void mix_output_release(MixOutput* out);

// Mixes block fillBlock: zeroes it, runs song ticks whenever a tick's frames
// are used up, mixes the voices, advances timeMs per run, stamps the block,
// converts it into pcmBuffer and moves fillBlock on (wrapping to 0).
void mix_fill_block(MixOutput* out);

// The PCM frames of block b.
inline int16_t* mix_block_pcm(MixOutput* out, int32_t b) {
  return out->pcmBuffer + static_cast<int64_t>(b) * out->blockFrames * 2;
}

// The process-wide output state that the audio output thread fills, and the
// no-argument form of the filler it calls.
extern MixOutput mixOutput;
inline void mix_fill_block() { mix_fill_block(&mixOutput); }

uint64_t mix_pack_stamp(BlockStamp stamp);
BlockStamp mix_unpack_stamp(uint64_t packed);
// Stamp of block b (any thread). Zero stamp when b is out of range or no
// stamps are allocated.
BlockStamp mix_block_stamp(const MixOutput* out, int32_t b);
