// The software mixer: resamples voices 0..63 into an interleaved stereo float
// buffer and converts finished blocks to 16-bit PCM.
#pragma once

#include <cstdint>

#include "music/xm_types.h"

// What the mixer derives from the output rate.
struct XmMixRate {
  int32_t rate;        // output frames per second
  float invRate;       // 1 / rate in single precision
  int32_t rampFrames;  // volume ramp length: 128 frames at 44100 Hz
  float rampScale;     // 1 / rampFrames
};

// The mixer's constants for `rate` frames per second.
XmMixRate xm_mix_rate(int32_t rate);

// Adds every sounding voice of `voices` (the first XM_MIXED_VOICES) into
// `frames` frames (left, right) of buffer, ramping by `rate`. Does nothing
// for frames <= 0. The caller zeroes the buffer first.
void mix_voices(MixVoice* voices, const XmMixRate& rate, float* buffer, int32_t frames);

// Rounds 2 x frames floats to the nearest integer (ties to even), limits
// them to -32768..32767 and stores them. Nothing for frames <= 0 or null.
void mix_to_pcm16(int16_t* destination, const float* source, int32_t frames);

// The code that mixes. Best, the default, is the fastest this processor
// runs; every path gives the same bits. The choice is the one thing the
// player keeps for the whole process: it holds for every context. Scalar is the plain frame-by-frame
// reference; Portable is the same without vectors, for other processors.
enum class MixPath : int { Best, Scalar, Portable, Sse2, Avx2, Avx512 };

// Chooses the path for all later mixing, for tests and benchmarks that
// compare them. Returns false, changing nothing, when this processor or
// build lacks it. Not to be called while another thread mixes.
bool mix_use_path(MixPath path);
// The path in use (never Best).
MixPath mix_path();
const char* mix_path_name(MixPath path);
