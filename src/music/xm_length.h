// How long a song plays: the time from its start until playback first comes
// back to a row it has already played in the same state, which is where a
// listener hears the song end and start over (a jump or break backwards, the
// order list running out into the restart position, a jump after a pattern
// loop has been counted out). Worked out from the song's timing alone,
// following the sequencer without the channels, the voices or any mixing.
//
// The course is followed once: play 1 to its return, then further plays
// until the state in which one starts (position, speed, tempo, pattern
// loops) repeats one seen before. From there the plays repeat, so the end
// of any number of plays is arithmetic. Frames here are frames of the
// song's timeline, 44100 a second (xm_timeline_to_rate converts them).
#pragma once

#include <cstddef>
#include <cstdint>

#include "music/xm_types.h"

struct XmRules;

// Where a song that never comes back is cut, per play: one hour.
constexpr int32_t XM_LENGTH_CAP_SECONDS = 3600;
// Rows the course is followed for, all plays together; a song whose first
// play has not come back by then counts as one that never does. That is
// over 2.8 hours at the fastest speed and tempo, and only reached by
// pattern loops nested across channels, since without running loops a song
// has at most 65536 distinct rows.
constexpr int32_t XM_COURSE_MAX_ROWS = 1 << 20;
// Plays whose ends are followed before they must repeat.
constexpr int XM_COURSE_PLAYS = 4;

// The row states a play has been through: one bit per order position and
// row while no pattern loop runs, a 64-bit fingerprint of the position and
// the running loops otherwise. The fingerprints' table grows as needed.
struct XmRowSet {
  uint64_t plain[256 * 256 / 64];
  uint64_t* looped;  // open addressing, 0 = free
  size_t capacity, count;
};

// Where a play ends: the timeline frame at which the returning row's first
// tick begins, that row, and the speed and tempo playback has there.
struct XmPlayEnd {
  int64_t frame;
  int32_t order, row;
  int32_t speed, bpm;
};

struct XmCourse {
  const XmRules* rules;          // the rules the song was followed by
  int32_t startOrder, startRow;  // where it was followed from
  bool ended;    // false when play 1 did not come back within XM_COURSE_MAX_ROWS
  int32_t known; // plays whose ends are held in ends, 1..XM_COURSE_PLAYS
  XmPlayEnd ends[XM_COURSE_PLAYS];
  // Plays from index cycleFrom (0-based) on repeat every cycleLength plays,
  // each such cycle lasting cycleFrames. For a song that never comes back,
  // every play is an hour (ends[0] is where the first hour ends).
  int32_t cycleFrom, cycleLength;
  int64_t cycleFrames;
};

// Follows `song` played by `rules` (null: this player's own) from order
// position startOrder, row startRow (0, 0: its start) into `course`. `set`
// is scratch (zero-filled the first time; free its table with
// xm_row_set_release). False when memory runs out.
bool xm_follow_course(const XmSong* song, const XmRules* rules, int32_t startOrder, int32_t startRow, XmRowSet* set,
                      XmCourse* course);
void xm_row_set_release(XmRowSet* set);

// Where `plays` (1 or more) plays end. False when that lies beyond the
// range of int64 frames.
bool xm_course_end(const XmCourse& course, int64_t plays, XmPlayEnd* end);

// A frame far into the course moved back by whole cycles to where the same
// rows play: into the first cycle of repeating plays, which starts where a
// play ends (the second play, for most songs), so that what one play leaves
// ringing into the next is there too. Earlier frames stay.
int64_t xm_course_fold(const XmCourse& course, int64_t frame);

// Calls `visit` with the timeline frame, order position and row of every
// row start from the course's start on, until `visit` returns true (then
// true) or the row starting at or after `untilFrame` (then false).
using XmRowVisitor = bool (*)(void* user, int64_t frame, int32_t order, int32_t row);
bool xm_course_walk(const XmSong* song, const XmCourse& course, int64_t untilFrame, XmRowVisitor visit, void* user);

// For tests and tools: the length at `rate` of `passes` plays from the start
// of order position startOrder by `rules` (null: this player's own), cut at
// capFrames frames at that rate (< 0: no cap). Frames 0 with ended false
// when memory runs out.
struct XmSongLength {
  int64_t frames;    // output frames at the rate asked for until the end, or the cap
  int32_t endOrder;  // the row playback comes back to (or is at, at the cap): order position
  int32_t endRow;    // and row
  bool ended;        // false when the song did not come back before the cap
};
XmSongLength xm_song_length(const XmSong* song, int32_t rate, int passes = 1, int64_t capFrames = -1,
                            int32_t startOrder = 0, const XmRules* rules = nullptr);
