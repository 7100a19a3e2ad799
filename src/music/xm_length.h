// How long a song plays: the time from its start until playback first comes
// back to a row it has already played in the same state, which is where a
// listener hears the song end and start over (a jump or break backwards, the
// order list running out into the restart position, a jump after a pattern
// loop has been counted out). Worked out from the song's timing alone, on a
// copy of the position state, without touching the playing song, the channel
// table or the voices, and without mixing.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>

#include "music/xm_types.h"

struct XmRules;

// The state a row starts in, as far as it decides where playback goes next:
// the position, and each channel's pattern loop (how many passes are left,
// and while that is not 0, the row the loop returns to).
class XmRowStates {
 public:
  // Records the state of a row that is about to be played. True when the
  // same state was recorded before.
  bool revisit(int32_t order, int32_t row, const XmChannel* channels, int channelCount);
  // The same, from the loop fields alone (loopRow and loopCount per channel).
  bool revisit(int32_t order, int32_t row, const int32_t* loopRow, const int32_t* loopCount, int channelCount);
  void clear() { seen_.clear(); }

 private:
  std::unordered_set<std::string> seen_;
};

struct XmSongLength {
  int64_t frames;    // output frames at the rate asked for until the end, or the cap
  int32_t endOrder;  // the row playback comes back to: order position
  int32_t endRow;    // and row
  bool ended;        // false when the song did not come back before the cap
};

// Where a song that never comes back is cut: one hour.
constexpr int32_t XM_LENGTH_CAP_SECONDS = 3600;

// The length at `rate` frames a second of `passes` plays of the song from
// its beginning (or from the start of order position `startOrder`): pass 1
// ends at the first return to a row already played in the same state, each
// further pass at the next such return after that. capFrames < 0 means
// XM_LENGTH_CAP_SECONDS. The result is what the block filler reaches: the
// frame at which the first tick of the returning row begins.
// The song plays by `rules`; null means this player's own.
XmSongLength xm_song_length(const XmSong* song, int32_t rate, int passes = 1, int64_t capFrames = -1,
                            int32_t startOrder = 0, const XmRules* rules = nullptr);
