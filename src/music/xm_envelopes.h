// The instrument's volume and panning envelopes with sustain and loop, and
// the fadeout after a key off.
#pragma once

#include <cstdint>

#include "music/xm_types.h"

// One tick of both envelopes and the fadeout of a channel. On the row tick
// a key off also silences an instrument without a volume envelope.
void xm_envelopes(XmChannel& ch, const XmInstrument* ins, bool rowTick);
// Effect L: moves the volume envelope to tick t.
void xm_set_envelope_position(XmChannel& ch, const XmInstrument* ins, int32_t t);
