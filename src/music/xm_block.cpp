#include "music/xm_block.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "music/xm_mixer.h"

int32_t mix_block_frames(int32_t rate) { return (rate * 20 / 1000 + 3) / 4 * 4; }

int32_t mix_buffer_frames(int32_t rate, int32_t bufferSetting) {
  return (bufferSetting / 20) * mix_block_frames(rate) * 2;
}

bool mix_output_init(MixOutput* out, int32_t rate) {
  out->blockFrames = mix_block_frames(rate);
  out->bufferFrames = mix_buffer_frames(rate, XM_BUFFER_SETTING);
  out->blockCount = out->bufferFrames / out->blockFrames;
  const size_t frames = static_cast<size_t>(out->bufferFrames);
  out->stamps = new (std::nothrow) std::atomic<uint64_t>[static_cast<size_t>(out->blockCount)];
  out->mixAllocation = std::calloc(frames * 8 + 256, 1);
  out->pcmBuffer = static_cast<int16_t*>(std::calloc(frames * 2, sizeof(int16_t)));
  if (!out->stamps || !out->mixAllocation || !out->pcmBuffer) {
    mix_output_release(out);
    return false;
  }
  for (int32_t b = 0; b < out->blockCount; ++b) out->stamps[b].store(0, std::memory_order_relaxed);
  const uintptr_t base = reinterpret_cast<uintptr_t>(out->mixAllocation);
  out->mixBuffer = reinterpret_cast<float*>((base + 15) & ~uintptr_t{15});
  out->fillBlock = 0;
  out->totalFrames = 0;
  out->tickFrame = 0;
  return true;
}

void mix_output_release(MixOutput* out) {
  delete[] out->stamps;
  std::free(out->mixAllocation);
  std::free(out->pcmBuffer);
  out->blockFrames = out->bufferFrames = out->blockCount = out->fillBlock = 0;
  out->stamps = nullptr;
  out->mixBuffer = nullptr;
  out->pcmBuffer = nullptr;
  out->mixAllocation = nullptr;
  out->totalFrames = out->tickFrame = 0;
}

void mix_fill_block(XmPlayer* player) {
  MixOutput* out = &player->output;
  if (!player->song || !out->mixBuffer || out->blockCount <= 0) return;
  const int32_t b = out->fillBlock;
  const int32_t blockFrames = out->blockFrames;
  float* mix = out->mixBuffer + static_cast<int64_t>(b) * blockFrames * 2;
  std::memset(mix, 0, sizeof(float) * 2 * static_cast<size_t>(blockFrames));

  int32_t left = player->tickSamplesLeft;
  int32_t done = 0;
  while (done < blockFrames) {
    if (left <= 0) {
      out->tickFrame = out->totalFrames + done;
      player->tickHandler(player);
      left = player->samplesPerTick > 0 ? player->samplesPerTick : 1;
    }
    const int32_t n = left < blockFrames - done ? left : blockFrames - done;
    mix_voices(player->voices, player->mix, mix + 2 * static_cast<int64_t>(done), n);
    // Milliseconds per run, truncated: 882 frames add 19, not 20.
    const auto ms = static_cast<int32_t>(static_cast<double>(n) * static_cast<double>(player->mix.invRate) * 1000.0);
    // Wraps after 24 days of playback instead of overflowing.
    player->timeMs = static_cast<int32_t>(static_cast<uint32_t>(player->timeMs) + static_cast<uint32_t>(ms));
    done += n;
    left -= n;
  }
  out->stamps[b].store(mix_pack_stamp(BlockStamp{static_cast<uint8_t>(player->order),
                                                 static_cast<uint8_t>(player->row), player->timeMs}),
                       std::memory_order_release);
  player->tickSamplesLeft = left;
  mix_to_pcm16(mix_block_pcm(out, b), mix, blockFrames);
  out->totalFrames += blockFrames;
  out->fillBlock = b + 1 >= out->blockCount ? 0 : b + 1;
}

uint64_t mix_pack_stamp(BlockStamp stamp) {
  return uint64_t{stamp.order} | uint64_t{stamp.row} << 8 |
         uint64_t{static_cast<uint32_t>(stamp.timeMs)} << 16;
}

BlockStamp mix_unpack_stamp(uint64_t packed) {
  BlockStamp stamp;
  stamp.order = static_cast<uint8_t>(packed);
  stamp.row = static_cast<uint8_t>(packed >> 8);
  stamp.timeMs = static_cast<int32_t>(static_cast<uint32_t>(packed >> 16));
  return stamp;
}

BlockStamp mix_block_stamp(const MixOutput* out, int32_t b) {
  if (!out->stamps || b < 0 || b >= out->blockCount) return BlockStamp{0, 0, 0};
  return mix_unpack_stamp(out->stamps[b].load(std::memory_order_acquire));
}
