// Shared set-up for the engine tests: a module with one looping 16-bit
// instrument, filled cell by cell, then run tick by tick in a context of
// its own.
#pragma once

#include <gtest/gtest.h>

#include "music/xm_engine.h"
#include "music/xm_loader.h"
#include "xm_writer.h"

namespace xmtest {

class EngineTest : public ::testing::Test {
 protected:
  ModuleDef m;
  Started started;
  XmPlayer* p = nullptr;  // the context playing the module, once play() ran

  void SetUp() override {
    m.channels = 4;
    m.instruments.push_back(one_sample_instrument(ramp_sample()));
  }
  // Cell (row, channel) of pattern 0.
  void at(int row, int channel, XmCell c) { m.set(0, row, channel, c); }
  void play() {
    started = start(m);
    ASSERT_NE(started.player, nullptr) << load_error();
    p = started.player.get();
  }
  void run(int n) { ticks(p, n); }
  // Runs whole rows at the song's current speed.
  void rows(int n) { run(n * p->speed); }
  XmChannel& ch(int i = 0) { return p->channels[i]; }
  MixVoice& voice(int i = 0) { return *p->channels[i].voice; }
};

}  // namespace xmtest
