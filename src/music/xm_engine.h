// The playback engine: advances a context's song tick by tick and leaves the
// result in the context's voices (which sample, where, at what step and
// level). Its parts: effects (xm_effects), the oscillators (vibrato,
// tremolo, auto-vibrato, tremor), envelopes, periods and the voice update.
#pragma once

#include <cstdint>

#include "music/xm_effects.h"
#include "music/xm_player.h"

// The default tick handler: advances the context's song by one tick.
void xm_tick(XmPlayer* player);

// Output frames of one tick at `bpm` (below 1 counts as 1) and `rate`:
// 882 at 125 BPM and 44100 Hz. At least 1.
int32_t xm_tick_frames(int32_t bpm, int32_t rate);

// The rate of the song's timeline. A tick lasts as many frames as
// xm_tick_frames gives at this rate, at every output rate: others carry the
// fraction of a frame from tick to tick, so a song keeps its length (to
// within a frame) whatever rate it plays at.
constexpr int32_t XM_TIMELINE_RATE = 44100;

// Sets bpm and recomputes samplesPerTick (on the timeline); frames already
// counted in tickSamplesLeft keep their length. Tempos below 1 count as 1.
void xm_set_bpm(XmPlayer* player, int32_t bpm);

// The output frames of the tick about to start at the context's rate:
// samplesPerTick at 44100 Hz, otherwise samplesPerTick x rate / 44100 with
// the remainder carried in tickRemainder (0 frames for a tick shorter than
// the frame still to fill).
int32_t xm_next_tick_frames(XmPlayer* player);
// The same without carrying the remainder: what the tick about to start
// will last at the context's rate, as long as the tempo stays.
int32_t xm_coming_tick_frames(const XmPlayer& player);

// Output frames at `rate` from the song's start to `timelineFrames` frames
// into its timeline: what the block filler reaches, the tick remainders
// included. Rounded down; beyond INT64_MAX gives -1.
int64_t xm_timeline_to_rate(int64_t timelineFrames, int32_t rate);

// The channel's instrument and the sample its note plays; the empty ones
// where the number or the keymap names nothing.
XmResolved xm_resolve(const XmSong* song, const XmChannel& ch);

// The cell of channel `channel` in the context's current row, or an empty
// cell where the pattern has no such row.
const XmCell& xm_current_cell(const XmPlayer& player, int channel);

// A new instrument on the channel: volume and panning from `sample`,
// envelopes, fadeout, auto-vibrato and tremor from their start, vibrato and
// tremolo positions too unless their waveform keeps them. Flags 2 and 4.
void xm_reset_channel(XmChannel& ch, const XmSample* sample);
