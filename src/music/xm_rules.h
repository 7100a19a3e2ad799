// Where this player's own rules and those of the tracker that defined the
// format part. A playback follows one record: xmPlayerRules, this player's
// own and the intro's, or xmTrackerRules (xm_tracker_rules.h), which lives in
// files of its own that only the library and the tools link. Each member is
// a point where the two differ; everything else the engine does alike.
#pragma once

#include <cstdint>

#include "music/xm_effects.h"

struct XmPlayer;

struct XmRules {
  // The row's first tick for one channel, up to its effect: the cell's note,
  // instrument, volume column and key-off, and the envelopes. Fills in the
  // instrument and sample the channel plays; returns what the effects need.
  XmRowMemory (*startRow)(XmPlayer& player, XmChannel& ch, const XmCell& cell, XmResolved& resolved);
  // The effect's row form.
  void (*effectRow)(XmEffectCall& e, XmRowMemory& row);
  // Every other tick of one channel, from the envelopes to the voice update.
  void (*tick)(XmPlayer& player, XmChannel& ch, const XmCell& cell);
  // A voice's target level on each side (0..127) from its volume and panning.
  void (*levels)(MixVoice& v);
  // Frames over which the voice moves to the levels this tick gave it; 0
  // for the mixer's short ramp.
  int32_t (*glide)(const XmPlayer& player, XmChannel& ch);
  // The row a pattern starts at when the one before runs out: given the
  // row a pattern loop last jumped back to in it, -1 for none.
  int32_t (*patternStartRow)(int32_t loopJumpRow);
  // The row that plays when the position names one the pattern lacks
  // (after a break or a loop start past its end).
  int32_t (*missingRow)(int32_t row);
};

// This player's own rules.
extern const XmRules xmPlayerRules;
