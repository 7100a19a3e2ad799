// A wave device for tests: it plays nothing, and its position in bytes is
// whatever the test sets, so a test moves "playback" block by block.
#pragma once

#include <atomic>
#include <cstdint>

#include "music/xm_wave_device.h"

namespace soundtest {

struct FakeWave {
  bool failOpen = false;
  bool failThread = false;  // the output thread cannot be started
  std::atomic<std::uint32_t> position{0};  // bytes played, set by the test
  std::atomic<int> opens{0}, closes{0}, starts{0}, positionReads{0}, prioritiesRaised{0};
  // What the output prepared, and whether it was started before the first
  // position read (the device must not run before the buffer is full).
  void* buffer = nullptr;
  std::uint32_t bytes = 0;
  std::atomic<bool> playing{false};
  std::atomic<bool> closed{false};
  // Position reads seen after the device was closed: must stay 0.
  std::atomic<int> readsAfterClose{0};
  // A device that plays the song itself, and what it says it plays.
  bool renders = false;
  BlockStamp heard{};
};

// The fake that the table below drives; reset it with reset_fake_wave.
FakeWave& fake_wave();
void reset_fake_wave();
const XmWaveDevice* fake_wave_device();

}  // namespace soundtest
