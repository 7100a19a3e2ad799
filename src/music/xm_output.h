// Playing a song: a looping device buffer of 100 blocks (about two seconds),
// mixed ahead of the listener by a high-priority output thread that refills
// each block as soon as the device has played it. Each block carries the song
// position it was mixed at, so the position queries answer for what is being
// heard now rather than for what is being mixed.
//
// A device that plays the song itself (the browser's audio worklet) needs
// neither buffer nor thread: the queries then answer from what it says it
// is playing.
//
// One output: at most one song plays at a time. All calls except the output
// thread's own come from one controlling thread.
#pragma once

#include <cstdint>

#include "music/xm_types.h"

// The device the output plays through: a buffer of 16-bit stereo frames that
// it repeats endlessly, the bytes it has played so far, and the thread that
// keeps it filled. The intro installs the platform's device; tests install
// their own.
struct XmWaveDevice {
  void* (*open)(int32_t rate);  // null when no device can be opened
  bool (*prepare)(void* device, void* buffer, uint32_t bytes);
  bool (*start)(void* device);
  uint32_t (*position)(void* device);  // bytes played, wrapping at 2^32
  void (*close)(void* device);         // stop at once, release, close
  void (*raisePriority)();             // on the output thread; may be null
  // The output thread runs on the platform's own threads: a handle from
  // startThread (null when none can be started) is joined once.
  void* (*startThread)(void (*body)());
  void (*joinThread)(void* thread);
  void (*sleep)(uint32_t milliseconds);  // suspends the calling thread
  void (*pause)(void* device, bool paused);  // hold or go on; may be null
  // A device that plays the song itself, from its own copy of the module
  // (the browser's audio worklet renders it where the audio is made), says
  // so here with what it is playing: true, with the stamp of the music
  // being heard. xm_play then mixes nothing and starts no thread. False, or
  // null, for a device that plays the buffer.
  bool (*heard)(void* device, BlockStamp* stamp);
};

// Installs the device for the next xm_play (null: none, so xm_play fails to
// open one). Not while a song plays.
void xm_set_wave_device(const XmWaveDevice* device);

// Starts `song` from its beginning, stopping whatever played before. Mixes
// the whole buffer on the calling thread, starts the device and the output
// thread (a device that plays the song itself is only started). False for a null song, without installed file callbacks, or when
// the device cannot be opened (the song then stays loaded and silent).
bool xm_play(XmSong* song);

// Holds the device where it is (paused) or lets it go on, for a song that
// is playing. While held, nothing is heard, no block is refilled and the
// position queries stand still. False when `song` is not playing or the
// device cannot pause.
bool xm_pause(XmSong* song, bool paused);

// Stops whatever is playing. False for a null song, else true.
bool xm_stop(XmSong* song);

// Stops the output, then frees the song. False for a null song, else true.
bool xm_free(XmSong* song);

// Order position, row (each in its low 8 bits) and milliseconds of the block
// being heard; 0 for a null song or when nothing has been started.
int32_t xm_get_order(XmSong* song);
int32_t xm_get_row(XmSong* song);
int32_t xm_get_time(XmSong* song);

// The output thread's body (internal; exposed for the tests' reference).
void output_thread();
