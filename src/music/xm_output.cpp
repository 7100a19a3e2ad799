#include "music/xm_output.h"

#include <new>

#include "music/vantor_xm.h"
#include "music/xm_block.h"

namespace {

int32_t block_being_played(XmOutput& out) {
  const uint32_t bytes = out.waveDevice->position(out.device);
  const uint32_t advanced = bytes - out.lastDeviceBytes;  // modulo 2^32
  out.lastDeviceBytes = bytes;
  const MixOutput& blocks = out.player.output;
  const uint64_t bufferBytes = static_cast<uint64_t>(blocks.bufferFrames) * 4;
  out.bufferBytePosition = (out.bufferBytePosition + advanced) % bufferBytes;
  return static_cast<int32_t>(out.bufferBytePosition / 4 / static_cast<uint64_t>(blocks.blockFrames));
}

BlockStamp heard_stamp(const XmOutput* out) {
  if (!out || !out->player.output.stamps) return BlockStamp{};
  BlockStamp heard{};
  if (out->deviceRenders && out->waveDevice->heard(out->device, &heard)) return heard;
  return mix_block_stamp(&out->player.output, out->playBlock.load(std::memory_order_acquire));
}

}  // namespace

XmOutput* xm_output_create(const XmWaveDevice* device) {
  auto* out = new (std::nothrow) XmOutput{};
  if (!out) return nullptr;
  out->waveDevice = device;
  out->threadDone.store(1, std::memory_order_relaxed);
  return out;
}

void output_thread(void* argument) {
  XmOutput& out = *static_cast<XmOutput*>(argument);
  MixOutput& blocks = out.player.output;
  out.threadDone.store(0, std::memory_order_release);
  if (out.waveDevice->raisePriority) out.waveDevice->raisePriority();
  while (!out.stopRequested.load(std::memory_order_acquire)) {
    const int32_t p = block_being_played(out);
    while (blocks.fillBlock != p) {
      out.mixing.store(1, std::memory_order_release);
      mix_fill_block(&out.player);
      const int32_t next = out.playBlock.load(std::memory_order_relaxed) + 1;
      out.playBlock.store(next == blocks.blockCount ? 0 : next, std::memory_order_release);
      out.mixing.store(0, std::memory_order_release);
    }
    out.waveDevice->sleep(5);
  }
  out.threadDone.store(1, std::memory_order_release);
}

bool xm_stop(XmOutput* out) {
  if (!out) return false;
  out->stopRequested.store(1, std::memory_order_release);
  while (out->mixing.load(std::memory_order_acquire)) {
  }
  if (out->thread) {
    while (!out->threadDone.load(std::memory_order_acquire)) out->waveDevice->sleep(10);
    out->waveDevice->joinThread(out->thread);
    out->thread = nullptr;
  }
  // The device goes before the buffers it plays from.
  if (out->device) {
    out->waveDevice->close(out->device);
    out->device = nullptr;
  }
  out->deviceRenders = false;
  xm_player_release(&out->player);
  out->playing = false;
  out->playBlock.store(0, std::memory_order_release);
  return true;
}

bool xm_play(XmOutput* out, const XmSong* song) {
  if (!out || !song) return false;
  xm_stop(out);
  if (!xm_player_init(&out->player, song, VXM_RATE_DEFAULT)) return false;
  out->playing = true;
  out->device = out->waveDevice ? out->waveDevice->open(out->player.mix.rate) : nullptr;
  if (!out->device) {
    // A loaded but silent song: the queries answer 0 until the next stop.
    return false;
  }
  BlockStamp heard{};
  if (out->waveDevice->heard && out->waveDevice->heard(out->device, &heard)) {
    // The device plays the song itself: nothing to mix or refill here.
    out->deviceRenders = true;
    return out->waveDevice->start(out->device);
  }
  const MixOutput& blocks = out->player.output;
  out->waveDevice->prepare(out->device, blocks.pcmBuffer, static_cast<uint32_t>(blocks.bufferFrames) * 4);

  // The whole buffer is mixed before the device starts.
  do {
    mix_fill_block(&out->player);
  } while (blocks.fillBlock != 0);

  out->lastDeviceBytes = out->waveDevice->position(out->device);
  out->bufferBytePosition = 0;
  out->playBlock.store(0, std::memory_order_release);
  out->waveDevice->start(out->device);

  out->stopRequested.store(0, std::memory_order_release);
  out->threadDone.store(0, std::memory_order_release);
  out->thread = out->waveDevice->startThread(output_thread, out);
  if (!out->thread) {
    // No thread, no refills: rather silence than the same two seconds for ever.
    out->threadDone.store(1, std::memory_order_release);
    xm_stop(out);
    return false;
  }
  return true;
}

bool xm_pause(XmOutput* out, bool paused) {
  if (!out || !out->playing || !out->device || !out->waveDevice->pause) return false;
  out->waveDevice->pause(out->device, paused);
  return true;
}

bool xm_free(XmOutput* out, XmSong* song) {
  if (!out && !song) return false;
  if (out) {
    while (out->mixing.load(std::memory_order_acquire)) {
    }
    xm_stop(out);
    delete out;
  }
  xm_release_song(song);
  return true;
}

int32_t xm_get_order(const XmOutput* out) { return heard_stamp(out).order; }
int32_t xm_get_row(const XmOutput* out) { return heard_stamp(out).row; }
int32_t xm_get_time(const XmOutput* out) { return heard_stamp(out).timeMs; }
