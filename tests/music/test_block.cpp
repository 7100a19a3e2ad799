// The block filler: ticks at exact frames across blocks, time stamps, and
// the same output every time a song is started.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "music/xm_block.h"
#include "music/xm_engine.h"
#include "music/xm_loader.h"
#include "xm_writer.h"

using namespace xmtest;

namespace {

ModuleDef tune() {
  ModuleDef m;
  m.instruments.push_back(one_sample_instrument(ramp_sample()));
  m.orders = {0, 0};
  for (int row = 0; row < 64; row += 4) m.set(0, row, row / 4 % 4, cell(static_cast<uint8_t>(40 + row / 4), 1));
  return m;
}

}  // namespace

TEST(XmBlock, SizesOfTheDefaultBuffer) {
  EXPECT_EQ(mix_block_frames(44100), 884);
  EXPECT_EQ(mix_buffer_frames(44100, 1000), 88400);
}

TEST(XmBlock, StampsAdvanceAbout19MsPerBlock) {
  SongPtr song = load_bytes(build(tune()));
  ASSERT_NE(song, nullptr);
  PlayerPtr player = player_for(song.get());
  ASSERT_NE(player, nullptr);
  MixOutput& out = player->output;
  EXPECT_EQ(reinterpret_cast<uintptr_t>(out.mixBuffer) % 16, 0u);
  mix_fill_block(player.get());
  BlockStamp s = mix_block_stamp(&out, 0);
  EXPECT_EQ(int{s.order}, 0);
  EXPECT_EQ(int{s.row}, 0);
  EXPECT_EQ(int{s.timeMs}, 19) << "882 frames add 19 ms, the 2 frames after them 0";
  EXPECT_EQ(player->tickSamplesLeft, 880);
  mix_fill_block(player.get());
  EXPECT_EQ(int{mix_block_stamp(&out, 1).timeMs}, 38);
  for (int b = 2; b < out.blockCount; ++b) mix_fill_block(player.get());
  EXPECT_EQ(out.fillBlock, 0) << "wraps after 100 blocks";
  const BlockStamp last = mix_block_stamp(&out, 99);
  EXPECT_GE(int{last.timeMs}, 1850);
  EXPECT_LT(int{last.timeMs}, 2000) << "truncation per run loses time";
  // 100 blocks = 88400 frames = 100.2 ticks of 882 = row 16 at speed 6.
  EXPECT_EQ(int{last.row}, 16);
  EXPECT_EQ(int{mix_block_stamp(&out, 100).timeMs}, 0) << "out of range";
  xm_player_release(player.get());
  xm_player_release(player.get());
}

TEST(XmBlock, RenderingIsRepeatable) {
  SongPtr song = load_bytes(build(tune()));
  ASSERT_NE(song, nullptr);
  PlayerPtr player = player_for(song.get());
  ASSERT_NE(player, nullptr);
  const MixOutput& out = player->output;
  std::vector<int16_t> first, second;
  for (std::vector<int16_t>* pcm : {&first, &second}) {
    xm_start_song(player.get());
    for (int b = 0; b < out.blockCount; ++b) mix_fill_block(player.get());
    pcm->assign(out.pcmBuffer, out.pcmBuffer + 2 * out.bufferFrames);
  }
  EXPECT_EQ(first, second);
  long energy = 0;
  for (int16_t v : first) energy += v < 0 ? -v : v;
  EXPECT_GT(energy, 0);
}

TEST(XmBlock, StampsCanBeReadWhileAnotherThreadMixes) {
  SongPtr song = load_bytes(build(tune()));
  ASSERT_NE(song, nullptr);
  PlayerPtr player = player_for(song.get());
  ASSERT_NE(player, nullptr);
  const MixOutput& out = player->output;
  std::atomic<bool> done{false};
  std::thread mixer([&] {
    for (int b = 0; b < 300; ++b) mix_fill_block(player.get());
    done = true;
  });
  int32_t latest = 0;
  while (!done) {
    const BlockStamp s = mix_block_stamp(&out, 50);
    EXPECT_GE(int{s.timeMs}, latest);
    latest = s.timeMs;
  }
  mixer.join();
  EXPECT_GT(int{mix_block_stamp(&out, 50).timeMs}, 0);
}
