// Song length: where playback first comes back to a row it already played in
// the same state. Every module's computed length must equal what the engine
// itself reaches, tick for tick: the frame at which the first repeated row
// starts in a trace of the real engine's row ticks (the trace xm-render
// --rows prints, with each channel's pattern loop state added).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "music/music.h"
#include "music/xm_engine.h"
#include "music/xm_length.h"
#include "music/xm_loader.h"
#include "xm_writer.h"

using namespace xmtest;
namespace fs = std::filesystem;

namespace {

// Runs the engine tick by tick (no mixing) and returns where it first
// revisits a row in the same state, after `passes` such returns.
XmSongLength traced_length(const XmSong* song, int passes, int64_t cap) {
  PlayerPtr player = player_for(song);
  XmPlayer& p = *player;
  std::set<std::vector<int>> seen;
  int64_t frame = 0;
  while (frame < cap) {
    if (p.tick == 0) {
      std::vector<int> loops;
      for (int i = 0; i < song->channelCount; ++i) {
        if (p.channels[i].loopCount != 0) loops.insert(loops.end(), {i, p.channels[i].loopCount, p.channels[i].loopRow});
      }
      p.tickHandler(&p);
      std::vector<int> key{p.order, p.row};
      key.insert(key.end(), loops.begin(), loops.end());
      if (!seen.insert(key).second) {
        if (--passes == 0) return XmSongLength{frame, p.order, p.row, true};
        seen = {key};
      }
    } else {
      p.tickHandler(&p);
    }
    frame += std::max(p.samplesPerTick, 1);
  }
  return XmSongLength{cap, 0, 0, false};
}

int32_t frames_per_tick(int bpm) { return xm_tick_frames(bpm, 44100); }

ModuleDef with_patterns(int count, int rows) {
  ModuleDef m;
  m.instruments.push_back(one_sample_instrument(ramp_sample()));
  m.patterns.assign(static_cast<size_t>(count), PatternDef{});
  for (PatternDef& p : m.patterns) p.rows = rows;
  for (int p = 0; p < count; ++p) m.set(p, 0, 0, cell(49, 1));
  return m;
}

struct LengthCase {
  std::string name;
  ModuleDef module;
  int passes;
  int64_t frames;  // expected; -1 for the default cap
  int endOrder, endRow;
  bool ended;
};

std::vector<LengthCase> crafted() {
  const int64_t tick = 882;  // 125 BPM
  std::vector<LengthCase> cases;

  // Orders 0 1 2, restart at 1; a pattern delay stretches order 1's first row
  // to two rows' time.
  ModuleDef restart = with_patterns(3, 4);
  restart.orders = {0, 1, 2};
  restart.restart = 1;
  restart.set(1, 0, 1, cell(0, 0, 0, fx('E'), 0xE1));
  cases.push_back({"restart position", restart, 1, (12 + 1) * 6 * tick, 1, 0, true});
  cases.push_back({"restart position, twice", restart, 2, (12 + 1 + 8 + 1) * 6 * tick, 1, 0, true});

  // Order 1 slows down and speeds up, then jumps back into row 2 of order 0.
  ModuleDef jump = with_patterns(2, 4);
  jump.orders = {0, 1};
  jump.set(1, 0, 1, cell(0, 0, 0, fx('F'), 3));
  jump.set(1, 1, 1, cell(0, 0, 0, fx('F'), 150));
  jump.set(1, 2, 1, cell(0, 0, 0, fx('B'), 0));
  jump.set(1, 2, 2, cell(0, 0, 0, fx('D'), 0x02));
  cases.push_back({"backward jump", jump, 1, 4 * 6 * tick + 3 * tick + 6 * frames_per_tick(150), 0, 2, true});

  // Rows 2..5 three times, then on to the end and back to the start.
  ModuleDef loop = with_patterns(1, 8);
  loop.set(0, 2, 1, cell(0, 0, 0, fx('E'), 0x60));
  loop.set(0, 5, 1, cell(0, 0, 0, fx('E'), 0x62));
  cases.push_back({"pattern loop", loop, 1, (8 + 2 * 4) * 6 * tick, 0, 0, true});

  // Five nested loops of 16 passes each at speed 1: about 16^5 rows before
  // any row repeats in the same state, far beyond the cap.
  ModuleDef endless = with_patterns(1, 11);
  endless.channels = 5;
  endless.speed = 1;
  for (int c = 0; c < 5; ++c) {
    endless.set(0, c, c, cell(0, 0, 0, fx('E'), 0x60));
    endless.set(0, 9 - c, c, cell(0, 0, 0, fx('E'), 0x6F));
  }
  endless.set(0, 10, 0, cell(0, 0, 0, fx('B'), 0));
  cases.push_back({"never comes back", endless, 1, -1, 0, 0, false});
  return cases;
}

std::vector<fs::path> corpus() {
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(fs::path(VANTOR_SOURCE_DIR) / ".cache/xm-corpus/xm", ec)) {
    if (e.path().extension() == ".xm") files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

void expect_engine_agrees(const XmSong* song, int passes, const XmSongLength& computed) {
  const XmSongLength traced = traced_length(song, passes, int64_t{XM_LENGTH_CAP_SECONDS} * 44100);
  EXPECT_EQ(computed.frames, traced.frames);
  EXPECT_EQ(computed.ended, traced.ended);
  if (traced.ended) {
    EXPECT_EQ(computed.endOrder, traced.endOrder);
    EXPECT_EQ(computed.endRow, traced.endRow);
  }
}

}  // namespace

TEST(SongLength, EqualsTheEnginesFirstReturnToAPlayedRow) {
  for (const LengthCase& c : crafted()) {
    SCOPED_TRACE(c.name);
    SongPtr song = load_bytes(build(c.module));
    ASSERT_NE(song, nullptr) << load_error();
    const XmSongLength length = xm_song_length(song.get(), 44100, c.passes);
    EXPECT_EQ(length.frames, c.frames >= 0 ? c.frames : int64_t{XM_LENGTH_CAP_SECONDS} * 44100);
    EXPECT_EQ(length.ended, c.ended);
    if (c.ended) {
      EXPECT_EQ(length.endOrder, c.endOrder);
      EXPECT_EQ(length.endRow, c.endRow);
    }
    expect_engine_agrees(song.get(), c.passes, length);
  }

  const std::vector<fs::path> files = corpus();
  if (files.empty()) GTEST_SKIP() << "XM corpus not found; run scripts/fetch-xm-corpus.sh to check real modules too";
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    SongPtr song = load_path(file.string());
    ASSERT_NE(song, nullptr) << load_error();
    const XmSongLength length = xm_song_length(song.get(), 44100);
    EXPECT_TRUE(length.ended);
    expect_engine_agrees(song.get(), 1, length);
  }
}
