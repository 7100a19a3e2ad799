// The output with a fake device: what the queries report while the device
// moves through the looping buffer, what ends up in the buffer, and how
// stopping, freeing and restarting treat the device and the thread.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "fake_wave_device.h"
#include "memory_file.h"
#include "music/xm_block.h"
#include "music/xm_engine.h"
#include "music/xm_file.h"
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

Reference render_reference(XmSong* song, int blocks) {
  Reference ref;
  xm_start_song(song);
  MixOutput out{};
  EXPECT_TRUE(mix_output_init(&out, song));
  for (int k = 0; k < blocks; ++k) {
    const int b = out.fillBlock;
    mix_fill_block(&out);
    ref.stamps.push_back(mix_block_stamp(&out, b));
    const std::int16_t* pcm = mix_block_pcm(&out, b);
    ref.pcm.emplace_back(pcm, pcm + blockFrames * 2);
  }
  mix_output_release(&out);
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
    soundtest::serve_file("steady.xm", soundtest::steady_song_bytes());
    song = xm_load("steady.xm", nullptr);
    ASSERT_NE(song, nullptr) << xm_last_error();
    ref = render_reference(song, 260);
    soundtest::reset_fake_wave();
    xm_set_wave_device(soundtest::fake_wave_device());
  }
  void TearDown() override {
    if (song) xm_free(song);
    xm_set_wave_device(nullptr);
  }

  // Moves the fake device to the start of the `played`-th block since it
  // started, then waits until the heard stamp is that block's.
  void play_to(std::uint32_t base, int played) {
    fake_wave().position.store(base + static_cast<std::uint32_t>(played) * blockBytes);
    ASSERT_TRUE(wait_for([&] { return xm_get_time(song) == ref.stamps[static_cast<std::size_t>(played)].timeMs; }))
        << "the output did not follow the device to block " << played;
  }

  XmSong* song = nullptr;
  Reference ref;
};

TEST_F(Output, StartsWithTheWholeBufferMixedAndBlockZeroHeard) {
  ASSERT_TRUE(xm_play(song));
  // At 125 BPM and speed 6: order 0, row 0, and 884 frames are 19 ms.
  EXPECT_EQ(xm_get_order(song), 0);
  EXPECT_EQ(xm_get_row(song), 0);
  EXPECT_EQ(xm_get_time(song), 19);
  EXPECT_EQ(fake_wave().opens.load(), 1);
  EXPECT_EQ(fake_wave().starts.load(), 1);
  ASSERT_EQ(fake_wave().bytes, blockCount * blockBytes);
  // The device has not moved, so nothing is refilled: the buffer holds the
  // first hundred blocks exactly.
  for (int b = 0; b < blockCount; ++b) EXPECT_TRUE(block_equals(ref.pcm[static_cast<std::size_t>(b)], b)) << b;
  EXPECT_TRUE(wait_for([] { return fake_wave().prioritiesRaised.load() == 1; }));
}

TEST_F(Output, HeardPositionFollowsTheDeviceOneBufferBehindTheMixer) {
  ASSERT_TRUE(xm_play(song));
  for (int played = 1; played <= 150; ++played) {
    play_to(0, played);
    // The block the device just left was refilled with music a whole buffer
    // ahead of what is heard now.
    const int refilled = (played - 1) % blockCount;
    ASSERT_TRUE(block_equals(ref.pcm[static_cast<std::size_t>(played - 1 + blockCount)], refilled)) << played;
    EXPECT_EQ(xm_get_order(song), ref.stamps[static_cast<std::size_t>(played)].order);
    EXPECT_EQ(xm_get_row(song), ref.stamps[static_cast<std::size_t>(played)].row);
  }
  // About 19 ms of music per 20 ms block.
  EXPECT_GE(xm_get_time(song), 150 * 19);
  EXPECT_LE(xm_get_time(song), 151 * 20);
}

TEST_F(Output, DeviceCountWrappingAt32BitsKeepsTheBlocksInStep) {
  // The device's byte count passes 2^32 after a few blocks.
  const std::uint32_t base = 0u - (3 * blockBytes + 1000 * 4);
  fake_wave().position.store(base);
  ASSERT_TRUE(xm_play(song));
  for (int played = 1; played <= 12; ++played) {
    play_to(base, played);
    ASSERT_TRUE(block_equals(ref.pcm[static_cast<std::size_t>(played - 1 + blockCount)], played - 1)) << played;
  }
}

TEST_F(Output, DeviceMovingSeveralBlocksAtOnceIsCaughtUp) {
  ASSERT_TRUE(xm_play(song));
  play_to(0, 37);
  for (int b = 0; b < 37; ++b) EXPECT_TRUE(block_equals(ref.pcm[static_cast<std::size_t>(b + blockCount)], b)) << b;
  play_to(0, 37 + 95);  // almost a whole lap in one go
  EXPECT_TRUE(block_equals(ref.pcm[static_cast<std::size_t>(131 + blockCount)], 31));
}

TEST_F(Output, StopOnAStoppedOutputChangesNothing) {
  EXPECT_FALSE(xm_stop(nullptr));
  EXPECT_TRUE(xm_stop(song));  // never played
  EXPECT_EQ(fake_wave().closes.load(), 0);
  ASSERT_TRUE(xm_play(song));
  play_to(0, 5);
  EXPECT_TRUE(xm_stop(song));
  EXPECT_EQ(fake_wave().closes.load(), 1);
  const int reads = fake_wave().positionReads.load();
  EXPECT_TRUE(xm_stop(song));
  EXPECT_EQ(fake_wave().closes.load(), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(fake_wave().positionReads.load(), reads) << "the thread still polls after the stop";
  EXPECT_EQ(xm_get_order(song), 0);
  EXPECT_EQ(xm_get_row(song), 0);
  EXPECT_EQ(xm_get_time(song), 0);
}

TEST_F(Output, FreeWhilePlayingStopsTheDeviceThenFrees) {
  ASSERT_TRUE(xm_play(song));
  play_to(0, 20);
  EXPECT_TRUE(xm_free(song));
  song = nullptr;
  EXPECT_EQ(fake_wave().closes.load(), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(fake_wave().readsAfterClose.load(), 0) << "the thread outlived the device";
  EXPECT_FALSE(xm_free(nullptr));
}

TEST_F(Output, PlayingAgainRestartsFromTheBeginning) {
  ASSERT_TRUE(xm_play(song));
  play_to(0, 60);
  EXPECT_GT(xm_get_time(song), 1000);
  ASSERT_TRUE(xm_play(song));
  EXPECT_EQ(fake_wave().opens.load(), 2);
  EXPECT_EQ(fake_wave().closes.load(), 1);
  EXPECT_EQ(xm_get_time(song), 19);
  EXPECT_EQ(xm_get_order(song), 0);
  for (int b = 0; b < blockCount; ++b) EXPECT_TRUE(block_equals(ref.pcm[static_cast<std::size_t>(b)], b)) << b;
  // Counted from where the device stood when it started again.
  play_to(60 * blockBytes, 3);
}

TEST_F(Output, DeviceThatCannotOpenLeavesALoadedSilentSong) {
  fake_wave().failOpen = true;
  EXPECT_FALSE(xm_play(song));
  EXPECT_EQ(fake_wave().starts.load(), 0);
  EXPECT_EQ(xm_get_order(song), 0);
  EXPECT_EQ(xm_get_row(song), 0);
  EXPECT_EQ(xm_get_time(song), 0);
  // It plays once a device can be had.
  fake_wave().failOpen = false;
  EXPECT_TRUE(xm_play(song));
  EXPECT_EQ(xm_get_time(song), 19);
}

TEST_F(Output, ThreadThatCannotStartLeavesNothingPlaying) {
  fake_wave().failThread = true;
  EXPECT_FALSE(xm_play(song));
  // Started, then stopped and closed at once: no two seconds looping for ever.
  EXPECT_EQ(fake_wave().starts.load(), 1);
  EXPECT_EQ(fake_wave().closes.load(), 1);
  EXPECT_FALSE(fake_wave().playing.load());
  EXPECT_EQ(xm_get_time(song), 0);
}

TEST_F(Output, NothingPlaysWithoutFileCallbacksOrADevice) {
  EXPECT_FALSE(xm_play(nullptr));
  xm_set_file_callbacks(nullptr, nullptr, nullptr, nullptr, nullptr);
  EXPECT_FALSE(xm_play(song));
  EXPECT_EQ(fake_wave().opens.load(), 0);
  soundtest::serve_file("steady.xm", soundtest::steady_song_bytes());
  xm_set_wave_device(nullptr);
  EXPECT_FALSE(xm_play(song));
  EXPECT_EQ(xm_get_time(song), 0);
}

TEST_F(Output, DeviceThatPlaysTheSongItselfIsOnlyStartedAndAnswersTheQueries) {
  fake_wave().renders = true;
  fake_wave().heard = BlockStamp{3, 17, 12345};
  ASSERT_TRUE(xm_play(song));
  EXPECT_EQ(fake_wave().starts.load(), 1);
  EXPECT_EQ(fake_wave().buffer, nullptr) << "a buffer was prepared";
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(fake_wave().positionReads.load(), 0) << "an output thread runs for a device that needs none";
  EXPECT_EQ(xm_get_order(song), 3);
  EXPECT_EQ(xm_get_row(song), 17);
  EXPECT_EQ(xm_get_time(song), 12345);
  EXPECT_TRUE(xm_stop(song));
  EXPECT_EQ(fake_wave().closes.load(), 1);
  EXPECT_EQ(xm_get_time(song), 0);
}

TEST(OutputQueries, AnswerZeroForNullSong) {
  EXPECT_EQ(xm_get_order(nullptr), 0);
  EXPECT_EQ(xm_get_row(nullptr), 0);
  EXPECT_EQ(xm_get_time(nullptr), 0);
}

}  // namespace
