// The mixer's inner loops: one run of frames of one voice with a constant
// step and a constant or linearly ramping gain, no boundary inside. Every
// set of loops computes each frame with the same single-precision operations
// in the same order, so all of them give the same bits; the vector sets only
// do several frames at once.
#pragma once

#include <cmath>
#include <cstdint>

struct MixRun {
  float* out;            // interleaved left, right
  const int16_t* data;   // the sample's frames
  int64_t readable;      // data[-8] up to data[readable - 1] may be read
  uint64_t position;     // 32.32, two's complement
  uint64_t delta;        // added per frame: the step, negated backwards
  int32_t frames;
};

// Mix at fixed levels 0..127 (as floats); returns the position after the run.
using MixPlainFn = uint64_t (*)(const MixRun& run, float left, float right);
// Mix with gains that grow by the deltas after each frame; the gains are
// left where the run ended. Returns the position after the run.
using MixRampFn = uint64_t (*)(const MixRun& run, float* gainLeft, float* gainRight, float deltaLeft,
                               float deltaRight);
// Rounds `count` floats to 16-bit values (ties to even), limits, NaN to 0.
using MixPcmFn = void (*)(int16_t* destination, const float* source, int64_t count);

struct MixKernels {
  MixPlainFn plain;
  MixRampFn ramp;
  MixPcmFn pcm16;
  // Whether a voice at level 0 on both sides is only moved on: adding its
  // zero products would leave every sum as it was.
  bool skipSilent;
};

// Frame by frame: the reference, mixing every voice it is given.
extern const MixKernels mixScalarKernels;
// The same loops, skipping silent voices: for processors without vectors.
extern const MixKernels mixPortableKernels;
// The build says which vector sets it compiles (cmake/MixKernels.cmake).
#ifdef VANTOR_MIX_X86
extern const MixKernels mixSse2Kernels;
extern const MixKernels mixAvx2Kernels;
#ifdef VANTOR_MIX_AVX512
extern const MixKernels mixAvx512Kernels;
#endif
// The wider sets convert with this one: the conversion is a small share.
void mix_pcm16_sse2(int16_t* destination, const float* source, int64_t count);
#endif

// One frame, as every set computes it: linear interpolation by the top 31
// bits of the fraction.
inline float mix_sample_at(const int16_t* data, uint64_t position) {
  const int32_t at = static_cast<int32_t>(position >> 32);
  const float s0 = data[at];
  const float s1 = data[at + 1];
  const float t = static_cast<float>(static_cast<uint32_t>(position) >> 1) * 4.656612873077392578125e-10f;
  return s0 + t * (s1 - s0);
}

// Frames from..to-1 of a run, one at a time; returns the position after them.
inline uint64_t mix_plain_frames(const MixRun& run, int32_t from, int32_t to, uint64_t position, float left,
                                 float right) {
  for (int32_t i = from; i < to; ++i) {
    const float s = mix_sample_at(run.data, position);
    run.out[2 * i] += s * left / 255.0f;
    run.out[2 * i + 1] += s * right / 255.0f;
    position += run.delta;
  }
  return position;
}

inline uint64_t mix_ramp_frames(const MixRun& run, int32_t from, int32_t to, uint64_t position, float* gainLeft,
                                float* gainRight, float deltaLeft, float deltaRight) {
  float gl = *gainLeft, gr = *gainRight;
  for (int32_t i = from; i < to; ++i) {
    const float s = mix_sample_at(run.data, position);
    run.out[2 * i] += s * gl;
    run.out[2 * i + 1] += s * gr;
    gl += deltaLeft;
    gr += deltaRight;
    position += run.delta;
  }
  *gainLeft = gl;
  *gainRight = gr;
  return position;
}

// The gains of frames 0..count-1 of a ramp, left and right interleaved, and
// the gains after them. They are a running sum, so they are added up one
// frame after another, ahead of the vector work that reads them.
inline void mix_ramp_gains(float* gains, int32_t count, float* gainLeft, float* gainRight, float deltaLeft,
                           float deltaRight) {
  float gl = *gainLeft, gr = *gainRight;
  for (int32_t k = 0; k < count; ++k) {
    gains[2 * k] = gl;
    gains[2 * k + 1] = gr;
    gl += deltaLeft;
    gr += deltaRight;
  }
  *gainLeft = gl;
  *gainRight = gr;
}

// x / 255 without dividing: the reciprocal split into a high and a low
// float, x times the low part added to x times the high part in one
// rounding (a fused multiply-add). For every float of magnitude 2^-107 or
// more this is the correctly rounded quotient (checked for each significand
// of each of those binades), and a sample value times a level, the only
// thing the mixer divides, is 0 or at least 2^-31 in magnitude: the vector
// loops that have fused multiply-adds use it for the division's bits.
constexpr float mixReciprocal255High = 0x1.010102p-8f;
constexpr float mixReciprocal255Low = -0x1.fdfdfep-33f;
inline float mix_divide_255(float x) { return std::fma(x, mixReciprocal255High, x * mixReciprocal255Low); }

inline int16_t mix_pcm_value(float x) {
  if (x >= 32767.0f) return 32767;
  if (x <= -32768.0f) return -32768;
  if (x != x) return 0;
  return static_cast<int16_t>(std::lrintf(x));  // ties to even: the rounding mode is never changed
}
