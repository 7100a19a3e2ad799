// Playing a song: a looping device buffer of 100 blocks (about two seconds),
// mixed ahead of the listener by a high-priority output thread that refills
// each block as soon as the device has played it. Each block carries the song
// position it was mixed at, so the position queries answer for what is being
// heard now rather than for what is being mixed.
//
// An output is one player context with its device and thread: it plays at
// most one song at a time. All calls except the output thread's own come
// from one controlling thread. The intro has one output, its default
// context.
//
// A device that plays the song itself (the browser's audio worklet) needs
// neither buffer nor thread: the queries then answer from what it says it
// is playing.
#pragma once

#include <atomic>
#include <cstdint>

#include "music/xm_player.h"
#include "music/xm_wave_device.h"

struct XmOutput {
  XmPlayer player;                  // the context the song plays in
  const XmWaveDevice* waveDevice;   // null: none, so xm_play cannot open one
  // Everything below belongs to the controlling thread, except while the
  // output thread runs: then the thread alone mixes into the player and
  // moves playBlock on, and the two sides meet only through the atomics.
  bool playing;   // a song was started and not stopped since
  bool deviceRenders;  // the device plays the song itself
  void* device;
  void* thread;   // the output thread's handle while it runs
  // The three flags: stopRequested is written by the controller, mixing
  // and threadDone by the output thread.
  std::atomic<uint8_t> stopRequested;
  std::atomic<uint8_t> mixing;
  std::atomic<uint8_t> threadDone;
  std::atomic<int32_t> playBlock;  // block being heard; its stamp answers the queries
  // Where the device is in the buffer, in bytes from its start, kept from
  // the difference between successive readings so the device's 32-bit
  // byte count wrapping (after about 6.8 hours at 44100 Hz) does not shift
  // the block the thread believes is playing. Output thread only.
  uint32_t lastDeviceBytes;
  uint64_t bufferBytePosition;
};

// A new stopped output that plays through `device` (null: no device). Null
// when memory runs out. Release it with xm_free.
XmOutput* xm_output_create(const XmWaveDevice* device);

// Starts `song` from its beginning, stopping whatever played before. Mixes
// the whole buffer on the calling thread, starts the device and the output
// thread. A device that plays the song itself is only started. False for a null output or song, or when the device cannot be
// opened (the song then stays loaded and silent).
bool xm_play(XmOutput* output, const XmSong* song);

// Holds the device where it is (paused) or lets it go on, while a song
// plays. While held, nothing is heard, no block is refilled and the
// position queries stand still. False when nothing plays or the device
// cannot pause.
bool xm_pause(XmOutput* output, bool paused);

// Stops whatever is playing. False for a null output, else true.
bool xm_stop(XmOutput* output);

// Stops the output, then frees the song (the one it played, or any) and
// the output. Either may be null; false when both are.
bool xm_free(XmOutput* output, XmSong* song);

// Order position, row (each in its low 8 bits) and milliseconds of the block
// being heard; 0 for a null output or when nothing has been started.
int32_t xm_get_order(const XmOutput* output);
int32_t xm_get_row(const XmOutput* output);
int32_t xm_get_time(const XmOutput* output);

// The output thread's body (internal; exposed for the tests' reference).
void output_thread(void* output);
