#include "music/xm_length.h"

#include <cstring>

#include "music/xm_effects.h"
#include "music/xm_engine.h"
#include "music/xm_rules.h"

namespace {

// The position and timing of a song as the length scan follows it.
struct Sequence {
  const XmSong& song;
  const XmRules& rules;
  int32_t rate;
  int32_t speed, samplesPerTick;
  int32_t tick, row, order, patternDelayTicks, nextRow, nextOrder;
  int32_t loopJumpRow;  // row a pattern loop last jumped back to in this pattern, -1 = none
};

const XmCell* row_cells(const XmSong& song, int32_t order, int32_t row) {
  if (order < 0 || order >= 256) return nullptr;
  const int pattern = song.orders[order];
  if (pattern >= song.patternCount) return nullptr;
  const XmPattern& p = song.patterns[pattern];
  if (!p.cells || row < 0 || row >= p.rows) return nullptr;
  return p.cells + static_cast<size_t>(row) * static_cast<size_t>(song.channelCount);
}

int32_t pattern_rows(const XmSong& song, int32_t order) {
  if (order < 0 || order >= 256) return 0;
  const int pattern = song.orders[order];
  if (pattern >= song.patternCount) return 0;
  return song.patterns[pattern].rows;
}

void put16(std::string& key, int32_t v) {
  key.push_back(static_cast<char>(v & 0xFF));
  key.push_back(static_cast<char>((v >> 8) & 0xFF));
}

// The row tick's part of the engine that decides the position and the
// timing, step for step as the engine does it, on `s` and the loop fields.
// Everything else a row does cannot change where playback goes.
void sequence_row(Sequence& s, int32_t* loopRow, int32_t* loopCount, int channelCount) {
  s.nextRow = -1;
  s.nextOrder = -1;
  const XmCell* cells = row_cells(s.song, s.order, s.row);
  if (!cells) return;
  bool jumped = false;
  for (int i = 0; i < channelCount; ++i) {
    const XmCell& cell = cells[i];
    const int x = cell.param >> 4, y = cell.param & 15;
    switch (cell.effect) {
      case FX_JUMP:
        s.nextOrder = cell.param >= s.song.songLength ? 0 : cell.param;
        s.nextRow = 0;
        jumped = true;
        break;
      case FX_BREAK: {
        const int32_t target = x * 10 + y;
        s.nextRow = target > 63 ? 0 : target;
        if (!jumped) s.nextOrder = s.order + 1;
        if (s.nextOrder >= s.song.songLength) s.nextOrder = 0;
        break;
      }
      case FX_EXTENDED:
        if (x == FX_E_PATTERN_LOOP) {
          if (y == 0) {
            loopRow[i] = s.row;
          } else {
            loopCount[i] = loopCount[i] == 0 ? y : loopCount[i] - 1;
            if (loopCount[i] != 0) s.nextRow = s.loopJumpRow = loopRow[i];
          }
        } else if (x == FX_E_PATTERN_DELAY) {
          s.patternDelayTicks = y * s.speed;
        }
        break;
      case FX_SPEED:
        if (cell.param < 32) {
          s.speed = cell.param;
        } else {
          s.samplesPerTick = xm_tick_frames(cell.param, s.rate);
        }
        break;
      default: break;
    }
  }
}

}  // namespace

bool XmRowStates::revisit(int32_t order, int32_t row, const int32_t* loopRow, const int32_t* loopCount,
                          int channelCount) {
  std::string key;
  put16(key, order);
  put16(key, row);
  for (int i = 0; i < channelCount; ++i) {
    // A finished loop's start row only matters once a new loop begins,
    // and every loop in practice sets its start first.
    if (loopCount[i] == 0) continue;
    key.push_back(static_cast<char>(i));
    put16(key, loopCount[i]);
    put16(key, loopRow[i]);
  }
  return !seen_.insert(std::move(key)).second;
}

bool XmRowStates::revisit(int32_t order, int32_t row, const XmChannel* channels, int channelCount) {
  int32_t loopRow[XM_CHANNELS], loopCount[XM_CHANNELS];
  const int count = channelCount < XM_CHANNELS ? channelCount : XM_CHANNELS;
  for (int i = 0; i < count; ++i) {
    loopRow[i] = channels[i].loopRow;
    loopCount[i] = channels[i].loopCount;
  }
  return revisit(order, row, loopRow, loopCount, count);
}

XmSongLength xm_song_length(const XmSong* song, int32_t rate, int passes, int64_t capFrames, int32_t startOrder,
                            const XmRules* rules) {
  XmSongLength result{0, 0, 0, false};
  if (!song || song->channelCount <= 0) return result;
  if (capFrames < 0) capFrames = int64_t{XM_LENGTH_CAP_SECONDS} * rate;
  if (passes < 1) passes = 1;
  const int channelCount = song->channelCount < XM_CHANNELS ? song->channelCount : XM_CHANNELS;

  Sequence s{*song, rules ? *rules : xmPlayerRules, rate, song->defaultSpeed, xm_tick_frames(song->defaultBpm, rate),
             0, 0, 0, 0, -1, -1, -1};
  if (startOrder > 0 && startOrder < song->songLength) {
    s.nextOrder = startOrder;
    s.nextRow = 0;
  }
  int32_t loopRow[XM_CHANNELS] = {}, loopCount[XM_CHANNELS] = {};
  XmRowStates states;
  int passesDone = 0;

  int64_t frames = 0;
  while (frames < capFrames) {
    if (s.tick == 0) {
      if (s.nextOrder >= 0) s.order = s.nextOrder;
      if (s.nextRow >= 0) s.row = s.nextRow;
      if (s.order >= song->songLength) s.order = 0;
      if (s.row >= pattern_rows(*song, s.order)) s.row = s.rules.missingRow(s.row);
      if (states.revisit(s.order, s.row, loopRow, loopCount, channelCount)) {
        if (++passesDone == passes) return XmSongLength{frames, s.order, s.row, true};
        // The next pass ends at the next return, counted from here.
        states.clear();
        states.revisit(s.order, s.row, loopRow, loopCount, channelCount);
      }
      sequence_row(s, loopRow, loopCount, channelCount);
      if (s.nextOrder >= 0) s.loopJumpRow = -1;
      if (s.nextRow == -1) {
        s.nextRow = s.row + 1;
        if (s.nextRow >= pattern_rows(*song, s.order)) {
          s.nextOrder = s.order + 1;
          if (s.nextOrder >= song->songLength) s.nextOrder = song->restartPosition;
          s.nextRow = s.rules.patternStartRow(s.loopJumpRow);
          s.loopJumpRow = -1;
        }
      }
    }
    s.tick += 1;
    if (s.tick >= s.speed + s.patternDelayTicks) {
      s.patternDelayTicks = 0;
      s.tick = 0;
    }
    frames += s.samplesPerTick;
  }
  return XmSongLength{capFrames, s.order, s.row, false};
}
