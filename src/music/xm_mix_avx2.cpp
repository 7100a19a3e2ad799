// Eight frames at a time with AVX2: positions stepped as 64-bit lanes, both
// interpolation samples of each frame picked as one 32-bit pair. Compiled
// for AVX2 and FMA alone and only called when the processor has both.
#include <immintrin.h>

#include "music/xm_mix_kernels.h"

namespace {

// Eight frames' positions: lanes hold frames 0, 1, 4, 5 and 2, 3, 6, 7, the
// order in which picking the 32-bit halves yields frames 0..7 in turn.
struct Positions {
  __m256i a, b;
};

inline Positions start_positions(uint64_t p, uint64_t d) {
  const auto at = [p, d](uint64_t k) { return static_cast<long long>(p + k * d); };
  return Positions{_mm256_setr_epi64x(at(0), at(1), at(4), at(5)), _mm256_setr_epi64x(at(2), at(3), at(6), at(7))};
}

// Both interpolation samples of eight frames, each pair as one 32-bit
// value. While the frames lie within 15 sample frames of each other (a step
// up to about two frames) the pairs are picked from two plain loads, one
// holding the pairs that start at even offsets and one those at odd ones; a
// gather, far slower on some processors, only serves faster voices and the
// last frames of a sample.
inline __m256i sample_pairs(const MixRun& run, __m256i index, uint64_t position, int32_t valid) {
  const int64_t first = static_cast<int32_t>(position >> 32);
  const int64_t last = static_cast<int32_t>((position + static_cast<uint64_t>(valid - 1) * run.delta) >> 32);
  const int64_t low = first < last ? first : last;
  const int64_t high = first < last ? last : first;
  if (high - low < 15 && low >= -8 && low + 17 <= run.readable) {
    const int16_t* window = run.data + low;
    const __m256i even = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(window));
    const __m256i odd = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(window + 1));
    const __m256i offset = _mm256_sub_epi32(index, _mm256_set1_epi32(static_cast<int32_t>(low)));
    const __m256i half = _mm256_srli_epi32(offset, 1);
    const __m256 fromEven = _mm256_castsi256_ps(_mm256_permutevar8x32_epi32(even, half));
    const __m256 fromOdd = _mm256_castsi256_ps(_mm256_permutevar8x32_epi32(odd, half));
    return _mm256_castps_si256(_mm256_blendv_ps(fromEven, fromOdd, _mm256_castsi256_ps(_mm256_slli_epi32(offset, 31))));
  }
  return _mm256_i32gather_epi32(reinterpret_cast<const int*>(run.data), index, 2);
}

// Lanes 0..valid-1 set.
inline __m256i lanes_below(int32_t valid) {
  return _mm256_cmpgt_epi32(_mm256_set1_epi32(valid), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
}

// The interpolated values of the first `valid` frames; the lanes after them
// read frame 0's samples again, so that no lane reads outside the sample.
inline __m256 interpolate(const MixRun& run, const Positions& p, uint64_t position, int32_t valid) {
  const __m256 ha = _mm256_castsi256_ps(p.a), hb = _mm256_castsi256_ps(p.b);
  __m256i index = _mm256_castps_si256(_mm256_shuffle_ps(ha, hb, _MM_SHUFFLE(3, 1, 3, 1)));
  if (valid < 8) {
    index = _mm256_blendv_epi8(_mm256_set1_epi32(static_cast<int32_t>(position >> 32)), index, lanes_below(valid));
  }
  const __m256i fraction = _mm256_castps_si256(_mm256_shuffle_ps(ha, hb, _MM_SHUFFLE(2, 0, 2, 0)));
  const __m256i pairs = sample_pairs(run, index, position, valid);
  const __m256 s0 = _mm256_cvtepi32_ps(_mm256_srai_epi32(_mm256_slli_epi32(pairs, 16), 16));
  const __m256 s1 = _mm256_cvtepi32_ps(_mm256_srai_epi32(pairs, 16));
  const __m256 t = _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_srli_epi32(fraction, 1)),
                                 _mm256_set1_ps(4.656612873077392578125e-10f));
  return _mm256_add_ps(s0, _mm256_mul_ps(t, _mm256_sub_ps(s1, s0)));
}

// Adds the 16 floats of 8 frames at out, or those of the first `valid`.
inline void add_to(float* out, __m256 first, __m256 second, int32_t valid) {
  if (valid == 8) {
    _mm256_storeu_ps(out, _mm256_add_ps(_mm256_loadu_ps(out), first));
    _mm256_storeu_ps(out + 8, _mm256_add_ps(_mm256_loadu_ps(out + 8), second));
    return;
  }
  const __m256i low = lanes_below(2 * valid), high = lanes_below(2 * valid - 8);
  _mm256_maskstore_ps(out, low, _mm256_add_ps(_mm256_maskload_ps(out, low), first));
  _mm256_maskstore_ps(out + 8, high, _mm256_add_ps(_mm256_maskload_ps(out + 8, high), second));
}

// Which sides need their own division: equal levels share one, and a side
// at level 0 adds nothing (its products are zeros, which change no sum).
enum class Sides { Both, Same, LeftOnly, RightOnly };

// x / 255 with the division's bits (mix_divide_255), at a fraction of its cost.
inline __m256 divide_255(__m256 x) {
  return _mm256_fmadd_ps(x, _mm256_set1_ps(mixReciprocal255High), _mm256_mul_ps(x, _mm256_set1_ps(mixReciprocal255Low)));
}

uint64_t plain(const MixRun& run, float left, float right) {
  const Sides sides = left == right ? Sides::Same
                      : right == 0.0f ? Sides::LeftOnly
                      : left == 0.0f  ? Sides::RightOnly
                                      : Sides::Both;
  uint64_t position = run.position;
  Positions p = start_positions(position, run.delta);
  const __m256i advance = _mm256_set1_epi64x(static_cast<long long>(8 * run.delta));
  const __m256 gainLeft = _mm256_set1_ps(left), gainRight = _mm256_set1_ps(right);
  for (int32_t i = 0; i < run.frames; i += 8) {
    const int32_t valid = run.frames - i < 8 ? run.frames - i : 8;
    const __m256 s = interpolate(run, p, position, valid);
    p.a = _mm256_add_epi64(p.a, advance);
    p.b = _mm256_add_epi64(p.b, advance);
    position += 8 * run.delta;
    __m256 l = _mm256_setzero_ps(), r = _mm256_setzero_ps();
    if (sides != Sides::RightOnly) l = divide_255(_mm256_mul_ps(s, gainLeft));
    if (sides == Sides::Same) r = l;
    if (sides == Sides::Both || sides == Sides::RightOnly) r = divide_255(_mm256_mul_ps(s, gainRight));
    // Left and right interleaved: frames 0..3, then 4..7.
    const __m256 lo = _mm256_unpacklo_ps(l, r), hi = _mm256_unpackhi_ps(l, r);
    add_to(run.out + 2 * i, _mm256_permute2f128_ps(lo, hi, 0x20), _mm256_permute2f128_ps(lo, hi, 0x31), valid);
  }
  return run.position + static_cast<uint64_t>(run.frames) * run.delta;
}

uint64_t ramp(const MixRun& run, float* gainLeft, float* gainRight, float deltaLeft, float deltaRight) {
  constexpr int32_t chunk = 128;
  alignas(32) float gains[2 * chunk];
  const __m256i advance = _mm256_set1_epi64x(static_cast<long long>(8 * run.delta));
  uint64_t position = run.position;
  for (int32_t from = 0; from < run.frames; from += chunk) {
    const int32_t count = run.frames - from < chunk ? run.frames - from : chunk;
    mix_ramp_gains(gains, count, gainLeft, gainRight, deltaLeft, deltaRight);
    // The last vector's lanes past the run are multiplied but not stored:
    // zeros keep them plain numbers.
    for (int32_t k = 2 * count; k < 2 * ((count + 7) & ~7); ++k) gains[k] = 0.0f;
    Positions p = start_positions(position, run.delta);
    for (int32_t i = 0; i < count; i += 8) {
      const int32_t valid = count - i < 8 ? count - i : 8;
      const __m256 s = interpolate(run, p, position, valid);
      p.a = _mm256_add_epi64(p.a, advance);
      p.b = _mm256_add_epi64(p.b, advance);
      position += 8 * run.delta;
      const float* g = gains + 2 * i;
      const __m256 lo = _mm256_unpacklo_ps(s, s), hi = _mm256_unpackhi_ps(s, s);
      add_to(run.out + 2 * (from + i), _mm256_mul_ps(_mm256_permute2f128_ps(lo, hi, 0x20), _mm256_load_ps(g)),
             _mm256_mul_ps(_mm256_permute2f128_ps(lo, hi, 0x31), _mm256_load_ps(g + 8)), valid);
    }
  }
  return run.position + static_cast<uint64_t>(run.frames) * run.delta;
}

}  // namespace

const MixKernels mixAvx2Kernels{plain, ramp, mix_pcm16_sse2, true};
