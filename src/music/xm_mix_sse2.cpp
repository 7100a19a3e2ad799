// Four frames at a time with SSE2, the baseline of every x86 build: the
// positions are stepped one by one (SSE2 cannot gather), the interpolation,
// the gains and the sums are done on whole vectors.
#include <emmintrin.h>

#include <cstring>

#include "music/xm_mix_kernels.h"

namespace {

// Both interpolation samples of four frames, each pair in one 32-bit load,
// and the fractions' top 31 bits.
struct Quad {
  __m128i pairs;
  __m128i fractions;
};

inline Quad load_quad(const int16_t* data, uint64_t& position, uint64_t delta) {
  int32_t pair[4];
  int32_t fraction[4];
  for (int k = 0; k < 4; ++k) {
    std::memcpy(&pair[k], data + static_cast<int32_t>(position >> 32), 4);
    fraction[k] = static_cast<int32_t>(static_cast<uint32_t>(position) >> 1);
    position += delta;
  }
  return Quad{_mm_loadu_si128(reinterpret_cast<const __m128i*>(pair)),
              _mm_loadu_si128(reinterpret_cast<const __m128i*>(fraction))};
}

inline __m128 interpolate(const Quad& q) {
  const __m128 s0 = _mm_cvtepi32_ps(_mm_srai_epi32(_mm_slli_epi32(q.pairs, 16), 16));
  const __m128 s1 = _mm_cvtepi32_ps(_mm_srai_epi32(q.pairs, 16));
  const __m128 t = _mm_mul_ps(_mm_cvtepi32_ps(q.fractions), _mm_set1_ps(4.656612873077392578125e-10f));
  return _mm_add_ps(s0, _mm_mul_ps(t, _mm_sub_ps(s1, s0)));
}

uint64_t plain(const MixRun& run, float left, float right) {
  uint64_t position = run.position;
  const __m128 gains = _mm_setr_ps(left, right, left, right);
  const __m128 divisor = _mm_set1_ps(255.0f);
  const int32_t whole = run.frames & ~3;
  for (int32_t i = 0; i < whole; i += 4) {
    const __m128 s = interpolate(load_quad(run.data, position, run.delta));
    float* out = run.out + 2 * i;
    const __m128 a = _mm_div_ps(_mm_mul_ps(_mm_unpacklo_ps(s, s), gains), divisor);
    const __m128 b = _mm_div_ps(_mm_mul_ps(_mm_unpackhi_ps(s, s), gains), divisor);
    _mm_storeu_ps(out, _mm_add_ps(_mm_loadu_ps(out), a));
    _mm_storeu_ps(out + 4, _mm_add_ps(_mm_loadu_ps(out + 4), b));
  }
  return mix_plain_frames(run, whole, run.frames, position, left, right);
}

uint64_t ramp(const MixRun& run, float* gainLeft, float* gainRight, float deltaLeft, float deltaRight) {
  uint64_t position = run.position;
  float gl = *gainLeft, gr = *gainRight;
  const int32_t whole = run.frames & ~3;
  for (int32_t i = 0; i < whole; i += 4) {
    // The gains are a running sum: added up one frame after another.
    alignas(16) float gains[8];
    for (int k = 0; k < 4; ++k) {
      gains[2 * k] = gl;
      gains[2 * k + 1] = gr;
      gl += deltaLeft;
      gr += deltaRight;
    }
    const __m128 s = interpolate(load_quad(run.data, position, run.delta));
    float* out = run.out + 2 * i;
    const __m128 a = _mm_mul_ps(_mm_unpacklo_ps(s, s), _mm_load_ps(gains));
    const __m128 b = _mm_mul_ps(_mm_unpackhi_ps(s, s), _mm_load_ps(gains + 4));
    _mm_storeu_ps(out, _mm_add_ps(_mm_loadu_ps(out), a));
    _mm_storeu_ps(out + 4, _mm_add_ps(_mm_loadu_ps(out + 4), b));
  }
  *gainLeft = gl;
  *gainRight = gr;
  return mix_ramp_frames(run, whole, run.frames, position, gainLeft, gainRight, deltaLeft, deltaRight);
}

// Clamped before converting, so the conversion never overflows; NaN is
// masked to 0 first because the min and max would pass it on.
inline __m128i convert4(const float* source) {
  __m128 x = _mm_loadu_ps(source);
  x = _mm_and_ps(x, _mm_cmpord_ps(x, x));
  x = _mm_min_ps(_mm_max_ps(x, _mm_set1_ps(-32768.0f)), _mm_set1_ps(32767.0f));
  return _mm_cvtps_epi32(x);  // ties to even, the default rounding
}

void pcm16(int16_t* destination, const float* source, int64_t count) {
  const int64_t whole = count & ~int64_t{7};
  for (int64_t i = 0; i < whole; i += 8) {
    const __m128i packed = _mm_packs_epi32(convert4(source + i), convert4(source + i + 4));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(destination + i), packed);
  }
  for (int64_t i = whole; i < count; ++i) destination[i] = mix_pcm_value(source[i]);
}

}  // namespace

void mix_pcm16_sse2(int16_t* destination, const float* source, int64_t count) { pcm16(destination, source, count); }

const MixKernels mixSse2Kernels{plain, ramp, pcm16, true};
