// The instrument's volume and panning envelopes with sustain and loop, and
// the fadeout after a key off. Both rule sets step them here; where the
// tracker's rules differ, they say how through the arguments.
#pragma once

#include <cstdint>

#include "music/xm_types.h"

// One tick of the volume envelope (`which` XM_UPDATE_VOLUME) or the panning
// envelope (XM_UPDATE_PANNING), setting that update flag. `released`: its
// sustain point holds no longer (a key off). `looping`: reaching its loop's
// end leads back to the loop's start.
void xm_envelope_step(XmChannel& ch, const XmInstrument* ins, uint8_t which, bool released, bool looping);

// Moves the volume or panning envelope (`which`, as above) to tick t
// (effect L). With `onPoint`, landing exactly on a point waits there, so
// that the next tick arrives at it as if by itself and a sustain or loop
// there takes effect; without, the envelope is already on its way to the
// next point.
void xm_move_envelope(XmChannel& ch, const XmInstrument* ins, uint8_t which, int32_t t, bool onPoint);

// Both envelopes from their start: full volume, panning centred, both running.
inline void xm_restart_envelopes(XmChannel& ch) {
  ch.volumeEnvValue = 64;
  ch.panningEnvValue = 32;
  ch.volumeEnvTick = ch.volumeEnvPoint = ch.volumeEnvDelta = 0;
  ch.panningEnvTick = ch.panningEnvPoint = ch.panningEnvDelta = 0;
  ch.volumeEnvStopped = ch.panningEnvStopped = 0;
  ch.updateFlags |= XM_UPDATE_VOLUME | XM_UPDATE_PANNING;
}

// One tick of the fadeout, once a key off has come.
void xm_fadeout(XmChannel& ch, const XmInstrument* ins);

// One tick of both envelopes and the fadeout of a channel, by this player's
// own rules. On the row tick a key off also silences an instrument without
// a volume envelope.
void xm_envelopes(XmChannel& ch, const XmInstrument* ins, bool rowTick);
