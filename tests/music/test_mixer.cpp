// The mixer: boundaries and loops at 32.32 precision, level ramps, and the
// conversion to 16-bit.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "music/xm_engine.h"
#include "music/xm_mixer.h"
#include "music/xm_types.h"

namespace {

constexpr uint32_t fractionOf(double f) { return static_cast<uint32_t>(f * 4294967296.0); }

// One sample and voice 0 playing it, every other voice silent.
class MixerTest : public ::testing::Test {
 protected:
  XmSample sample{};
  std::vector<float> buffer;

  void SetUp() override {
    mixRate = 44100;
    mix_set_rate();
    std::memset(voices, 0, sizeof voices);
  }
  void TearDown() override {
    std::memset(voices, 0, sizeof voices);
    xm_sample_data_free(sample.data);
  }
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
    mix_voices(buffer.data(), frames);
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
