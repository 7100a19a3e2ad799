// The mixer: boundaries and loops at 32.32 precision, level ramps, and the
// conversion to 16-bit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "music/xm_block.h"
#include "music/xm_engine.h"
#include "music/xm_mix_kernels.h"
#include "music/xm_mixer.h"
#include "music/xm_types.h"
#include "xm_writer.h"

namespace {

constexpr uint32_t fractionOf(double f) { return static_cast<uint32_t>(f * 4294967296.0); }

// One sample and voice 0 playing it, every other voice silent.
class MixerTest : public ::testing::Test {
 protected:
  XmSample sample{};
  std::vector<float> buffer;
  MixVoice voices[XM_MIXED_VOICES] = {};
  const XmMixRate rate = xm_mix_rate(44100);

  void TearDown() override { xm_sample_data_free(sample.data); }
  void make_sample(uint32_t length, uint8_t mode, uint32_t loopStart, uint32_t loopLength, int16_t value) {
    sample.length = length;
    sample.loopMode = mode;
    sample.loopStart = loopStart;
    sample.loopLength = loopLength;
    sample.data = xm_sample_data_alloc(length);
    for (uint32_t i = 0; i < length; ++i) sample.data[i] = value;
    sample.data[loopStart + loopLength] = mode == XM_LOOP_FORWARD ? value : (mode == XM_LOOP_PINGPONG ? value : 0);
  }
  MixVoice& start(int32_t position, uint32_t fraction, int32_t stepWhole, uint32_t stepFraction, int level) {
    MixVoice& v = voices[0];
    v.sample = &sample;
    v.position = position;
    v.fraction = fraction;
    v.stepWhole = stepWhole;
    v.stepFraction = stepFraction;
    v.direction = 1;
    v.leftLevel = v.rightLevel = level;
    v.lastLeftTarget = v.lastRightTarget = level;
    v.rampLeft = v.rampRight = level * 256;
    return v;
  }
  void mix(int32_t frames) {
    buffer.assign(static_cast<size_t>(frames) * 2, 0.0f);
    mix_voices(voices, rate, buffer.data(), frames);
  }
};

}  // namespace

TEST_F(MixerTest, ForwardLoopWrapsKeepingTheFraction) {
  make_sample(200, XM_LOOP_FORWARD, 100, 50, 1000);
  MixVoice& v = start(149, fractionOf(0.3), 2, 0, 127);
  mix(1);
  EXPECT_EQ(v.position, 101);
  EXPECT_EQ(v.fraction, fractionOf(0.3));
  EXPECT_EQ(v.sample, &sample);
  // A step of many loop lengths wraps arithmetically, not by repetition.
  MixVoice& fast = start(100, 0, 1000001, 0, 127);
  mix(3);
  EXPECT_GE(fast.position, 100);
  EXPECT_LT(fast.position, 150);
}

TEST_F(MixerTest, FastVoiceInAVeryLongSampleStillStopsAtTheEnd) {
  make_sample(20000000, XM_LOOP_NONE, 0, 20000000, 1);
  MixVoice& v = start(0, 0, 40000, 0, 127);
  mix(884);
  EXPECT_EQ(v.sample, nullptr) << "500 frames reach the end; reading on would leave the buffer";
}

TEST_F(MixerTest, PingPongTurnsAround) {
  make_sample(200, XM_LOOP_PINGPONG, 100, 50, 1000);
  MixVoice& v = start(149, fractionOf(0.25), 1, 0, 127);
  mix(1);
  EXPECT_EQ(v.direction, 2);
  EXPECT_EQ(v.position, 149);
  EXPECT_EQ(v.fraction, fractionOf(0.75) - 1) << "149.75 less 2^-32";
  mix(49);
  EXPECT_EQ(v.direction, 2);
  EXPECT_EQ(v.position, 100);
  mix(1);
  EXPECT_EQ(v.direction, 1) << "and turns again at the loop start";
  EXPECT_EQ(v.position, 100);
  EXPECT_EQ(v.fraction, fractionOf(0.25));
  // Far beyond the loop in one step: still inside afterwards.
  MixVoice& fast = start(120, 0, 12345, 678, 127);
  for (int i = 0; i < 10; ++i) {
    mix(7);
    ASSERT_GE(fast.position, 99);
    ASSERT_LE(fast.position, 150);
  }
}

TEST_F(MixerTest, NonLoopingSampleStopsAtItsEnd) {
  make_sample(500, XM_LOOP_NONE, 0, 500, 1000);
  MixVoice& v = start(0, 0, 1, 0, 255);
  mix(884);
  EXPECT_EQ(v.sample, nullptr);
  EXPECT_EQ(v.position, 0);
  EXPECT_FLOAT_EQ(buffer[2 * 499], 1000.0f);
  EXPECT_EQ(buffer[2 * 500], 0.0f);
  EXPECT_EQ(buffer[2 * 883 + 1], 0.0f);
}

TEST_F(MixerTest, InterpolatesBetweenFrames) {
  make_sample(10, XM_LOOP_NONE, 0, 10, 0);
  sample.data[3] = 1000;
  sample.data[4] = 2000;
  start(3, fractionOf(0.25), 0, fractionOf(0.5), 255);
  mix(2);
  EXPECT_FLOAT_EQ(buffer[0], 1250.0f);
  EXPECT_FLOAT_EQ(buffer[2], 1750.0f);
}

TEST_F(MixerTest, LevelChangesRampOver128Frames) {
  make_sample(1000, XM_LOOP_FORWARD, 0, 1000, 10000);
  MixVoice& v = start(0, 0, 1, 0, 0);
  v.leftLevel = 127;
  mix(200);
  EXPECT_EQ(buffer[0], 0.0f);
  const float perFrame = 127.0f / 255.0f / 128.0f;
  EXPECT_NEAR(buffer[2 * 64], 10000.0f * perFrame * 64, 0.05f);
  EXPECT_NEAR(buffer[2 * 127], 10000.0f * perFrame * 127, 0.05f);
  EXPECT_EQ(buffer[2 * 128], 10000.0f * 127.0f / 255.0f) << "the target level, exactly";
  EXPECT_EQ(buffer[1], 0.0f);
  EXPECT_EQ(v.rampLeft, 127 * 256);
  EXPECT_EQ(v.rampFramesLeft, 0);
  // A new target during a ramp restarts it from where the gain is.
  v.leftLevel = 0;
  mix(64);
  v.leftLevel = 127;
  mix(1);
  EXPECT_EQ(v.rampFramesLeft, 127);
}

TEST(MixerPcm, RoundsTiesToEvenAndLimits) {
  const float in[8] = {40000.4f, -32768.7f, 2.5f, 3.5f, -2.5f, 32767.4f, -0.5f, NAN};
  int16_t out[8];
  mix_to_pcm16(out, in, 4);
  const int16_t expected[8] = {32767, -32768, 2, 4, -2, 32767, 0, 0};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(out[i], expected[i]) << i;
  out[0] = 7;
  mix_to_pcm16(out, in, 0);
  mix_to_pcm16(nullptr, in, 4);
  EXPECT_EQ(out[0], 7);
}

namespace {

using namespace xmtest;

// Renders a module's first 88,400 frames through the block filler; returns
// the left channel.
std::vector<int16_t> render_left(const ModuleDef& m) {
  SongPtr song = load_bytes(build(m));
  PlayerPtr player = song ? player_for(song.get()) : nullptr;
  if (!player) return {};
  MixOutput& out = player->output;
  std::vector<int16_t> left;
  for (int b = 0; b < out.blockCount; ++b) {
    mix_fill_block(player.get());
    const int16_t* pcm = mix_block_pcm(&out, b);
    for (int32_t i = 0; i < out.blockFrames; ++i) left.push_back(pcm[2 * i]);
  }
  return left;
}

}  // namespace

// A sample holding one value, looped, sounds as one level once the attack
// ramp is over: whatever the loop, pitch or frequency table. The frames
// behind a loop hold another value, so a pass that ran past the loop end
// would show as a dip.
TEST(MixerLevels, ConstantLoopedSamplesSoundConstant) {
  struct Case {
    const char* name;
    uint8_t type;  // 1 forward, 2 ping-pong
    uint32_t length, loopStart, loopLength;
    bool sixteenBit, linear;
    uint8_t note;  // 1 = C-0, 49 = C-4, 96 = B-7
    int8_t relativeNote;
  };
  const Case cases[] = {
      {"forward over 64 frames", 1, 64, 0, 64, false, true, 49, 0},
      {"forward over 1000 frames", 1, 1000, 0, 1000, false, true, 49, 0},
      {"ping-pong over 256 frames", 2, 256, 0, 256, false, true, 49, 0},
      {"forward inside the sample", 1, 300, 100, 50, false, true, 49, 0},
      {"ping-pong inside the sample", 2, 300, 100, 50, false, true, 49, 0},
      {"forward, 16-bit", 1, 1000, 0, 1000, true, true, 49, 0},
      {"ping-pong inside, 16-bit", 2, 300, 100, 50, true, true, 49, 0},
      {"forward, Amiga", 1, 64, 0, 64, false, false, 49, 0},
      {"ping-pong, Amiga, 16-bit", 2, 256, 0, 256, true, false, 49, 0},
      {"forward, lowest note", 1, 64, 0, 64, false, true, 1, 0},
      {"ping-pong inside, lowest note, Amiga", 2, 300, 100, 50, false, false, 1, 0},
      {"forward, highest note", 1, 64, 0, 64, false, true, 96, 23},
      {"ping-pong over 256, highest note", 2, 256, 0, 256, false, true, 96, 23},
      {"forward inside, highest note, Amiga", 1, 300, 100, 50, true, false, 96, 23},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SampleDef s;
    s.sixteenBit = c.sixteenBit;
    s.type = c.type;
    s.loopStart = c.loopStart;
    s.loopLength = c.loopLength;
    s.relativeNote = c.relativeNote;
    s.frames.assign(c.length, 64 * 256);
    for (uint32_t i = c.loopStart + c.loopLength; i < c.length; ++i) s.frames[i] = -64 * 256;
    ModuleDef m;
    m.linear = c.linear;
    m.instruments.push_back(one_sample_instrument(s));
    m.set(0, 0, 0, cell(c.note, 1));
    const std::vector<int16_t> left = render_left(m);
    ASSERT_EQ(left.size(), 88400u);
    const int16_t level = left[2000];
    EXPECT_GT(level, 1000);
    int off = 0;
    size_t first = 0;
    for (size_t i = 2000; i < left.size(); ++i) {
      if (left[i] != level && off++ == 0) first = i;
    }
    EXPECT_EQ(off, 0) << "first at frame " << first << ": " << left[first] << " instead of " << level;
  }
}

// A very slow voice (a step far below the 1/256 frame the old count could
// see) still plays its sample to the last frame.
TEST_F(MixerTest, VerySlowVoiceEndsAtTheLastFrame) {
  make_sample(3, XM_LOOP_NONE, 0, 3, 1000);
  MixVoice& v = start(2, 0, 0, 1u << 20, 127);  // 1/4096 frame per frame
  for (int i = 0; i < 4; ++i) mix(1023);
  EXPECT_EQ(v.sample, &sample) << "4092 of its 4096 frames";
  mix(3);
  EXPECT_EQ(v.sample, &sample);
  EXPECT_NE(buffer[4], 0.0f);
  mix(2);
  EXPECT_EQ(v.sample, nullptr);
  EXPECT_NE(buffer[0], 0.0f);
  EXPECT_EQ(buffer[2], 0.0f) << "nothing after the last frame";
}

namespace {

// Random voice states of every kind the player makes: forward and
// backward, near the loop and sample ends, slow and fast, ramping or not,
// silent or not, on samples with every loop mode.
struct RandomVoices {
  uint32_t state;
  std::vector<XmSample> samples;
  MixVoice voices[XM_MIXED_VOICES] = {};

  explicit RandomVoices(uint32_t seed) : state(seed), samples(12) {
    for (XmSample& s : samples) {
      s.length = 1 + next() % (next() % 2 ? 40 : 3000);
      s.loopMode = static_cast<uint8_t>(next() % 3 == 0 ? XM_LOOP_NONE : (next() % 2 ? XM_LOOP_FORWARD : XM_LOOP_PINGPONG));
      s.loopStart = s.loopMode == XM_LOOP_NONE ? 0 : next() % s.length;
      s.loopLength = s.loopMode == XM_LOOP_NONE ? s.length : 1 + next() % (s.length - s.loopStart);
      s.data = xm_sample_data_alloc(s.length);
      for (uint32_t i = 0; i < s.length; ++i) s.data[i] = static_cast<int16_t>(next());
      const uint32_t end = s.loopStart + s.loopLength;
      if (s.loopMode == XM_LOOP_FORWARD) s.data[end] = s.data[s.loopStart];
      if (s.loopMode == XM_LOOP_PINGPONG) s.data[end] = s.data[end - 1];
    }
  }
  ~RandomVoices() {
    for (XmSample& s : samples) xm_sample_data_free(s.data);
  }
  uint32_t next() {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  }
  void fill() {
    std::memset(voices, 0, sizeof voices);
    for (int i = 0; i < XM_MIXED_VOICES; ++i) {
      if (next() % 8 == 0) continue;
      MixVoice& v = voices[i];
      XmSample& s = samples[next() % samples.size()];
      v.sample = &s;
      const uint32_t end = s.loopStart + s.loopLength;
      const uint32_t near[4] = {s.loopStart, end, s.length, next() % s.length};
      const int64_t at = int64_t{near[next() % 4]} + static_cast<int32_t>(next() % 7) - 3;
      v.position = static_cast<int32_t>(at < 0 ? 0 : (at >= s.length ? s.length - 1 : at));
      v.fraction = next() << 8 | (next() & 0xFF);
      v.direction = s.loopMode == XM_LOOP_PINGPONG && next() % 2 ? 2 : 1;
      if (v.direction == 2 && v.position < static_cast<int32_t>(s.loopStart)) v.position = static_cast<int32_t>(end) - 1;
      switch (next() % 4) {
        case 0:  // slow: well below one frame per frame
          v.stepWhole = 0;
          v.stepFraction = next() >> (next() % 16);
          break;
        case 1:
          v.stepWhole = static_cast<int32_t>(next() % 4);
          v.stepFraction = next() << 8;
          break;
        case 2:
          v.stepWhole = static_cast<int32_t>(next() % 300);
          v.stepFraction = next();
          break;
        default:
          v.stepWhole = 1;
          v.stepFraction = 0;
      }
      const int32_t levels[5] = {0, 0, 127, 64, static_cast<int32_t>(next() % 128)};
      v.leftLevel = levels[next() % 5];
      v.rightLevel = levels[next() % 5];
      v.lastLeftTarget = next() % 2 ? v.leftLevel : levels[next() % 5];
      v.lastRightTarget = next() % 2 ? v.rightLevel : levels[next() % 5];
      v.rampLeft = static_cast<int32_t>(next() % (128 * 256));
      v.rampRight = static_cast<int32_t>(next() % (128 * 256));
      v.rampFramesLeft = next() % 2 ? 0 : static_cast<int32_t>(1 + next() % 128);
      v.rampLeftDelta = static_cast<float>(v.lastLeftTarget - (v.rampLeft >> 8)) / 255.0f / 128.0f;
      v.rampRightDelta = static_cast<float>(v.lastRightTarget - (v.rampRight >> 8)) / 255.0f / 128.0f;
    }
  }
};

bool same_voice(const MixVoice& a, const MixVoice& b) {
  return a.sample == b.sample && a.position == b.position && a.fraction == b.fraction &&
         a.direction == b.direction && a.lastLeftTarget == b.lastLeftTarget &&
         a.lastRightTarget == b.lastRightTarget && a.rampLeft == b.rampLeft && a.rampRight == b.rampRight &&
         std::memcmp(&a.rampLeftDelta, &b.rampLeftDelta, sizeof(float)) == 0 &&
         std::memcmp(&a.rampRightDelta, &b.rampRightDelta, sizeof(float)) == 0 &&
         a.rampFramesLeft == b.rampFramesLeft;
}

}  // namespace

// The vector loops divide by 255 through two products: that gives the
// quotient's bits for every significand in the binades a sample value times
// a level reaches (2^-31 up to 2^22), of either sign.
TEST(MixerPaths, DivisionBy255FromProductsIsExact) {
  int wrong = 0;
  for (int exponent : {-31, -1, 22}) {
    for (uint32_t significand = 0; significand < (1u << 23); ++significand) {
      const float x = std::ldexp(1.0f + static_cast<float>(significand) / 8388608.0f, exponent);
      volatile float quotient = x / 255.0f;
      if (mix_divide_255(x) != quotient || mix_divide_255(-x) != -quotient) ++wrong;
    }
  }
  EXPECT_EQ(wrong, 0);
  // A zero of either sign gives a zero, which leaves every sum as it was.
  EXPECT_EQ(mix_divide_255(0.0f), 0.0f);
  EXPECT_EQ(mix_divide_255(-0.0f), 0.0f);
}

// Every mixing path this processor runs gives the plain scalar loops' bits:
// the sums in the buffer, the voices' positions and ramps, and the 16-bit
// conversion, over runs of random length on random voice states.
TEST(MixerPaths, EveryPathGivesTheScalarBits) {
  const XmMixRate rate = xm_mix_rate(44100);
  int compared = 0;
  for (MixPath path : {MixPath::Portable, MixPath::Sse2, MixPath::Avx2, MixPath::Avx512}) {
    if (!mix_use_path(path)) continue;
    ++compared;
    SCOPED_TRACE(mix_path_name(path));
    for (uint32_t round = 0; round < 60; ++round) {
      RandomVoices random(round * 7919u + 1);
      random.fill();
      MixVoice* const voices = random.voices;
      MixVoice start[XM_MIXED_VOICES];
      std::memcpy(start, voices, sizeof start);
      std::vector<float> reference(2 * 1200), fast;
      for (float& f : reference) f = static_cast<float>(static_cast<int32_t>(random.next() % 20001) - 10000) / 8.0f;
      fast = reference;
      const int32_t calls[3] = {static_cast<int32_t>(1 + random.next() % 900), static_cast<int32_t>(random.next() % 20),
                                static_cast<int32_t>(1 + random.next() % 200)};
      MixVoice afterReference[XM_MIXED_VOICES];
      ASSERT_TRUE(mix_use_path(MixPath::Scalar));
      for (int32_t frames : calls) mix_voices(voices, rate, reference.data(), frames);
      std::memcpy(afterReference, voices, sizeof afterReference);
      std::memcpy(voices, start, sizeof start);
      ASSERT_TRUE(mix_use_path(path));
      for (int32_t frames : calls) mix_voices(voices, rate, fast.data(), frames);
      ASSERT_EQ(std::memcmp(reference.data(), fast.data(), reference.size() * sizeof(float)), 0) << "round " << round;
      for (int i = 0; i < XM_MIXED_VOICES; ++i) ASSERT_TRUE(same_voice(afterReference[i], voices[i])) << "voice " << i;
    }
    // The conversion, on ordinary values and on the edges of its range.
    std::vector<float> in = {40000.4f, -32768.7f, 2.5f, 3.5f, -2.5f, -0.5f, 0.5f, -0.0f, 32766.5f, 32767.5f,
                             -32767.5f, -32768.5f, 1e30f, -1e30f, INFINITY, -INFINITY, NAN, -NAN, 1e-30f};
    RandomVoices random(99);
    while (in.size() < 1001) in.push_back(static_cast<float>(static_cast<int32_t>(random.next())) / 128.0f - 65536.0f);
    std::vector<int16_t> viaPath(in.size()), viaScalar(in.size());
    mix_to_pcm16(viaPath.data(), in.data(), static_cast<int32_t>(in.size() / 2));
    ASSERT_TRUE(mix_use_path(MixPath::Scalar));
    mix_to_pcm16(viaScalar.data(), in.data(), static_cast<int32_t>(in.size() / 2));
    EXPECT_EQ(viaPath, viaScalar);
  }
  EXPECT_GE(compared, 1);
  mix_use_path(MixPath::Best);
}
