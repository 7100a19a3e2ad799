// Shared set-up for the engine tests: a module with one looping 16-bit
// instrument, filled cell by cell, then run tick by tick.
#pragma once

#include <gtest/gtest.h>

#include "music/xm_engine.h"
#include "music/xm_loader.h"
#include "xm_writer.h"

namespace xmtest {

class EngineTest : public ::testing::Test {
 protected:
  ModuleDef m;
  SongPtr song;

  void SetUp() override {
    m.channels = 4;
    m.instruments.push_back(one_sample_instrument(ramp_sample()));
  }
  // Cell (row, channel) of pattern 0.
  void at(int row, int channel, XmCell c) { m.set(0, row, channel, c); }
  void play() {
    song = start(m);
    ASSERT_NE(song, nullptr) << xm_last_error();
  }
  void run(int n) { ticks(song.get(), n); }
  // Runs whole rows at the song's current speed.
  void rows(int n) { run(n * song->speed); }
  XmChannel& ch(int i = 0) { return channels[i]; }
  MixVoice& voice(int i = 0) { return *channels[i].voice; }
};

}  // namespace xmtest
