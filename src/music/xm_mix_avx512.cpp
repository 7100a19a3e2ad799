// Sixteen frames at a time with AVX-512 (F and BW): the AVX2 loops one size
// up, with the last frames of a run done by masked vectors as well.
// Compiled for AVX-512 alone and only called when the processor has it.
#if defined(__GNUC__) && !defined(__clang__)
// GCC 12's own AVX-512 headers trip this warning on their undefined vectors.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#include <immintrin.h>

#include "music/xm_mix_kernels.h"

namespace {

// Frames 0..7 and 8..15 as 64-bit lanes.
struct Positions {
  __m512i a, b;
};

// p + k x d in 64-bit lanes, modulo 2^64 as the scalar loops count: k x d
// is k times d's low half plus k times its high half shifted up.
inline Positions start_positions(uint64_t p, uint64_t d) {
  const __m512i k = _mm512_setr_epi64(0, 1, 2, 3, 4, 5, 6, 7);
  const __m512i low = _mm512_set1_epi64(static_cast<long long>(d & 0xFFFFFFFFu));
  const __m512i high = _mm512_set1_epi64(static_cast<long long>(d >> 32));
  const __m512i times = _mm512_add_epi64(_mm512_mul_epu32(k, low), _mm512_slli_epi64(_mm512_mul_epu32(k, high), 32));
  const __m512i a = _mm512_add_epi64(_mm512_set1_epi64(static_cast<long long>(p)), times);
  return Positions{a, _mm512_add_epi64(a, _mm512_set1_epi64(static_cast<long long>(8 * d)))};
}

// Both interpolation samples of sixteen frames, each pair as one 32-bit
// value. While the frames lie within 63 sample frames of each other (a step
// up to about four frames) they are picked from two plain loads by a word
// permute; a gather, far slower here, only serves faster voices and the
// last frames of a sample.
inline __m512i sample_pairs(const MixRun& run, __m512i index, uint64_t position, int32_t valid) {
  const int64_t first = static_cast<int32_t>(position >> 32);
  const int64_t last = static_cast<int32_t>((position + static_cast<uint64_t>(valid - 1) * run.delta) >> 32);
  const int64_t low = first < last ? first : last;
  const int64_t high = first < last ? last : first;
  // Up to 31 frames apart (a step up to about two frames, most notes),
  // one load holds them all.
  if (high - low < 31 && low >= -8 && low + 32 <= run.readable) {
    const __m512i offset = _mm512_sub_epi32(index, _mm512_set1_epi32(static_cast<int32_t>(low)));
    const __m512i words = _mm512_or_si512(offset, _mm512_slli_epi32(_mm512_add_epi32(offset, _mm512_set1_epi32(1)), 16));
    return _mm512_permutexvar_epi16(words, _mm512_loadu_si512(run.data + low));
  }
  if (high - low < 63 && low >= -8 && low + 64 <= run.readable) {
    const int16_t* window = run.data + low;
    const __m512i a = _mm512_loadu_si512(window);
    const __m512i b = _mm512_loadu_si512(window + 32);
    const __m512i offset = _mm512_sub_epi32(index, _mm512_set1_epi32(static_cast<int32_t>(low)));
    // Word k of the pair is frame offset + k.
    const __m512i words = _mm512_or_si512(offset, _mm512_slli_epi32(_mm512_add_epi32(offset, _mm512_set1_epi32(1)), 16));
    return _mm512_permutex2var_epi16(a, words, b);
  }
  return _mm512_i32gather_epi32(index, run.data, 2);
}

// The interpolated values of the first `valid` frames; the lanes after them
// read frame 0's samples again, so that no lane reads outside the sample.
inline __m512 interpolate(const MixRun& run, const Positions& p, uint64_t position, int32_t valid) {
  const __m512i odd = _mm512_setr_epi32(1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31);
  const __m512i even = _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
  __m512i index = _mm512_permutex2var_epi32(p.a, odd, p.b);
  if (valid < 16) {
    const auto lanes = static_cast<__mmask16>((1u << valid) - 1);
    index = _mm512_mask_blend_epi32(lanes, _mm512_set1_epi32(static_cast<int32_t>(position >> 32)), index);
  }
  const __m512i fraction = _mm512_permutex2var_epi32(p.a, even, p.b);
  const __m512i pairs = sample_pairs(run, index, position, valid);
  const __m512 s0 = _mm512_cvtepi32_ps(_mm512_srai_epi32(_mm512_slli_epi32(pairs, 16), 16));
  const __m512 s1 = _mm512_cvtepi32_ps(_mm512_srai_epi32(pairs, 16));
  const __m512 t = _mm512_mul_ps(_mm512_cvtepi32_ps(_mm512_srli_epi32(fraction, 1)),
                                 _mm512_set1_ps(4.656612873077392578125e-10f));
  return _mm512_add_ps(s0, _mm512_mul_ps(t, _mm512_sub_ps(s1, s0)));
}

// Adds v to the 32 floats of 16 frames at out, or to those of the first
// `valid` frames.
inline void add_to(float* out, __m512 first, __m512 second, int32_t valid) {
  if (valid == 16) {
    _mm512_storeu_ps(out, _mm512_add_ps(_mm512_loadu_ps(out), first));
    _mm512_storeu_ps(out + 16, _mm512_add_ps(_mm512_loadu_ps(out + 16), second));
    return;
  }
  const uint32_t floats = static_cast<uint32_t>(2 * valid);
  const auto low = static_cast<__mmask16>(floats >= 16 ? 0xFFFFu : (1u << floats) - 1);
  const auto high = static_cast<__mmask16>(floats <= 16 ? 0u : (1u << (floats - 16)) - 1);
  _mm512_mask_storeu_ps(out, low, _mm512_add_ps(_mm512_maskz_loadu_ps(low, out), first));
  _mm512_mask_storeu_ps(out + 16, high, _mm512_add_ps(_mm512_maskz_loadu_ps(high, out + 16), second));
}

// Which sides need their own division: equal levels share one, and a side
// at level 0 adds nothing (its products are zeros, which change no sum).
enum class Sides { Both, Same, LeftOnly, RightOnly };

// x / 255 with the division's bits (mix_divide_255), at a fraction of its cost.
inline __m512 divide_255(__m512 x) {
  return _mm512_fmadd_ps(x, _mm512_set1_ps(mixReciprocal255High), _mm512_mul_ps(x, _mm512_set1_ps(mixReciprocal255Low)));
}

uint64_t plain(const MixRun& given, float left, float right) {
  const MixRun run = given;  // a copy no store into the mix can change
  const Sides sides = left == right ? Sides::Same
                      : right == 0.0f ? Sides::LeftOnly
                      : left == 0.0f  ? Sides::RightOnly
                                      : Sides::Both;
  uint64_t position = run.position;
  const __m512i advance = _mm512_set1_epi64(static_cast<long long>(16 * run.delta));
  const __m512 gainLeft = _mm512_set1_ps(left), gainRight = _mm512_set1_ps(right);
  const __m512i interleaveFirst = _mm512_setr_epi32(0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
  const __m512i interleaveSecond = _mm512_setr_epi32(8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31);
  Positions p = start_positions(position, run.delta);
  for (int32_t i = 0; i < run.frames; i += 16) {
    const int32_t valid = run.frames - i < 16 ? run.frames - i : 16;
    const __m512 s = interpolate(run, p, position, valid);
    p.a = _mm512_add_epi64(p.a, advance);
    p.b = _mm512_add_epi64(p.b, advance);
    position += 16 * run.delta;
    __m512 l = _mm512_setzero_ps(), r = _mm512_setzero_ps();
    if (sides != Sides::RightOnly) l = divide_255(_mm512_mul_ps(s, gainLeft));
    if (sides == Sides::Same) r = l;
    if (sides == Sides::Both || sides == Sides::RightOnly) r = divide_255(_mm512_mul_ps(s, gainRight));
    add_to(run.out + 2 * i, _mm512_permutex2var_ps(l, interleaveFirst, r), _mm512_permutex2var_ps(l, interleaveSecond, r),
           valid);
  }
  return run.position + static_cast<uint64_t>(run.frames) * run.delta;
}


// Sixteen steps of one side's running sum g, g + d, ... (each sum rounded),
// guessed and then checked. The guess is g + j x D with D = (g + d) - g: a
// ramp's sums step by the same amount until they cross a power of two. The
// guess is the running sum as far as each guessed value plus d rounds to
// the next guessed value bit for bit, so however good the guess, what is
// kept is exact.
struct RunningSum {
  __m512 values;   // the guess for frames 0..15
  __m512 sums;     // lane j: values[j] + d, rounded
  uint32_t good;   // the first `good` values are the running sum (1..16)
};

inline RunningSum running_sum(float g, float d) {
  const __m512 index = _mm512_setr_ps(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  const float step = (g + d) - g;
  RunningSum r;
  r.values = _mm512_add_ps(_mm512_set1_ps(g), _mm512_mul_ps(index, _mm512_set1_ps(step)));
  r.sums = _mm512_add_ps(r.values, _mm512_set1_ps(d));
  const __m512i bits = _mm512_castps_si512(r.values);
  // Lane j holds values[j + 1]; lane 15's comparison is not used.
  const __m512i following = _mm512_alignr_epi32(bits, bits, 1);
  const uint32_t same = _mm512_cmpeq_epi32_mask(_mm512_castps_si512(r.sums), following) & 0x7FFFu;
  uint32_t checked = 0;
  if (same == 0x7FFFu) {
    checked = 15;
  } else {
    while (same >> checked & 1u) ++checked;
  }
  r.good = checked + 1;
  return r;
}

inline float lane(__m512 v, uint32_t i) {
  return _mm512_cvtss_f32(_mm512_permutexvar_ps(_mm512_set1_epi32(static_cast<int>(i)), v));
}

// mix_ramp_gains sixteen frames at a time: gains of `count` frames, left and
// right interleaved, and the gains after them; writes up to 32 floats past
// the last frame's.
void ramp_gains(float* gains, int32_t count, float* gainLeft, float* gainRight, float deltaLeft, float deltaRight) {
  const __m512i interleaveFirst = _mm512_setr_epi32(0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
  const __m512i interleaveSecond = _mm512_setr_epi32(8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31);
  float gl = *gainLeft, gr = *gainRight;
  for (int32_t k = 0; k < count;) {
    const RunningSum l = running_sum(gl, deltaLeft), r = running_sum(gr, deltaRight);
    uint32_t frames = l.good < r.good ? l.good : r.good;
    if (static_cast<int32_t>(frames) > count - k) frames = static_cast<uint32_t>(count - k);
    _mm512_storeu_ps(gains + 2 * k, _mm512_permutex2var_ps(l.values, interleaveFirst, r.values));
    _mm512_storeu_ps(gains + 2 * k + 16, _mm512_permutex2var_ps(l.values, interleaveSecond, r.values));
    gl = lane(l.sums, frames - 1);
    gr = lane(r.sums, frames - 1);
    k += static_cast<int32_t>(frames);
  }
  *gainLeft = gl;
  *gainRight = gr;
}

uint64_t ramp(const MixRun& given, float* gainLeft, float* gainRight, float deltaLeft, float deltaRight) {
  const MixRun run = given;  // a copy no store into the mix can change
  constexpr int32_t chunk = 128;
  alignas(64) float gains[2 * chunk + 32];
  const __m512i first = _mm512_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7);
  const __m512i second = _mm512_setr_epi32(8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14, 15, 15);
  const __m512i advance = _mm512_set1_epi64(static_cast<long long>(16 * run.delta));
  uint64_t position = run.position;
  for (int32_t from = 0; from < run.frames; from += chunk) {
    const int32_t count = run.frames - from < chunk ? run.frames - from : chunk;
    ramp_gains(gains, count, gainLeft, gainRight, deltaLeft, deltaRight);
    // The last vector's lanes past the run are multiplied but not stored:
    // zeros keep them plain numbers.
    for (int32_t k = 2 * count; k < 2 * ((count + 15) & ~15); ++k) gains[k] = 0.0f;
    Positions p = start_positions(position, run.delta);
    for (int32_t i = 0; i < count; i += 16) {
      const int32_t valid = count - i < 16 ? count - i : 16;
      const __m512 s = interpolate(run, p, position, valid);
      p.a = _mm512_add_epi64(p.a, advance);
      p.b = _mm512_add_epi64(p.b, advance);
      position += 16 * run.delta;
      const float* g = gains + 2 * i;
      add_to(run.out + 2 * (from + i), _mm512_mul_ps(_mm512_permutexvar_ps(first, s), _mm512_load_ps(g)),
             _mm512_mul_ps(_mm512_permutexvar_ps(second, s), _mm512_load_ps(g + 16)), valid);
    }
  }
  return run.position + static_cast<uint64_t>(run.frames) * run.delta;
}

// Sixteen values at a time, as the SSE2 conversion: NaN to 0, clamped, then
// rounded ties to even.
void pcm16(int16_t* destination, const float* source, int64_t count) {
  const int64_t whole = count & ~int64_t{15};
  for (int64_t i = 0; i < whole; i += 16) {
    __m512 x = _mm512_loadu_ps(source + i);
    x = _mm512_maskz_mov_ps(_mm512_cmp_ps_mask(x, x, _CMP_ORD_Q), x);
    x = _mm512_min_ps(_mm512_max_ps(x, _mm512_set1_ps(-32768.0f)), _mm512_set1_ps(32767.0f));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(destination + i), _mm512_cvtsepi32_epi16(_mm512_cvtps_epi32(x)));
  }
  mix_pcm16_sse2(destination + whole, source + whole, count - whole);
}

}  // namespace

const MixKernels mixAvx512Kernels{plain, ramp, pcm16, true};
