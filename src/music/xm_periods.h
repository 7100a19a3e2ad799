// Periods: the note's period by either frequency table, the period's output
// frequency, and the slides that move a period towards a target.
#pragma once

#include <cstdint>

#include "music/xm_types.h"

// Periods stay far inside this range so that no sum of period, delta and
// slide can overflow; real modules never come near it.
constexpr int32_t XM_PERIOD_LIMIT = 1 << 24;
int32_t xm_clamp_period(int64_t period);

// Amiga period of 0-based note n with finetune f.
int32_t xm_amiga_period(int32_t note, int32_t finetune);
// The period of 0-based note `realNote` (the sample's relative note added)
// with `finetune`, by the song's table.
int32_t xm_note_period(bool linear, int32_t realNote, int32_t finetune);
// Output frequency in Hz of a channel's period and period delta. The delta
// raises the pitch with the linear table and lowers it with the Amiga table.
int32_t xm_period_frequency(int32_t period, int32_t periodDelta, bool linear);

// Tone portamento: the period moves by 4 x portaSpeed towards portaTarget,
// not beyond it. Flag 1.
void xm_tone_portamento(XmChannel& ch);
