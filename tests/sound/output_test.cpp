// The output with a fake device: what the queries report while the device
// moves through the looping buffer, what ends up in the buffer, and how
// stopping, freeing and restarting treat the device and the thread.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "fake_wave_device.h"
#include "music/xm_block.h"
#include "music/xm_engine.h"
#include "music/xm_loader.h"
#include "music/xm_output.h"
#include "test_song.h"

namespace {

using soundtest::fake_wave;

constexpr int blockFrames = 884;
constexpr int blockCount = 100;
constexpr std::uint32_t blockBytes = blockFrames * 4;

// What the block filler produces for the song, block after block, mixed
// offline before the output starts.
struct Reference {
  std::vector<BlockStamp> stamps;
  std::vector<std::vector<std::int16_t>> pcm;
};

Reference render_reference(const XmSong* song, int blocks) {
  Reference ref;
  auto player = std::make_unique<XmPlayer>();
  EXPECT_TRUE(xm_player_init(player.get(), song, 44100));
  MixOutput& out = player->output;
  for (int k = 0; k < blocks; ++k) {
    const int b = out.fillBlock;
    mix_fill_block(player.get());
    ref.stamps.push_back(mix_block_stamp(&out, b));
    const std::int16_t* pcm = mix_block_pcm(&out, b);
    ref.pcm.emplace_back(pcm, pcm + blockFrames * 2);
  }
  xm_player_release(player.get());
  return ref;
}

template <typename Condition>
bool wait_for(Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

bool block_equals(const std::vector<std::int16_t>& expected, int block) {
  const auto* buffer = static_cast<const std::int16_t*>(fake_wave().buffer);
  return std::memcmp(buffer + block * blockFrames * 2, expected.data(), expected.size() * 2) == 0;
}

class Output : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::vector<std::uint8_t> bytes = soundtest::steady_song_bytes();
    XmLoadError error{};
    song = xm_load_memory(bytes.data(), bytes.size(), nullptr, &error);
    ASSERT_NE(song, nullptr) << error.message;
    ref = render_reference(song, 260);
    soundtest::reset_fake_wave();
    output = xm_output_create(soundtest::fake_wave_device());
    ASSERT_NE(output, nullptr);
  }
  void TearDown() override { xm_free(output, song); }

  // Moves the fake device to the start of the `played`-th block since it
  // started, then waits until the heard stamp is that block's.
  void play_to(std::uint32_t base, int played) {
    fake_wave().position.store(base + static_cast<std::uint32_t>(played) * blockBytes);
    ASSERT_TRUE(wait_for([&] { return xm_get_time(output) == ref.stamps[static_cast<std::size_t>(played)].timeMs; }))
        << "the output did not follow the device to block " << played;
  }

  XmSong* song = nullptr;
  XmOutput* output = nullptr;
  Reference ref;
};

TEST_F(Output, StartsWithTheWholeBufferMixedAndBlockZeroHeard) {
  ASSERT_TRUE(xm_play(output, song));
  // At 125 BPM and speed 6: order 0, row 0, and 884 frames are 19 ms.
  EXPECT_EQ(xm_get_order(output), 0);
  EXPECT_EQ(xm_get_row(output), 0);
  EXPECT_EQ(xm_get_time(output), 19);
  EXPECT_EQ(fake_wave().opens.load(), 1);
  EXPECT_EQ(fake_wave().starts.load(), 1);
  ASSERT_EQ(fake_wave().bytes, blockCount * blockBytes);
  // The device has not moved, so nothing is refilled: the buffer holds the
  // first hundred blocks exactly.
  for (int b = 0; b < blockCount; ++b) EXPECT_TRUE(block_equals(ref.pcm[static_cast<std::size_t>(b)], b)) << b;
  EXPECT_TRUE(wait_for([] { return fake_wave().prioritiesRaised.load() == 1; }));
}

TEST_F(Output, HeardPositionFollowsTheDeviceOneBufferBehindTheMixer) {
  ASSERT_TRUE(xm_play(output, song));
  for (int played = 1; played <= 150; ++played) {
    play_to(0, played);
    // The block the device just left was refilled with music a whole buffer
    // ahead of what is heard now.
    const int refilled = (played - 1) % blockCount;
    ASSERT_TRUE(block_equals(ref.pcm[static_cast<std::size_t>(played - 1 + blockCount)], refilled)) << played;
    EXPECT_EQ(xm_get_order(output), ref.stamps[static_cast<std::size_t>(played)].order);
    EXPECT_EQ(xm_get_row(output), ref.stamps[static_cast<std::size_t>(played)].row);
  }
  // About 19 ms of music per 20 ms block.
  EXPECT_GE(xm_get_time(output), 150 * 19);
  EXPECT_LE(xm_get_time(output), 151 * 20);
}

TEST_F(Output, DeviceCountWrappingAt32BitsKeepsTheBlocksInStep) {
  // The device's byte count passes 2^32 after a few blocks.
  const std::uint32_t base = 0u - (3 * blockBytes + 1000 * 4);
  fake_wave().position.store(base);
  ASSERT_TRUE(xm_play(output, song));
  for (int played = 1; played <= 12; ++played) {
    play_to(base, played);
    ASSERT_TRUE(block_equals(ref.pcm[static_cast<std::size_t>(played - 1 + blockCount)], played - 1)) << played;
  }
}

TEST_F(Output, DeviceMovingSeveralBlocksAtOnceIsCaughtUp) {
  ASSERT_TRUE(xm_play(output, song));
  play_to(0, 37);
  for (int b = 0; b < 37; ++b) EXPECT_TRUE(block_equals(ref.pcm[static_cast<std::size_t>(b + blockCount)], b)) << b;
  play_to(0, 37 + 95);  // almost a whole lap in one go
  EXPECT_TRUE(block_equals(ref.pcm[static_cast<std::size_t>(131 + blockCount)], 31));
}

TEST_F(Output, StopOnAStoppedOutputChangesNothing) {
  EXPECT_FALSE(xm_stop(nullptr));
  EXPECT_TRUE(xm_stop(output));  // never played
  EXPECT_EQ(fake_wave().closes.load(), 0);
  ASSERT_TRUE(xm_play(output, song));
  play_to(0, 5);
  EXPECT_TRUE(xm_stop(output));
  EXPECT_EQ(fake_wave().closes.load(), 1);
  const int reads = fake_wave().positionReads.load();
  EXPECT_TRUE(xm_stop(output));
  EXPECT_EQ(fake_wave().closes.load(), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(fake_wave().positionReads.load(), reads) << "the thread still polls after the stop";
  EXPECT_EQ(xm_get_order(output), 0);
  EXPECT_EQ(xm_get_row(output), 0);
  EXPECT_EQ(xm_get_time(output), 0);
}

TEST_F(Output, FreeWhilePlayingStopsTheDeviceThenFrees) {
  ASSERT_TRUE(xm_play(output, song));
  play_to(0, 20);
  EXPECT_TRUE(xm_free(output, song));
  song = nullptr;
  output = nullptr;
  EXPECT_EQ(fake_wave().closes.load(), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(fake_wave().readsAfterClose.load(), 0) << "the thread outlived the device";
  EXPECT_FALSE(xm_free(nullptr, nullptr));
}

TEST_F(Output, PlayingAgainRestartsFromTheBeginning) {
  ASSERT_TRUE(xm_play(output, song));
  play_to(0, 60);
  EXPECT_GT(xm_get_time(output), 1000);
  ASSERT_TRUE(xm_play(output, song));
  EXPECT_EQ(fake_wave().opens.load(), 2);
  EXPECT_EQ(fake_wave().closes.load(), 1);
  EXPECT_EQ(xm_get_time(output), 19);
  EXPECT_EQ(xm_get_order(output), 0);
  for (int b = 0; b < blockCount; ++b) EXPECT_TRUE(block_equals(ref.pcm[static_cast<std::size_t>(b)], b)) << b;
  // Counted from where the device stood when it started again.
  play_to(60 * blockBytes, 3);
}

TEST_F(Output, DeviceThatCannotOpenLeavesALoadedSilentSong) {
  fake_wave().failOpen = true;
  EXPECT_FALSE(xm_play(output, song));
  EXPECT_EQ(fake_wave().starts.load(), 0);
  EXPECT_EQ(xm_get_order(output), 0);
  EXPECT_EQ(xm_get_row(output), 0);
  EXPECT_EQ(xm_get_time(output), 0);
  // It plays once a device can be had.
  fake_wave().failOpen = false;
  EXPECT_TRUE(xm_play(output, song));
  EXPECT_EQ(xm_get_time(output), 19);
}

TEST_F(Output, ThreadThatCannotStartLeavesNothingPlaying) {
  fake_wave().failThread = true;
  EXPECT_FALSE(xm_play(output, song));
  // Started, then stopped and closed at once: no two seconds looping for ever.
  EXPECT_EQ(fake_wave().starts.load(), 1);
  EXPECT_EQ(fake_wave().closes.load(), 1);
  EXPECT_FALSE(fake_wave().playing.load());
  EXPECT_EQ(xm_get_time(output), 0);
}

TEST_F(Output, NothingPlaysWithoutASongOrADevice) {
  EXPECT_FALSE(xm_play(nullptr, song));
  EXPECT_FALSE(xm_play(output, nullptr));
  EXPECT_EQ(fake_wave().opens.load(), 0);
  XmOutput* silent = xm_output_create(nullptr);
  ASSERT_NE(silent, nullptr);
  EXPECT_FALSE(xm_play(silent, song));
  EXPECT_EQ(xm_get_time(silent), 0);
  EXPECT_TRUE(xm_free(silent, nullptr));
}

// Two outputs play at once, each its own song from its own context.
TEST_F(Output, TwoOutputsPlayTheirOwnSongs) {
  ASSERT_TRUE(xm_play(output, song));
  XmOutput* other = xm_output_create(soundtest::fake_wave_device());
  ASSERT_NE(other, nullptr);
  ASSERT_TRUE(xm_play(other, song));
  play_to(0, 30);
  EXPECT_TRUE(wait_for([&] { return xm_get_time(other) == xm_get_time(output); }));
  EXPECT_TRUE(xm_free(other, nullptr));
  play_to(0, 40);
}

TEST_F(Output, DeviceThatPlaysTheSongItselfIsOnlyStartedAndAnswersTheQueries) {
  fake_wave().renders = true;
  fake_wave().heard = BlockStamp{3, 17, 12345};
  ASSERT_TRUE(xm_play(output, song));
  EXPECT_EQ(fake_wave().starts.load(), 1);
  EXPECT_EQ(fake_wave().buffer, nullptr) << "a buffer was prepared";
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(fake_wave().positionReads.load(), 0) << "an output thread runs for a device that needs none";
  EXPECT_EQ(xm_get_order(output), 3);
  EXPECT_EQ(xm_get_row(output), 17);
  EXPECT_EQ(xm_get_time(output), 12345);
  EXPECT_TRUE(xm_stop(output));
  EXPECT_EQ(fake_wave().closes.load(), 1);
  EXPECT_EQ(xm_get_time(output), 0);
}

TEST(OutputQueries, AnswerZeroForNullOutput) {
  EXPECT_EQ(xm_get_order(nullptr), 0);
  EXPECT_EQ(xm_get_row(nullptr), 0);
  EXPECT_EQ(xm_get_time(nullptr), 0);
}

}  // namespace
