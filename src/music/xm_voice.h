// The voice update: what a channel's tick decided (its update flags) goes
// into the voice that sounds for it: a new note, volume, panning, pitch.
#pragma once

#include "music/xm_types.h"

struct XmPlayer;

// Applies the channel's update flags to its voice: 8 starts `sample` (the
// old sound ramps out in the partner voice first), 2 the volume, 4 the
// panning, 1 the step, 0x20 back to frame 0.
void xm_update_voice(XmPlayer& player, XmChannel& ch, const XmSample* sample);
