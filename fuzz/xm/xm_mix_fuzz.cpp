// libFuzzer target: voice states and sample data taken from the bytes,
// mixed by the plain scalar loops and by the processor's fastest ones; the
// buffers, the voices and the 16-bit conversion must agree bit for bit.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "music/xm_mixer.h"
#include "music/xm_types.h"

namespace {

struct Bytes {
  const uint8_t* data;
  size_t size, pos;
  uint32_t take(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = v << 8 | (pos < size ? data[pos++] : 0);
    return v;
  }
};

constexpr int sampleCount = 4;

void fail(const char* what) {
  std::fprintf(stderr, "the fast mixer differs from the scalar one: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Bytes in{data, size, 0};
  const XmMixRate rate = xm_mix_rate(44100);
  static MixVoice voices[XM_MIXED_VOICES];
  XmSample samples[sampleCount] = {};
  for (XmSample& s : samples) {
    s.length = 1 + in.take(2) % 2048;
    const uint32_t mode = in.take(1) % 3;
    s.loopMode = static_cast<uint8_t>(mode == 0 ? XM_LOOP_NONE : (mode == 1 ? XM_LOOP_FORWARD : XM_LOOP_PINGPONG));
    s.loopStart = s.loopMode == XM_LOOP_NONE ? 0 : in.take(2) % s.length;
    s.loopLength = s.loopMode == XM_LOOP_NONE ? s.length : 1 + in.take(2) % (s.length - s.loopStart);
    s.data = xm_sample_data_alloc(s.length);
    if (!s.data) return 0;
    const uint32_t seed = in.take(4);
    for (uint32_t i = 0; i < s.length; ++i) s.data[i] = static_cast<int16_t>((seed + i * 2654435761u) >> 13);
    const uint32_t end = s.loopStart + s.loopLength;
    if (s.loopMode == XM_LOOP_FORWARD) s.data[end] = s.data[s.loopStart];
    if (s.loopMode == XM_LOOP_PINGPONG) s.data[end] = s.data[end - 1];
  }
  std::memset(voices, 0, sizeof voices);
  const int count = 1 + static_cast<int>(in.take(1) % 8);
  for (int i = 0; i < count; ++i) {
    MixVoice& v = voices[i];
    XmSample& s = samples[in.take(1) % sampleCount];
    v.sample = &s;
    v.position = static_cast<int32_t>(in.take(2) % s.length);
    v.fraction = in.take(4);
    v.direction = s.loopMode == XM_LOOP_PINGPONG && (in.take(1) & 1) ? 2 : 1;
    if (v.direction == 2 && v.position < static_cast<int32_t>(s.loopStart)) v.position = static_cast<int32_t>(s.loopStart);
    v.stepWhole = static_cast<int32_t>(in.take(1) % 64);
    v.stepFraction = in.take(4);
    v.leftLevel = static_cast<int32_t>(in.take(1) % 128);
    v.rightLevel = static_cast<int32_t>(in.take(1) % 128);
    v.lastLeftTarget = static_cast<int32_t>(in.take(1) % 128);
    v.lastRightTarget = static_cast<int32_t>(in.take(1) % 128);
    v.rampLeft = static_cast<int32_t>(in.take(2) % (128 * 256));
    v.rampRight = static_cast<int32_t>(in.take(2) % (128 * 256));
    v.rampFramesLeft = static_cast<int32_t>(in.take(1) % 129);
    v.rampLeftDelta = static_cast<float>(v.lastLeftTarget - (v.rampLeft >> 8)) / 255.0f / 128.0f;
    v.rampRightDelta = static_cast<float>(v.lastRightTarget - (v.rampRight >> 8)) / 255.0f / 128.0f;
  }
  const int32_t frames = static_cast<int32_t>(in.take(2) % 1024);

  MixVoice start[XM_MIXED_VOICES];
  std::memcpy(start, voices, sizeof start);
  std::vector<float> reference(2 * static_cast<size_t>(frames) + 2), fast(reference.size());
  mix_use_path(MixPath::Scalar);
  mix_voices(voices, rate, reference.data(), frames);
  MixVoice afterReference[XM_MIXED_VOICES];
  std::memcpy(afterReference, voices, sizeof afterReference);
  std::memcpy(voices, start, sizeof start);
  mix_use_path(MixPath::Best);
  mix_voices(voices, rate, fast.data(), frames);
  if (std::memcmp(reference.data(), fast.data(), reference.size() * sizeof(float)) != 0) fail("buffer");
  for (int i = 0; i < count; ++i) {
    const MixVoice& a = afterReference[i];
    const MixVoice& b = voices[i];
    if (a.sample != b.sample || a.position != b.position || a.fraction != b.fraction || a.direction != b.direction ||
        a.rampLeft != b.rampLeft || a.rampRight != b.rampRight || a.rampFramesLeft != b.rampFramesLeft) {
      fail("voice");
    }
  }
  std::vector<int16_t> pcmFast(reference.size()), pcmReference(reference.size());
  mix_to_pcm16(pcmFast.data(), fast.data(), frames + 1);
  mix_use_path(MixPath::Scalar);
  mix_to_pcm16(pcmReference.data(), fast.data(), frames + 1);
  if (pcmFast != pcmReference) fail("conversion");
  for (XmSample& s : samples) xm_sample_data_free(s.data);
  std::memset(voices, 0, sizeof voices);
  return 0;
}
