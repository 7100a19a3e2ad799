#include "music/xm_mixer.h"

#include <cmath>

#include "music/xm_engine.h"
#include "music/xm_types.h"

int32_t rampFrames = 128;
float rampScale = 1.0f / 128.0f;
float invMixRate = 1.0f / 44100.0f;

namespace {

constexpr int64_t one = int64_t{1} << 32;  // one frame in 32.32
// Stand-in for a step too small to count in 24.8 (the step of 256 Hz).
constexpr uint32_t minimumStep = 0x17C6F8C;
// Longest pass without a boundary check. The 24.8 frame count may overrun
// the boundary by a fraction of a frame per frame; keeping passes this
// short keeps the overrun inside the sample's 8 frames of slack whatever
// frame count the caller asks for. Blocks are shorter, so playback never
// splits a pass here.
constexpr int32_t maxPass = 1024;

// Frames until the voice reaches its boundary, or -1 when that is further
// than `todo` frames away.
int32_t frames_to_boundary(const MixVoice& v, int64_t pos, uint64_t step, int32_t todo) {
  const XmSample* s = v.sample;
  const int64_t loopEnd = int64_t{s->loopStart} + s->loopLength;
  int64_t distance;
  if (v.direction != 2) {
    const int64_t end = (pos >> 32) > loopEnd ? int64_t{s->length} : loopEnd;
    distance = end * one - pos;
  } else {
    distance = pos - int64_t{s->loopStart} * one;
  }
  if (distance <= 0) return 0;
  if ((distance >> 32) >= (int64_t{1} << 24)) {
    // Too far for 24.8, which only a very long sample gets to; but a fast
    // enough step still crosses it within the call, so count exactly.
    if (step == 0) return -1;
    const uint64_t frames = (static_cast<uint64_t>(distance) - 1) / step + 1;
    return frames <= static_cast<uint64_t>(todo) ? static_cast<int32_t>(frames) : -1;
  }
  // Both as 24.8 in 32 bits.
  const uint32_t distance24 = static_cast<uint32_t>(distance >> 24);
  uint64_t step24 = (step == 0 ? minimumStep : step) >> 24;
  if (step24 == 0) step24 = minimumStep >> 24;
  if (step24 > 0xFFFFFFFFu) step24 = 0xFFFFFFFFu;
  const uint64_t frames = (distance24 + step24 - 1) / step24;
  return frames <= static_cast<uint64_t>(todo) ? static_cast<int32_t>(frames) : -1;
}

// Puts a voice that reached its boundary back inside its loop, or stops it.
// Returns false when the voice has stopped.
bool wrap(MixVoice& v, int64_t& pos) {
  const XmSample* s = v.sample;
  const int64_t loopStart = int64_t{s->loopStart} * one;
  const int64_t loopLength = int64_t{s->loopLength} * one;
  const int64_t loopEnd = loopStart + loopLength;
  if (loopLength > 0 && s->loopMode == XM_LOOP_FORWARD) {
    // Subtract the loop length at least once until below the loop end, in
    // one step however far the position ran.
    int64_t times = 1;
    if ((pos >> 32) >= (loopEnd >> 32)) times = ((pos >> 32) - (loopEnd >> 32)) / s->loopLength + 1;
    pos -= times * loopLength;
    return true;
  }
  if (loopLength > 0 && s->loopMode == XM_LOOP_PINGPONG) {
    const int64_t period = 2 * loopLength;
    // Two reflections move an overshoot by exactly one period, so whole
    // periods are dropped first and at most a few reflections remain.
    if (v.direction != 2) {
      if (pos - loopEnd >= period) pos = loopEnd + (pos - loopEnd) % period;
      pos = 2 * loopEnd - pos - 1;
      v.direction = 2;
    } else {
      if (loopStart - pos > period) pos = loopStart - ((loopStart - pos - 1) % period + 1);
      pos = 2 * loopStart - pos - 1;
      v.direction = 1;
    }
    for (;;) {
      if (v.direction == 2 && pos < loopStart) {
        pos = 2 * loopStart - pos - 1;
        v.direction = 1;
      } else if (v.direction == 1 && pos >= loopEnd) {
        pos = 2 * loopEnd - pos - 1;
        v.direction = 2;
      } else {
        return true;
      }
    }
  }
  v.sample = nullptr;
  v.position = 0;
  v.fraction = 0;
  return false;
}

void mix_voice(MixVoice& v, float* buffer, int32_t frames) {
  const int16_t* data = v.sample->data;
  int64_t pos = static_cast<int64_t>(static_cast<uint64_t>(static_cast<int64_t>(v.position)) << 32) + v.fraction;
  const uint64_t step = static_cast<uint64_t>(static_cast<uint32_t>(v.stepWhole)) << 32 | v.stepFraction;
  int32_t done = 0;
  while (done < frames) {
    const int32_t todo = frames - done < maxPass ? frames - done : maxPass;
    int32_t pass = todo;
    const int32_t toBoundary = frames_to_boundary(v, pos, step, todo);
    bool boundary = false;
    if (toBoundary >= 0) {
      pass = toBoundary;
      boundary = true;
    }

    if (!(v.rampFramesLeft != 0 && v.leftLevel == v.lastLeftTarget && v.rightLevel == v.lastRightTarget)) {
      v.lastLeftTarget = v.leftLevel;
      v.lastRightTarget = v.rightLevel;
      v.rampLeftDelta = v.leftLevel == (v.rampLeft >> 8)
                            ? 0.0f
                            : static_cast<float>(v.leftLevel - (v.rampLeft >> 8)) / 255.0f * rampScale;
      v.rampRightDelta = v.rightLevel == (v.rampRight >> 8)
                             ? 0.0f
                             : static_cast<float>(v.rightLevel - (v.rampRight >> 8)) / 255.0f * rampScale;
      v.rampFramesLeft = (v.rampLeftDelta != 0.0f || v.rampRightDelta != 0.0f) ? rampFrames : 0;
    }
    const bool ramping = v.rampFramesLeft != 0;
    if (ramping && v.rampFramesLeft < pass) {
      pass = v.rampFramesLeft;
      boundary = false;
    }

    float* out = buffer + 2 * static_cast<int64_t>(done);
    const bool forward = v.direction != 2;
    if (ramping) {
      float gainLeft = static_cast<float>(v.rampLeft) / 256.0f / 255.0f;
      float gainRight = static_cast<float>(v.rampRight) / 256.0f / 255.0f;
      for (int32_t i = 0; i < pass; ++i) {
        const int32_t at = static_cast<int32_t>(pos >> 32);
        const float s0 = data[at], s1 = data[at + 1];
        const float t = static_cast<float>(static_cast<uint32_t>(pos) >> 1) * 4.656612873077392578125e-10f;
        const float s = s0 + t * (s1 - s0);
        out[2 * i] += s * gainLeft;
        out[2 * i + 1] += s * gainRight;
        gainLeft += v.rampLeftDelta;
        gainRight += v.rampRightDelta;
        pos = forward ? static_cast<int64_t>(static_cast<uint64_t>(pos) + step)
                      : static_cast<int64_t>(static_cast<uint64_t>(pos) - step);
      }
      v.rampLeft = static_cast<int32_t>(std::lrintf(gainLeft * 255.0f * 256.0f));
      v.rampRight = static_cast<int32_t>(std::lrintf(gainRight * 255.0f * 256.0f));
      v.rampFramesLeft -= pass;
      if (v.rampFramesLeft == 0) {
        v.rampLeftDelta = v.rampRightDelta = 0.0f;
        v.rampLeft = v.leftLevel * 256;
        v.rampRight = v.rightLevel * 256;
      }
    } else {
      const float left = static_cast<float>(v.leftLevel);
      const float right = static_cast<float>(v.rightLevel);
      for (int32_t i = 0; i < pass; ++i) {
        const int32_t at = static_cast<int32_t>(pos >> 32);
        const float s0 = data[at], s1 = data[at + 1];
        const float t = static_cast<float>(static_cast<uint32_t>(pos) >> 1) * 4.656612873077392578125e-10f;
        const float s = s0 + t * (s1 - s0);
        out[2 * i] += s * left / 255.0f;
        out[2 * i + 1] += s * right / 255.0f;
        pos = forward ? static_cast<int64_t>(static_cast<uint64_t>(pos) + step)
                      : static_cast<int64_t>(static_cast<uint64_t>(pos) - step);
      }
    }
    done += pass;

    if (boundary && !wrap(v, pos)) return;
  }
  v.position = static_cast<int32_t>(pos >> 32);
  v.fraction = static_cast<uint32_t>(pos);
}

}  // namespace

void mix_set_rate() {
  invMixRate = 1.0f / static_cast<float>(mixRate);
  rampFrames = mixRate * 128 / 44100;
  if (rampFrames < 1) rampFrames = 1;
  rampScale = 1.0f / static_cast<float>(rampFrames);
}

void mix_voices(float* buffer, int32_t frames) {
  if (frames <= 0 || !buffer) return;
  for (int i = 0; i < XM_MIXED_VOICES; ++i) {
    MixVoice& v = voices[i];
    if (!v.sample) continue;
    if (!v.sample->data) {
      // Nothing to play (an empty sample): the note ends at once.
      v.sample = nullptr;
      v.position = 0;
      v.fraction = 0;
      continue;
    }
    mix_voice(v, buffer, frames);
  }
}

void mix_to_pcm16(int16_t* destination, const float* source, int32_t frames) {
  if (frames <= 0 || !destination || !source) return;
  const int64_t count = 2 * static_cast<int64_t>(frames);
  for (int64_t i = 0; i < count; ++i) {
    const float x = source[i];
    int16_t value;
    if (x >= 32767.0f) {
      value = 32767;
    } else if (x <= -32768.0f) {
      value = -32768;
    } else if (x == x) {
      value = static_cast<int16_t>(std::lrintf(x));  // ties to even
    } else {
      value = 0;
    }
    destination[i] = value;
  }
}
