// A wave output device as the player's output thread drives it: a buffer of
// 16-bit stereo frames that it repeats endlessly, the bytes it has played so
// far, and the thread that keeps it filled. The intro hands the output the
// platform's device; tests hand it their own.
#pragma once

#include <cstdint>

#include "music/xm_types.h"

struct XmWaveDevice {
  void* (*open)(int32_t rate);  // null when no device can be opened
  bool (*prepare)(void* device, void* buffer, uint32_t bytes);
  bool (*start)(void* device);
  uint32_t (*position)(void* device);  // bytes played, wrapping at 2^32
  void (*close)(void* device);         // stop at once, release, close
  void (*raisePriority)();             // on the output thread; may be null
  // The output thread runs on the platform's own threads: a handle from
  // startThread (null when none can be started) is joined once.
  void* (*startThread)(void (*body)(void* argument), void* argument);
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
