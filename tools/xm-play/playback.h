// Plays a song of the player library through the platform's wave device: a
// looping buffer of 50 blocks of 20 ms (one second), refilled by a thread of
// its own as soon as the device has played a block. Each block carries what
// the song was doing when it was rendered, so the status answers for what
// is heard now.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "shell/wave_device.h"
#include "vantor_xm.h"

// What the listener hears: the song's position, time and channel levels.
struct Heard {
  int order = 0, row = 0;
  int64_t ms = 0;        // the song's time, counted from its start
  uint32_t levels = 0;   // 4 bits per group of channels, up to 8 groups
  bool ended = false;    // the song has played to its end
};

class Playback {
 public:
  static constexpr int blockFrames = VXM_RATE_DEFAULT / 50;
  static constexpr int blockCount = 50;
  static constexpr int meterGroups = 8;

  Playback(vxm_song* song, const XmWaveDevice* wave);
  ~Playback() { stop(); }
  Playback(const Playback&) = delete;
  Playback& operator=(const Playback&) = delete;

  enum class Started { playing, noDevice, noThread };
  // Renders the whole buffer, starts the device and the refilling thread.
  Started start();
  // Holds the device or lets it go on; false when it cannot pause.
  bool pause(bool paused);
  // Moves `orders` order positions on (back when negative) at the next
  // block rendered.
  void skip(int orders) { skip_.fetch_add(orders, std::memory_order_relaxed); }
  // The block being heard.
  Heard heard() const;
  // Stops the thread and the device; the song may then be freed.
  void stop();

 private:
  static void run(void* self);
  void refill();
  void render_block(int block);
  void apply_skip();
  int block_being_played();

  vxm_song* song_;
  const XmWaveDevice* wave_;
  void* device_ = nullptr;
  void* thread_ = nullptr;
  std::vector<int16_t> pcm_;
  // Per block: the song's time (ms) and its place (order, row, levels, the
  // end flag) when the block was rendered.
  std::unique_ptr<std::atomic<int64_t>[]> stampMs_;
  std::unique_ptr<std::atomic<uint64_t>[]> stampPlace_;
  std::atomic<int> playBlock_{0};
  std::atomic<int> skip_{0};
  std::atomic<bool> stopRequested_{false};
  // Refilling thread only, once it runs.
  int fillBlock_ = 0;
  uint32_t lastDeviceBytes_ = 0;
  uint64_t bufferBytePosition_ = 0;
  bool ended_ = false;
  uint64_t endPlace_ = 0;  // the place of the last block of music
};
