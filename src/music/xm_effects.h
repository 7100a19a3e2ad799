// The effects of the pattern cells: each has a row form (on the row's first
// tick) and a tick form (on every other tick), and the volume column has
// both too. Handlers are named after their effect, E's sub-effects like the
// main ones.
#pragma once

#include <cstdint>

#include "music/xm_types.h"

struct XmPlayer;

// Effect numbers: 0..9 the digits, 10..35 the letters A..Z.
enum XmEffect : uint8_t {
  FX_ARPEGGIO = 0, FX_PORTA_UP = 1, FX_PORTA_DOWN = 2, FX_TONE_PORTA = 3, FX_VIBRATO = 4,
  FX_TONE_PORTA_VOLSLIDE = 5, FX_VIBRATO_VOLSLIDE = 6, FX_TREMOLO = 7, FX_PANNING = 8,
  FX_SAMPLE_OFFSET = 9, FX_VOLSLIDE = 10, FX_JUMP = 11, FX_VOLUME = 12, FX_BREAK = 13,
  FX_EXTENDED = 14, FX_SPEED = 15, FX_GLOBAL_VOLUME = 16, FX_GLOBAL_VOLSLIDE = 17,
  FX_KEY_OFF = 20, FX_ENVELOPE_POSITION = 21, FX_PANSLIDE = 25, FX_RETRIGGER = 27,
  FX_TREMOR = 29, FX_EXTRA_FINE_PORTA = 33,
};

// Effect E's sub-effects, by the parameter's high nibble.
enum XmExtendedEffect : uint8_t {
  FX_E_FINE_PORTA_UP = 1, FX_E_FINE_PORTA_DOWN = 2, FX_E_GLISSANDO = 3, FX_E_VIBRATO_WAVEFORM = 4,
  FX_E_FINETUNE = 5, FX_E_PATTERN_LOOP = 6, FX_E_TREMOLO_WAVEFORM = 7, FX_E_PANNING = 8,
  FX_E_RETRIGGER = 9, FX_E_FINE_VOLSLIDE_UP = 10, FX_E_FINE_VOLSLIDE_DOWN = 11, FX_E_NOTE_CUT = 12,
  FX_E_NOTE_DELAY = 13, FX_E_PATTERN_DELAY = 14,
};

// The instrument a channel plays and the sample its note resolves to.
struct XmResolved {
  const XmInstrument* instrument;
  const XmSample* sample;
};

// What an effect works on: the context, the channel, its cell of the
// current row, the instrument and sample the channel resolves to, and the
// tick the effects count (0 on the row's first).
struct XmEffectCall {
  XmPlayer& player;
  XmChannel& ch;
  const XmCell& cell;
  const XmInstrument* instrument;
  const XmSample* sample;
  int32_t tick;
};

// What the row keeps for its effects: the channel's period, volume and
// panning before the row (note delay puts them back), whether a position
// jump came earlier in the row, and whether the cell's note was taken.
struct XmRowMemory {
  int32_t period, volume, panning;
  bool jumped;
  bool note;  // the cell's note reached the channel
};

void xm_effect_row(XmEffectCall& e, XmRowMemory& row);
void xm_effect_tick(XmEffectCall& e);

// The volume after a retrigger whose volume change is x (Rxy's x), within
// 0..64.
int32_t xm_retrigger_volume(int32_t volume, int x);

// The volume column's byte b, in its row form or its tick form.
void xm_volume_column(XmChannel& ch, uint8_t b, bool rowTick);
