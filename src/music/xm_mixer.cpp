#include "music/xm_mixer.h"

#include <atomic>
#include <climits>
#include <cmath>

#include "music/xm_mix_kernels.h"
#include "music/xm_types.h"

#ifdef VANTOR_MIX_X86
#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#else
#include <cpuid.h>
#endif
#endif

namespace {

#ifdef VANTOR_MIX_X86
// Whether the processor has the instructions and the system saves the
// registers they use (XCR0: 0x6 the vector registers, 0xE6 with AVX-512's).
// Asked directly: the compiler's own check brings 5 KB of tables along.
struct Cpuid {
  uint32_t a, b, c, d;
};

Cpuid cpuid(uint32_t leaf) {
  Cpuid r{};
#if defined(_MSC_VER) && !defined(__clang__)
  int x[4];
  __cpuidex(x, static_cast<int>(leaf), 0);
  r = Cpuid{static_cast<uint32_t>(x[0]), static_cast<uint32_t>(x[1]), static_cast<uint32_t>(x[2]),
            static_cast<uint32_t>(x[3])};
#else
  __cpuid_count(leaf, 0, r.a, r.b, r.c, r.d);
#endif
  return r;
}

bool system_saves(uint64_t state) {
  if (!(cpuid(1).c & (1u << 27))) return false;  // no XGETBV
#if defined(_MSC_VER) && !defined(__clang__)
  const uint64_t enabled = _xgetbv(0);
#else
  uint32_t lo, hi;
  __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
  const uint64_t enabled = uint64_t{hi} << 32 | lo;
#endif
  return (enabled & state) == state;
}

// AVX2 with FMA: the AVX2 loops use fused multiply-adds as well.
bool cpu_has_avx2() {
  return cpuid(0).a >= 7 && (cpuid(1).c & (1u << 28)) && (cpuid(1).c & (1u << 12)) && (cpuid(7).b & (1u << 5)) &&
         system_saves(0x6);
}

#ifdef VANTOR_MIX_AVX512
bool cpu_has_avx512() {
  const uint32_t features = cpuid(0).a >= 7 ? cpuid(7).b : 0;
  return (features & (1u << 16)) && (features & (1u << 30)) && system_saves(0xE6);  // F and BW
}
#endif
#endif

constexpr int64_t one = int64_t{1} << 32;  // one frame in 32.32
// Stand-in for a zero step when counting frames (the step of 256 Hz).
constexpr uint64_t minimumStep = 0x17C6F8C;

// Frames until the voice reaches its boundary, or -1 when that is further
// than `todo` frames away. The count divides distance and step with 24
// fraction bits each; dropping the low 8 bits can make the count one frame
// too long, and that frame would already read past the loop end (into the
// guard and the zero slack: a click), so the count is also held to the
// exact one. Truncation can only make it shorter than exact, which wraps a
// hair early and is inaudible.
inline int32_t frames_to_boundary(const MixVoice& v, int64_t pos, uint64_t step, int32_t todo) {
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
  const uint64_t d = static_cast<uint64_t>(distance);
  // Most calls end well before the boundary: tell that by multiplying,
  // and divide only when it is within reach.
  const uint64_t n = static_cast<uint64_t>(todo);
  if (step != 0 && step <= UINT64_MAX / (n + 1) && d > n * step && (step >> 8 == 0 || (d >> 8) > n * (step >> 8))) {
    return -1;
  }
  uint64_t frames;
  if (step == 0) {
    frames = ((d >> 8) + (minimumStep >> 8) - 1) / (minimumStep >> 8);
  } else if (step >> 8 == 0) {
    frames = (d - 1) / step + 1;
  } else {
    const uint64_t step24 = step >> 8;
    frames = ((d >> 8) + step24 - 1) / step24;
    // Exact when its last frame still lies before the boundary.
    if (frames > 0 && (frames - 1) * step >= d) frames = (d - 1) / step + 1;
  }
  return frames <= static_cast<uint64_t>(todo) ? static_cast<int32_t>(frames) : -1;
}

// A released voice that has ramped out to silence is only ever overwritten
// (a new note copies the sounding voice over it), so it stops: mixing it on
// would add nothing and moving it on would change nothing anyone reads.
bool ramped_out(const MixVoice& v) {
  return v.released && v.leftLevel == 0 && v.rightLevel == 0 && v.rampFramesLeft == 0 && (v.rampLeft >> 8) == 0 &&
         (v.rampRight >> 8) == 0;
}

void stop(MixVoice& v) {
  v.sample = nullptr;
  v.position = 0;
  v.fraction = 0;
}

// Puts a voice that reached its boundary back inside its loop, or stops it.
// Returns false when the voice has stopped.
inline bool wrap(MixVoice& v, int64_t& pos) {
  const XmSample* s = v.sample;
  const int64_t loopStart = int64_t{s->loopStart} * one;
  const int64_t loopLength = int64_t{s->loopLength} * one;
  const int64_t loopEnd = loopStart + loopLength;
  if (loopLength > 0 && s->loopMode == XM_LOOP_FORWARD) {
    // Subtract the loop length at least once until below the loop end, in
    // one step however far the position ran.
    const int64_t over = (pos >> 32) - (loopEnd >> 32);  // whole frames past the end
    const int64_t times = over < int64_t{s->loopLength} ? 1 : over / s->loopLength + 1;
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
  stop(v);
  return false;
}

// Loops that only move a voice on: the position as the mixing loops leave
// it (their frame by frame sum of the step, which wraps alike), the gains
// summed frame by frame as theirs are.
uint64_t unheard_plain(const MixRun& run, float, float) {
  return run.position + static_cast<uint64_t>(run.frames) * run.delta;
}

uint64_t unheard_ramp(const MixRun& run, float* gainLeft, float* gainRight, float deltaLeft, float deltaRight) {
  float gl = *gainLeft, gr = *gainRight;
  for (int32_t i = 0; i < run.frames; ++i) {
    gl += deltaLeft;
    gr += deltaRight;
  }
  *gainLeft = gl;
  *gainRight = gr;
  return unheard_plain(run, 0.0f, 0.0f);
}

void unheard_pcm16(int16_t*, const float*, int64_t) {}

const MixKernels unheardKernels{unheard_plain, unheard_ramp, unheard_pcm16, true};

template <bool heard>
void mix_voice(MixVoice& v, float* buffer, int32_t frames, const MixKernels& kernels, const XmMixRate& rate) {
  const int16_t* data = v.sample->data;
  int64_t pos = static_cast<int64_t>(static_cast<uint64_t>(static_cast<int64_t>(v.position)) << 32) + v.fraction;
  const uint64_t step = static_cast<uint64_t>(static_cast<uint32_t>(v.stepWhole)) << 32 | v.stepFraction;
  int32_t done = 0;
  while (done < frames) {
    const int32_t todo = frames - done;
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
      // A voice may ask to glide over frames of its own choosing.
      v.gliding = v.glideFrames > 0;
      const int32_t rampFrames = v.gliding ? v.glideFrames : rate.rampFrames;
      const float rampScale = v.gliding ? 1.0f / static_cast<float>(v.glideFrames) : rate.rampScale;
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
    // A glide moves in steps of constant level as long as the mixer's own
    // ramp: the plain loops, which run several frames at once, rather than
    // a gain added frame by frame.
    const bool gliding = ramping && v.gliding;
    if (gliding && pass > rate.rampFrames) {
      pass = rate.rampFrames;
      boundary = false;
    }

    const uint64_t delta = v.direction != 2 ? step : ~step + 1;
    const MixRun run{buffer + 2 * static_cast<int64_t>(done), data, int64_t{v.sample->length} + 8,
                     static_cast<uint64_t>(pos), delta, pass};
    if (!heard && ramping && pass == v.rampFramesLeft) {
      // Unheard, a ramp that ends within the pass leaves nothing of its
      // gains: they are set exactly below.
      pos = static_cast<int64_t>(unheard_plain(run, 0.0f, 0.0f));
      v.rampFramesLeft = 0;
      v.rampLeftDelta = v.rampRightDelta = 0.0f;
      v.rampLeft = v.leftLevel * 256;
      v.rampRight = v.rightLevel * 256;
    } else if (ramping) {
      float gainLeft = static_cast<float>(v.rampLeft) / 256.0f / 255.0f;
      float gainRight = static_cast<float>(v.rampRight) / 256.0f / 255.0f;
      if (!gliding) {
        pos = static_cast<int64_t>(kernels.ramp(run, &gainLeft, &gainRight, v.rampLeftDelta, v.rampRightDelta));
      } else {
        const float left = static_cast<float>(v.rampLeft) / 256.0f, right = static_cast<float>(v.rampRight) / 256.0f;
        pos = kernels.skipSilent && left == 0.0f && right == 0.0f
                  ? static_cast<int64_t>(static_cast<uint64_t>(pos) + static_cast<uint64_t>(pass) * delta)
                  : static_cast<int64_t>(kernels.plain(run, left, right));
        gainLeft += v.rampLeftDelta * static_cast<float>(pass);
        gainRight += v.rampRightDelta * static_cast<float>(pass);
      }
      v.rampLeft = static_cast<int32_t>(std::lrintf(gainLeft * 255.0f * 256.0f));
      v.rampRight = static_cast<int32_t>(std::lrintf(gainRight * 255.0f * 256.0f));
      v.rampFramesLeft -= pass;
      if (v.rampFramesLeft == 0) {
        v.rampLeftDelta = v.rampRightDelta = 0.0f;
        v.rampLeft = v.leftLevel * 256;
        v.rampRight = v.rightLevel * 256;
        if (ramped_out(v)) {
          stop(v);
          return;
        }
      }
    } else if (kernels.skipSilent && v.leftLevel == 0 && v.rightLevel == 0) {
      // Adding zero products changes no sum: the block starts at +0 and a
      // sum is -0 only when both terms are, so no sum is ever -0, and x + 0
      // and x - 0 are x. A silent voice is only moved on.
      pos = static_cast<int64_t>(static_cast<uint64_t>(pos) + static_cast<uint64_t>(pass) * delta);
    } else {
      pos = static_cast<int64_t>(kernels.plain(run, static_cast<float>(v.leftLevel), static_cast<float>(v.rightLevel)));
    }
    done += pass;

    if (boundary && !wrap(v, pos)) return;
  }
  v.position = static_cast<int32_t>(pos >> 32);
  v.fraction = static_cast<uint32_t>(pos);
}

// The processor's fastest loops, or the ones a test or benchmark chose.
const MixKernels* kernels_for(MixPath path) {
  switch (path) {
    case MixPath::Scalar:
      return &mixScalarKernels;
    case MixPath::Portable:
      return &mixPortableKernels;
#ifdef VANTOR_MIX_X86
    case MixPath::Sse2:
      return &mixSse2Kernels;
    case MixPath::Avx2:
      return cpu_has_avx2() ? &mixAvx2Kernels : nullptr;
#endif
#ifdef VANTOR_MIX_AVX512
    case MixPath::Avx512:
      return cpu_has_avx512() ? &mixAvx512Kernels : nullptr;
#endif
    default:
      return nullptr;
  }
}

MixPath best_path() {
#ifdef VANTOR_MIX_X86
  if (kernels_for(MixPath::Avx512)) return MixPath::Avx512;
  if (kernels_for(MixPath::Avx2)) return MixPath::Avx2;
  return MixPath::Sse2;
#else
  return MixPath::Portable;
#endif
}

// Chosen on first use; both start out constant, so no thread can see them
// half made.
std::atomic<const MixKernels*> activeKernels{nullptr};
std::atomic<MixPath> activePath{MixPath::Best};

const MixKernels& kernels_in_use() {
  const MixKernels* k = activeKernels.load(std::memory_order_relaxed);
  if (!k) {
    mix_use_path(MixPath::Best);
    k = activeKernels.load(std::memory_order_relaxed);
  }
  return *k;
}

// Both ways of moving the voices on, one body made twice, so that each
// entry point gets the code it needs and no more (the intro only mixes).
template <bool heard>
void move_voices(MixVoice* voices, const XmMixRate& rate, float* buffer, int32_t frames) {
  if (frames <= 0 || !buffer) return;
  const MixKernels& kernels = heard ? kernels_in_use() : unheardKernels;
  for (int i = 0; i < XM_MIXED_VOICES; ++i) {
    MixVoice& v = voices[i];
    if (!v.sample) continue;
    // Nothing to play (an empty sample): the note ends at once.
    if (!v.sample->data || ramped_out(v)) {
      stop(v);
      continue;
    }
    mix_voice<heard>(v, buffer, frames, kernels, rate);
  }
}

}  // namespace

XmMixRate xm_mix_rate(int32_t rate) {
  XmMixRate r;
  r.rate = rate;
  r.invRate = 1.0f / static_cast<float>(rate);
  r.rampFrames = rate * 128 / 44100;
  if (r.rampFrames < 1) r.rampFrames = 1;
  r.rampScale = 1.0f / static_cast<float>(r.rampFrames);
  return r;
}

void mix_voices(MixVoice* voices, const XmMixRate& rate, float* buffer, int32_t frames) {
  move_voices<true>(voices, rate, buffer, frames);
}

void mix_voices_unheard(MixVoice* voices, const XmMixRate& rate, float* buffer, int32_t frames) {
  move_voices<false>(voices, rate, buffer, frames);
}

void mix_to_pcm16(int16_t* destination, const float* source, int32_t frames) {
  if (frames <= 0 || !destination || !source) return;
  kernels_in_use().pcm16(destination, source, 2 * static_cast<int64_t>(frames));
}

bool mix_use_path(MixPath path) {
  if (path == MixPath::Best) path = best_path();
  const MixKernels* k = kernels_for(path);
  if (!k) return false;
  activeKernels.store(k, std::memory_order_relaxed);
  activePath.store(path, std::memory_order_relaxed);
  return true;
}

MixPath mix_path() {
  kernels_in_use();
  return activePath.load(std::memory_order_relaxed);
}

const char* mix_path_name(MixPath path) {
  switch (path) {
    case MixPath::Best:
      return "best";
    case MixPath::Scalar:
      return "scalar";
    case MixPath::Portable:
      return "portable";
    case MixPath::Sse2:
      return "sse2";
    case MixPath::Avx2:
      return "avx2";
    case MixPath::Avx512:
      return "avx512";
  }
  return "?";
}
