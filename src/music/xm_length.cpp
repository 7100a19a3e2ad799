#include "music/xm_length.h"

#include <cstring>

#include "music/xm_effects.h"
#include "music/xm_engine.h"
#include "music/xm_rules.h"

namespace {

// The position and timing of a song as the course follows it, at the start
// of a row.
struct Sequence {
  const XmSong* song;
  const XmRules* rules;
  int channelCount;
  int32_t speed, bpm, tickFrames;
  int32_t row, order, nextRow, nextOrder;
  int32_t loopJumpRow;  // row a pattern loop last jumped back to in this pattern, -1 = none
  int32_t loopRow[XM_CHANNELS], loopCount[XM_CHANNELS];
  int64_t frame;  // timeline frame at which the row's first tick begins
};

int32_t pattern_rows(const XmSong& song, int32_t order) {
  if (order < 0 || order >= 256) return 0;
  const int pattern = song.orders[order];
  if (pattern >= song.patternCount) return 0;
  return song.patterns[pattern].rows;
}

const XmCell* row_cells(const XmSong& song, int32_t order, int32_t row) {
  if (row < 0 || row >= pattern_rows(song, order)) return nullptr;
  const XmPattern& p = song.patterns[song.orders[order]];
  if (!p.cells) return nullptr;
  return p.cells + static_cast<size_t>(row) * static_cast<size_t>(song.channelCount);
}

void start(Sequence& s, const XmSong* song, const XmRules* rules, int32_t startOrder, int32_t startRow) {
  std::memset(&s, 0, sizeof s);
  s.song = song;
  s.rules = rules ? rules : &xmPlayerRules;
  s.loopJumpRow = -1;
  s.channelCount = song->channelCount < XM_CHANNELS ? song->channelCount : XM_CHANNELS;
  s.speed = song->defaultSpeed;
  s.bpm = song->defaultBpm < 1 ? 1 : song->defaultBpm;
  s.tickFrames = xm_tick_frames(s.bpm, XM_TIMELINE_RATE);
  s.nextRow = s.nextOrder = -1;
  if (startOrder > 0 || startRow > 0) {
    s.nextOrder = startOrder;
    s.nextRow = startRow;
  }
}

// Moves to the row that starts now, as the engine's row tick does.
void enter_row(Sequence& s) {
  if (s.nextOrder >= 0) s.order = s.nextOrder;
  if (s.nextRow >= 0) s.row = s.nextRow;
  if (s.order >= s.song->songLength) s.order = 0;
  if (s.row >= pattern_rows(*s.song, s.order)) s.row = s.rules->missingRow(s.row);
}

// The row tick's part of the engine that decides the position and the
// timing, step for step as the engine does it; everything else a row does
// cannot change where playback goes. Then the row's ticks pass.
void play_row(Sequence& s) {
  s.nextRow = -1;
  s.nextOrder = -1;
  int32_t patternDelayTicks = 0;
  const XmSong& song = *s.song;
  if (const XmCell* cells = row_cells(song, s.order, s.row)) {
    bool jumped = false;
    for (int i = 0; i < s.channelCount; ++i) {
      const XmCell& cell = cells[i];
      const int x = cell.param >> 4, y = cell.param & 15;
      switch (cell.effect) {
        case FX_JUMP:
          s.nextOrder = cell.param >= song.songLength ? 0 : cell.param;
          s.nextRow = 0;
          jumped = true;
          break;
        case FX_BREAK: {
          const int32_t target = x * 10 + y;
          s.nextRow = target > 63 ? 0 : target;
          if (!jumped) s.nextOrder = s.order + 1;
          if (s.nextOrder >= song.songLength) s.nextOrder = 0;
          break;
        }
        case FX_EXTENDED:
          if (x == FX_E_PATTERN_LOOP) {
            if (y == 0) {
              s.loopRow[i] = s.row;
            } else {
              s.loopCount[i] = s.loopCount[i] == 0 ? y : s.loopCount[i] - 1;
              if (s.loopCount[i] != 0) s.nextRow = s.loopJumpRow = s.loopRow[i];
            }
          } else if (x == FX_E_PATTERN_DELAY) {
            patternDelayTicks = y * s.speed;
          }
          break;
        case FX_SPEED:
          if (cell.param < 32) {
            s.speed = cell.param;
          } else {
            s.bpm = cell.param;
            s.tickFrames = xm_tick_frames(cell.param, XM_TIMELINE_RATE);
          }
          break;
        default: break;
      }
    }
  }
  if (s.nextOrder >= 0) s.loopJumpRow = -1;
  if (s.nextRow == -1) {
    s.nextRow = s.row + 1;
    if (s.nextRow >= pattern_rows(song, s.order)) {
      s.nextOrder = s.order + 1;
      if (s.nextOrder >= song.songLength) s.nextOrder = song.restartPosition;
      s.nextRow = s.rules->patternStartRow(s.loopJumpRow);
      s.loopJumpRow = -1;
    }
  }
  // The tick counter wraps at speed plus delay; a row has at least its own tick.
  const int32_t ticks = s.speed + patternDelayTicks > 1 ? s.speed + patternDelayTicks : 1;
  s.frame += int64_t{ticks} * s.tickFrames;
}

bool loops_running(const Sequence& s) {
  for (int i = 0; i < s.channelCount; ++i) {
    if (s.loopCount[i] != 0) return true;
  }
  return false;
}

// The position and the running loops (a finished loop's start row only
// matters once a new loop begins, and every loop in practice sets its start
// first), as a 64-bit fingerprint that is never 0.
uint64_t fingerprint(const Sequence& s) {
  uint64_t h = 1469598103934665603ull;
  auto add = [&h](uint32_t v) {
    h ^= v;
    h *= 1099511628211ull;
  };
  add(static_cast<uint32_t>(s.order) << 16 | static_cast<uint32_t>(s.row));
  for (int i = 0; i < s.channelCount; ++i) {
    if (s.loopCount[i] == 0) continue;
    add(static_cast<uint32_t>(i) << 24 | static_cast<uint32_t>(s.loopCount[i] & 0xFF) << 16 |
        static_cast<uint32_t>(s.loopRow[i] & 0xFFFF));
  }
  h ^= h >> 31;
  h *= 0x7fb5d329728ea185ull;
  h ^= h >> 27;
  return h == 0 ? 1 : h;
}

void row_set_clear(XmRowSet* set) {
  std::memset(set->plain, 0, sizeof set->plain);
  if (set->looped) std::memset(set->looped, 0, set->capacity * sizeof(uint64_t));
  set->count = 0;
}

// Puts a fingerprint into a table with room for it.
bool table_insert(uint64_t* table, size_t capacity, uint64_t key) {
  for (size_t i = static_cast<size_t>(key) & (capacity - 1);; i = (i + 1) & (capacity - 1)) {
    if (table[i] == key) return false;
    if (table[i] == 0) {
      table[i] = key;
      return true;
    }
  }
}

// Notes the state of the row that starts now; `seen` tells whether it was
// there already. False when the table cannot grow.
bool row_set_insert(XmRowSet* set, const Sequence& s, bool* seen) {
  if (!loops_running(s)) {
    const size_t bit = static_cast<size_t>(s.order) << 8 | static_cast<size_t>(s.row);
    uint64_t& word = set->plain[bit / 64];
    *seen = (word >> (bit % 64) & 1) != 0;
    word |= uint64_t{1} << (bit % 64);
    return true;
  }
  if (2 * (set->count + 1) > set->capacity) {
    const size_t capacity = set->capacity ? 2 * set->capacity : 1024;
    auto* table = static_cast<uint64_t*>(xm_allocate(capacity, sizeof(uint64_t)));
    if (!table) return false;
    for (size_t i = 0; i < set->capacity; ++i) {
      if (set->looped[i] != 0) table_insert(table, capacity, set->looped[i]);
    }
    xm_deallocate(set->looped);
    set->looped = table;
    set->capacity = capacity;
  }
  *seen = !table_insert(set->looped, set->capacity, fingerprint(s));
  if (!*seen) ++set->count;
  return true;
}

// Everything the course from a row start on depends on.
struct RowState {
  int32_t order, row, speed, bpm, loopJumpRow;
  int32_t loopRow[XM_CHANNELS], loopCount[XM_CHANNELS];
};

RowState state_of(const Sequence& s) {
  RowState state;
  std::memset(&state, 0, sizeof state);
  state.order = s.order;
  state.row = s.row;
  state.speed = s.speed;
  state.bpm = s.bpm;
  state.loopJumpRow = s.loopJumpRow;
  std::memcpy(state.loopRow, s.loopRow, sizeof state.loopRow);
  std::memcpy(state.loopCount, s.loopCount, sizeof state.loopCount);
  return state;
}

XmPlayEnd end_at(const Sequence& s, int64_t frame) { return XmPlayEnd{frame, s.order, s.row, s.speed, s.bpm}; }

bool position_at(void* user, int64_t, int32_t order, int32_t row) {
  auto* at = static_cast<int32_t*>(user);
  at[0] = order;
  at[1] = row;
  return false;
}

}  // namespace

void xm_row_set_release(XmRowSet* set) {
  xm_deallocate(set->looped);
  set->looped = nullptr;
  set->capacity = set->count = 0;
}

bool xm_follow_course(const XmSong* song, const XmRules* rules, int32_t startOrder, int32_t startRow, XmRowSet* set,
                      XmCourse* course) {
  std::memset(course, 0, sizeof *course);
  course->rules = rules;
  course->startOrder = startOrder;
  course->startRow = startRow;
  const int64_t cap = int64_t{XM_LENGTH_CAP_SECONDS} * XM_TIMELINE_RATE;
  Sequence s;
  start(s, song, rules, startOrder, startRow);
  row_set_clear(set);
  RowState states[XM_COURSE_PLAYS];
  XmPlayEnd capEnd{};
  bool capNoted = false;
  int32_t rowsLeft = XM_COURSE_MAX_ROWS;
  int plays = 0;
  for (;;) {
    enter_row(s);
    if (!capNoted && s.frame >= cap) {
      capEnd = end_at(s, cap);
      capNoted = true;
    }
    bool seen = false;
    if (!row_set_insert(set, s, &seen)) return false;
    if (seen) {
      course->ended = true;
      course->ends[plays] = end_at(s, s.frame);
      states[plays] = state_of(s);
      for (int j = 0; j < plays; ++j) {
        if (std::memcmp(&states[j], &states[plays], sizeof(RowState)) != 0) continue;
        // The plays after the one ending in this state repeat.
        course->known = plays + 1;
        course->cycleFrom = j + 1;
        course->cycleLength = plays - j;
        course->cycleFrames = course->ends[plays].frame - course->ends[j].frame;
        return true;
      }
      if (++plays == XM_COURSE_PLAYS) {
        // Never seen in real songs: take the last play as the one that repeats.
        course->known = plays;
        course->cycleFrom = plays - 1;
        course->cycleLength = 1;
        course->cycleFrames = course->ends[plays - 1].frame - course->ends[plays - 2].frame;
        return true;
      }
      // The returning row is the next play's first.
      row_set_clear(set);
      if (!row_set_insert(set, s, &seen)) return false;
    }
    if (--rowsLeft < 0) {
      course->known = plays > 0 ? plays : 1;
      course->cycleLength = 1;
      if (plays == 0) {
        // No end: each play is an hour.
        course->ends[0] = capNoted ? capEnd : end_at(s, s.frame);
        course->cycleFrames = course->ends[0].frame;
      } else {
        // Later plays too long to follow: take the last one followed as the
        // one that repeats.
        course->cycleFrom = plays - 1;
        course->cycleFrames =
            course->ends[plays - 1].frame - (plays > 1 ? course->ends[plays - 2].frame : 0);
      }
      return true;
    }
    play_row(s);
  }
}

bool xm_course_end(const XmCourse& course, int64_t plays, XmPlayEnd* end) {
  const int64_t k = plays < 1 ? 0 : plays - 1;
  if (k < course.known) {
    *end = course.ends[k];
    return true;
  }
  const int64_t t = k - course.cycleFrom;
  const int64_t q = t / course.cycleLength;
  *end = course.ends[course.cycleFrom + t % course.cycleLength];
  if (course.cycleFrames > 0 && q > (INT64_MAX - end->frame) / course.cycleFrames) return false;
  end->frame += q * course.cycleFrames;
  return true;
}

int64_t xm_course_fold(const XmCourse& course, int64_t frame) {
  if (course.cycleFrames <= 0 || course.known < 1) return frame;
  const int64_t base = course.ends[course.cycleFrom > 0 ? course.cycleFrom - 1 : 0].frame;
  if (frame < base + course.cycleFrames) return frame;
  return base + (frame - base) % course.cycleFrames;
}

bool xm_course_walk(const XmSong* song, const XmCourse& course, int64_t untilFrame, XmRowVisitor visit, void* user) {
  Sequence s;
  start(s, song, course.rules, course.startOrder, course.startRow);
  // Folded frames lie within two cycles of a play's end; the bound only
  // guards against a caller that did not fold.
  for (int64_t rows = 0; rows < int64_t{4} * XM_COURSE_PLAYS * XM_COURSE_MAX_ROWS; ++rows) {
    enter_row(s);
    if (s.frame > untilFrame) return false;
    if (visit(user, s.frame, s.order, s.row)) return true;
    play_row(s);
  }
  return false;
}

XmSongLength xm_song_length(const XmSong* song, int32_t rate, int passes, int64_t capFrames, int32_t startOrder,
                            const XmRules* rules) {
  XmSongLength result{0, 0, 0, false};
  if (!song || song->channelCount <= 0) return result;
  XmRowSet* set = static_cast<XmRowSet*>(xm_allocate(1, sizeof(XmRowSet)));
  if (!set) return result;
  XmCourse course;
  const bool followed = xm_follow_course(song, rules, startOrder, 0, set, &course);
  xm_row_set_release(set);
  xm_deallocate(set);
  if (!followed) return result;
  XmPlayEnd end{};
  const bool inRange = xm_course_end(course, passes, &end);
  const int64_t frames = inRange ? xm_timeline_to_rate(end.frame, rate) : -1;
  if (capFrames >= 0 && (frames < 0 || frames >= capFrames)) {
    int32_t at[2] = {0, 0};
    const int64_t seconds = capFrames / rate;
    const int64_t timeline = seconds > INT64_MAX / XM_TIMELINE_RATE - 1
                                 ? INT64_MAX
                                 : seconds * XM_TIMELINE_RATE + capFrames % rate * XM_TIMELINE_RATE / rate;
    xm_course_walk(song, course, xm_course_fold(course, timeline), position_at, at);
    return XmSongLength{capFrames, at[0], at[1], false};
  }
  return XmSongLength{frames < 0 ? INT64_MAX : frames, end.order, end.row, course.ended && frames >= 0};
}
