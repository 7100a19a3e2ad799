// The oscillators: vibrato and tremolo (effects 4, 6, 7 and the volume
// column's vibrato), the instrument's auto-vibrato, and tremor's on and off
// phases. Each sets this tick's period or volume delta of a channel.
#pragma once

#include <cstdint>

#include "music/xm_types.h"

// Vibrato at the channel's position: periodDelta, flag 1. The position is
// moved on by the caller (xm_vibrato_advance), on the ticks after the row's.
void xm_vibrato(XmChannel& ch);
void xm_vibrato_advance(XmChannel& ch);
// Tremolo at the channel's position: volumeDelta within 0..64, flag 2; the
// position moves on.
void xm_tremolo(XmChannel& ch);
// The same with the waveform's value v (0..255) at the position given.
void xm_tremolo_by(XmChannel& ch, int32_t v);
// Tremor: silent (volumeDelta = -volume) once the counter passes the on
// phase; the counter runs round on + off ticks. Flag 2.
void xm_tremor(XmChannel& ch);
// The instrument's auto-vibrato, added to periodDelta; its sweep and
// position move on. Flag 1, on every tick of every channel.
void xm_auto_vibrato(XmChannel& ch, const XmInstrument* ins);
