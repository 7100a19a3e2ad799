#include "music/xm_output.h"

#include <atomic>

#include "music/xm_block.h"
#include "music/xm_engine.h"
#include "music/xm_file.h"

namespace {

const XmWaveDevice* waveDevice = nullptr;

// Everything below belongs to the controlling thread, except while the
// output thread runs: then the thread alone mixes into `output` and moves
// playBlock on, and the two sides meet only through the atomics.
XmSong* currentSong = nullptr;
MixOutput output{};
void* device = nullptr;
void* thread = nullptr;  // the output thread's handle while it runs
bool deviceRenders = false;  // the device plays the song itself

// The three flags: stopRequested is written by the controller, mixing and
// threadDone by the output thread.
std::atomic<uint8_t> stopRequested{0};
std::atomic<uint8_t> mixing{0};
std::atomic<uint8_t> threadDone{1};
// Block being heard; its stamp answers the queries.
std::atomic<int32_t> playBlock{0};

// Where the device is in the buffer, in bytes from its start. Kept from the
// difference between successive readings, so the device's 32-bit byte count
// wrapping (after about 6.8 hours at 44100 Hz) does not shift the block the
// thread believes is playing. Output thread only.
uint32_t lastDeviceBytes = 0;
uint64_t bufferBytePosition = 0;

int32_t block_being_played() {
  const uint32_t bytes = waveDevice->position(device);
  const uint32_t advanced = bytes - lastDeviceBytes;  // modulo 2^32
  lastDeviceBytes = bytes;
  const uint64_t bufferBytes = static_cast<uint64_t>(output.bufferFrames) * 4;
  bufferBytePosition = (bufferBytePosition + advanced) % bufferBytes;
  return static_cast<int32_t>(bufferBytePosition / 4 / static_cast<uint64_t>(output.blockFrames));
}

BlockStamp heard_stamp(XmSong* song) {
  if (!song || !output.stamps) return BlockStamp{};
  BlockStamp heard{};
  if (deviceRenders && waveDevice->heard(device, &heard)) return heard;
  return mix_block_stamp(&output, playBlock.load(std::memory_order_acquire));
}

}  // namespace

void xm_set_wave_device(const XmWaveDevice* newDevice) { waveDevice = newDevice; }

void output_thread() {
  threadDone.store(0, std::memory_order_release);
  if (waveDevice->raisePriority) waveDevice->raisePriority();
  while (!stopRequested.load(std::memory_order_acquire)) {
    const int32_t p = block_being_played();
    while (output.fillBlock != p) {
      mixing.store(1, std::memory_order_release);
      mix_fill_block(&output);
      const int32_t next = playBlock.load(std::memory_order_relaxed) + 1;
      playBlock.store(next == output.blockCount ? 0 : next, std::memory_order_release);
      mixing.store(0, std::memory_order_release);
    }
    waveDevice->sleep(5);
  }
  threadDone.store(1, std::memory_order_release);
}

bool xm_stop(XmSong* song) {
  if (!song) return false;
  stopRequested.store(1, std::memory_order_release);
  while (mixing.load(std::memory_order_acquire)) {
  }
  if (thread) {
    while (!threadDone.load(std::memory_order_acquire)) waveDevice->sleep(10);
    waveDevice->joinThread(thread);
    thread = nullptr;
  }
  // The device goes before the buffers it plays from.
  if (device) {
    waveDevice->close(device);
    device = nullptr;
  }
  deviceRenders = false;
  mix_output_release(&output);
  currentSong = nullptr;
  playBlock.store(0, std::memory_order_release);
  return true;
}

bool xm_play(XmSong* song) {
  if (!song) return false;
  xm_stop(song);
  if (!xm_file_callbacks_installed()) return false;

  xm_start_song(song);
  currentSong = song;
  if (!mix_output_init(&output, song)) {
    currentSong = nullptr;
    return false;
  }
  device = waveDevice ? waveDevice->open(xm_song_rate(song)) : nullptr;
  if (!device) {
    // A loaded but silent song: the queries answer 0 until the next stop.
    return false;
  }
  BlockStamp heard{};
  if (waveDevice->heard && waveDevice->heard(device, &heard)) {
    // The device plays the song itself: nothing to mix or refill here.
    deviceRenders = true;
    return waveDevice->start(device);
  }
  waveDevice->prepare(device, output.pcmBuffer, static_cast<uint32_t>(output.bufferFrames) * 4);

  // The whole buffer is mixed before the device starts.
  do {
    mix_fill_block(&output);
  } while (output.fillBlock != 0);

  lastDeviceBytes = waveDevice->position(device);
  bufferBytePosition = 0;
  playBlock.store(0, std::memory_order_release);
  waveDevice->start(device);

  stopRequested.store(0, std::memory_order_release);
  threadDone.store(0, std::memory_order_release);
  thread = waveDevice->startThread(output_thread);
  if (!thread) {
    // No thread, no refills: rather silence than the same two seconds for ever.
    threadDone.store(1, std::memory_order_release);
    xm_stop(song);
    return false;
  }
  return true;
}

bool xm_pause(XmSong* song, bool paused) {
  if (!song || song != currentSong || !device || !waveDevice->pause) return false;
  waveDevice->pause(device, paused);
  return true;
}

bool xm_free(XmSong* song) {
  if (!song) return false;
  while (mixing.load(std::memory_order_acquire)) {
  }
  xm_stop(song);
  xm_release_song(song);
  return true;
}

int32_t xm_get_order(XmSong* song) { return heard_stamp(song).order; }
int32_t xm_get_row(XmSong* song) { return heard_stamp(song).row; }
int32_t xm_get_time(XmSong* song) { return heard_stamp(song).timeMs; }
