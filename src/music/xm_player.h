// A player context: everything that playing a song changes. The song itself
// (patterns, instruments, samples) is only read, so any number of contexts
// may play songs, the same one too, on as many threads, each context used by
// one thread at a time. Restarting a context plays exactly as the first time.
#pragma once

#include <atomic>
#include <cstdint>

#include "music/xm_mixer.h"
#include "music/xm_types.h"

struct XmPlayer;
using XmTickHandler = void (*)(XmPlayer* player);

// The output blocks a context mixes into: a looping buffer of blocks of
// about 20 ms, each stamped with the song position it was mixed at.
struct MixOutput {
  int32_t blockFrames;    // frames per block: 884 at 44100 Hz
  int32_t bufferFrames;   // frames in the looping buffer: 100 blocks
  int32_t blockCount;     // bufferFrames / blockFrames
  int32_t fillBlock;      // next block to mix, 0..blockCount-1
  // Position at which each block was mixed, packed by mix_pack_stamp so a
  // reader on another thread never sees a torn stamp. Read with
  // mix_block_stamp.
  std::atomic<uint64_t>* stamps;
  float* mixBuffer;       // bufferFrames x 2 floats, 16-byte aligned
  int16_t* pcmBuffer;     // bufferFrames x 2 values: what a device plays
  void* mixAllocation;    // owner of mixBuffer
  int64_t totalFrames;    // frames mixed since the song started
  int64_t tickFrame;      // frame index at which the current tick begins
};

struct XmPlayer {
  const XmSong* song;
  // Called once per tick by the block filler: xm_tick, or an owner's own
  // handler that runs xm_tick and looks at the result.
  XmTickHandler tickHandler;
  void* host;  // the owner's record, for its tick handler

  // Position and timing.
  int32_t tickSamplesLeft;    // frames still to mix before the next tick
  int32_t samplesPerTick;     // frames per tick at the current bpm
  int32_t globalVolume;       // 0..64
  uint8_t globalVolumeSlide;  // song-wide memory of effect H
  int32_t tick;               // tick within the row, 0 = row tick
  int32_t speed;              // ticks per row
  int32_t bpm;
  int32_t row;
  int32_t order;
  int32_t patternDelayTicks;
  int32_t nextRow;            // -1 = none
  int32_t nextOrder;          // -1 = none
  int32_t timeMs;             // milliseconds of music mixed so far

  XmMixRate mix;  // the output rate and the mixer's constants for it
  // Each sample's finetune as this playback hears it, by XmSample::number:
  // the file's, until effect E5 sets another for every later note.
  int8_t finetunes[XM_SAMPLE_NUMBERS];
  XmChannel channels[XM_CHANNELS];
  MixVoice voices[XM_VOICES];
  MixOutput output;
};

// Makes `player` (zero-filled, or released before) play `song` at `rate`
// frames per second: the mixer's constants, the output blocks (100 blocks of
// mix_block_frames), and the song started from its beginning with xm_tick
// as the tick handler. False, with nothing allocated, when memory runs out.
bool xm_player_init(XmPlayer* player, const XmSong* song, int32_t rate);
// Frees the output blocks; the song stays. Safe to repeat.
void xm_player_release(XmPlayer* player);

// Starts the context's song from its beginning: zeroes all voices (each gets
// its index and a step of 1), resets the position, speed, tempo, global
// volume, time and finetunes, zeroes channels 0..channelCount-1 pointing
// channel i at voice i, and starts the blocks again at block 0.
void xm_start_song(XmPlayer* player);

// The finetune a note on `sample` uses in this playback.
inline int8_t& xm_finetune(XmPlayer& player, const XmSample* sample) { return player.finetunes[sample->number]; }
