#include "music/xm_effects.h"

#include "music/xm_engine.h"
#include "music/xm_envelopes.h"
#include "music/xm_oscillators.h"
#include "music/xm_periods.h"
#include "music/xm_player.h"

namespace {

constexpr int32_t panningLimit = 1 << 24;

int32_t min_i(int32_t a, int32_t b) { return a < b ? a : b; }
int32_t max_i(int32_t a, int32_t b) { return a > b ? a : b; }

uint8_t param_x(const XmEffectCall& e) { return static_cast<uint8_t>(e.cell.param >> 4); }
uint8_t param_y(const XmEffectCall& e) { return static_cast<uint8_t>(e.cell.param & 15); }

// The parameter when it is not 0, else what the memory holds.
void remember(uint8_t& memory, uint8_t value) {
  if (value) memory = value;
}

void clear_flags(XmChannel& ch, uint8_t flags) { ch.updateFlags &= static_cast<uint8_t>(~flags); }

// The volume slide of effects 5, 6 and A, by the memory: up by x, else down
// by y.
void volume_slide(XmChannel& ch) {
  const int x = ch.volumeSlide >> 4, y = ch.volumeSlide & 15;
  if (x != 0) {
    ch.volume = min_i(ch.volume + x, 64);
  } else if (y != 0) {
    ch.volume = max_i(ch.volume - y, 0);
  }
  ch.updateFlags |= XM_UPDATE_VOLUME;
}

// --- 0 arpeggio ---------------------------------------------------------------

void arpeggio_tick(XmEffectCall& e) {
  if (!e.cell.param) return;
  const int step = e.tick % 3;
  const int n = step == 0 ? 0 : (step == 1 ? param_x(e) : param_y(e));
  if (e.player.song->flags & XM_FLAG_LINEAR) {
    e.ch.periodDelta = n * 64;
  } else {
    const int8_t finetune = xm_finetune(e.player, e.sample);
    e.ch.periodDelta = xm_amiga_period(e.ch.realNote + n, finetune) - xm_amiga_period(e.ch.realNote, finetune);
  }
  e.ch.updateFlags |= XM_UPDATE_FREQUENCY;
}

// --- 1, 2 portamento up and down; 3 tone portamento ---------------------------

void porta_up_row(XmEffectCall& e) { remember(e.ch.portaUpSpeed, e.cell.param); }

void porta_up_tick(XmEffectCall& e) {
  e.ch.period = e.ch.period - 4 * e.ch.portaUpSpeed;
  if (e.ch.period < 56) e.ch.period = 56;
  e.ch.periodDelta = 0;
  e.ch.updateFlags |= XM_UPDATE_FREQUENCY;
}

void porta_down_row(XmEffectCall& e) { remember(e.ch.portaDownSpeed, e.cell.param); }

void porta_down_tick(XmEffectCall& e) {
  e.ch.period = xm_clamp_period(int64_t{e.ch.period} + 4 * e.ch.portaDownSpeed);
  e.ch.periodDelta = 0;
  e.ch.updateFlags |= XM_UPDATE_FREQUENCY;
}

// The note only sets the target: the sounding one glides there.
void tone_porta_row(XmEffectCall& e) {
  remember(e.ch.portaSpeed, e.cell.param);
  e.ch.portaTarget = e.ch.notePeriod;
  clear_flags(e.ch, XM_UPDATE_TRIGGER | XM_UPDATE_FREQUENCY);
}

void tone_porta_tick(XmEffectCall& e) {
  e.ch.periodDelta = 0;
  xm_tone_portamento(e.ch);
}

// --- 4 vibrato; 5, 6 with a volume slide; 7 tremolo ------------------------------

void vibrato_row(XmEffectCall& e) {
  remember(e.ch.vibratoSpeed, param_x(e));
  remember(e.ch.vibratoDepth, param_y(e));
  xm_vibrato(e.ch);
}

void vibrato_tick(XmEffectCall& e) {
  xm_vibrato(e.ch);
  xm_vibrato_advance(e.ch);
}

void tone_porta_volslide_row(XmEffectCall& e) {
  e.ch.portaTarget = e.ch.notePeriod;
  remember(e.ch.volumeSlide, e.cell.param);
  clear_flags(e.ch, XM_UPDATE_TRIGGER | XM_UPDATE_FREQUENCY);
}

void tone_porta_volslide_tick(XmEffectCall& e) {
  tone_porta_tick(e);
  volume_slide(e.ch);
}

void vibrato_volslide_row(XmEffectCall& e) {
  remember(e.ch.volumeSlide, e.cell.param);
  xm_vibrato(e.ch);
}

void vibrato_volslide_tick(XmEffectCall& e) {
  vibrato_tick(e);
  volume_slide(e.ch);
}

void tremolo_row(XmEffectCall& e) {
  remember(e.ch.tremoloSpeed, param_x(e));
  remember(e.ch.tremoloDepth, param_y(e));
}

// --- 8 panning, 9 sample offset, A volume slide, C volume -------------------------

void panning_row(XmEffectCall& e) {
  e.ch.panning = e.cell.param;
  e.ch.updateFlags |= XM_UPDATE_PANNING;
}

// An offset at or beyond the loop end does not start the note: the
// sounding voice goes back to its first frame.
void sample_offset_row(XmEffectCall& e) {
  if (e.cell.param) e.ch.sampleOffset = e.cell.param;
  const uint32_t offset = static_cast<uint32_t>(e.ch.sampleOffset) * 256;
  if (e.ch.voice && offset < uint64_t{e.sample->loopStart} + e.sample->loopLength) {
    e.ch.voice->startOffset = offset;
  } else {
    clear_flags(e.ch, XM_UPDATE_TRIGGER);
    e.ch.updateFlags |= XM_UPDATE_REWIND;
  }
}

void volslide_row(XmEffectCall& e) { remember(e.ch.volumeSlide, e.cell.param); }
void volslide_tick(XmEffectCall& e) { volume_slide(e.ch); }

// Not limited to 64.
void volume_row(XmEffectCall& e) {
  e.ch.volume = e.cell.param;
  e.ch.updateFlags |= XM_UPDATE_VOLUME;
}

// --- B position jump, D pattern break, F speed or tempo ----------------------------

void jump_row(XmEffectCall& e, XmRowMemory& row) {
  XmPlayer& p = e.player;
  p.nextOrder = e.cell.param >= p.song->songLength ? 0 : e.cell.param;
  p.nextRow = 0;
  row.jumped = true;
}

void break_row(XmEffectCall& e, const XmRowMemory& row) {
  XmPlayer& p = e.player;
  const int32_t target = param_x(e) * 10 + param_y(e);
  p.nextRow = target > 63 ? 0 : target;
  if (!row.jumped) p.nextOrder = p.order + 1;
  if (p.nextOrder >= p.song->songLength) p.nextOrder = 0;
}

void speed_row(XmEffectCall& e) {
  if (e.cell.param < 32) {
    e.player.speed = e.cell.param;
  } else {
    xm_set_bpm(&e.player, e.cell.param);
  }
}

// --- G global volume, H global volume slide ----------------------------------------

void global_volume_row(XmEffectCall& e) {
  e.player.globalVolume = e.cell.param > 64 ? 64 : e.cell.param;
  e.ch.updateFlags |= XM_UPDATE_VOLUME;
}

void global_volslide_row(XmEffectCall& e) { remember(e.player.globalVolumeSlide, e.cell.param); }

// Sets no flag: the channels hear it when their volume is next set.
void global_volslide_tick(XmEffectCall& e) {
  XmPlayer& p = e.player;
  const int x = p.globalVolumeSlide >> 4, y = p.globalVolumeSlide & 15;
  if (x) {
    p.globalVolume = min_i(p.globalVolume + x, 64);
  } else if (y) {
    p.globalVolume = max_i(p.globalVolume - y, 0);
  }
}

// --- L envelope position, P panning slide -----------------------------------------

void envelope_position_row(XmEffectCall& e) {
  if (!(e.instrument->volumeType & XM_ENV_ON)) return;
  xm_move_envelope(e.ch, e.instrument, XM_UPDATE_VOLUME, e.cell.param, false);
}

void panslide_row(XmEffectCall& e) {
  if (!e.cell.param) return;
  e.ch.panningSlide = e.cell.param;
  e.ch.updateFlags |= XM_UPDATE_PANNING;
}

void panslide_tick(XmEffectCall& e) {
  const int x = e.ch.panningSlide >> 4, y = e.ch.panningSlide & 15;
  if (x) {
    e.ch.panning = min_i(e.ch.panning + x, 255);
  } else if (y) {
    e.ch.panning = max_i(e.ch.panning - y, 0);
  }
  e.ch.updateFlags |= XM_UPDATE_PANNING;
}

// --- R multi retrigger, T tremor, X extra fine portamento --------------------------

void retrigger_row(XmEffectCall& e) {
  if (!e.cell.param) return;
  e.ch.retrigVolume = param_x(e);
  e.ch.retrigInterval = param_y(e);
}

void retrigger_tick(XmEffectCall& e) {
  XmChannel& ch = e.ch;
  if (ch.retrigInterval == 0 || e.tick % ch.retrigInterval != 0) return;
  if (ch.retrigVolume == 0) {
    ch.updateFlags |= XM_UPDATE_TRIGGER;
    return;
  }
  ch.volume = xm_retrigger_volume(ch.volume, ch.retrigVolume);
  ch.updateFlags |= XM_UPDATE_VOLUME | XM_UPDATE_TRIGGER;
}

void tremor_row(XmEffectCall& e) {
  if (e.cell.param) {
    e.ch.tremorOn = static_cast<uint8_t>(param_x(e) + 1);
    e.ch.tremorOff = static_cast<uint8_t>(param_y(e) + 1);
  }
  xm_tremor(e.ch);
}

void extra_fine_porta_row(XmEffectCall& e) {
  XmChannel& ch = e.ch;
  if (param_x(e) == 1) {
    remember(ch.extraFinePortaUp, param_y(e));
    ch.period = xm_clamp_period(int64_t{ch.period} - ch.extraFinePortaUp);
  } else if (param_x(e) == 2) {
    remember(ch.extraFinePortaDown, param_y(e));
    ch.period = xm_clamp_period(int64_t{ch.period} + ch.extraFinePortaDown);
  }
}

// --- E extended: its sub-effects --------------------------------------------------

void e_fine_porta_up_row(XmEffectCall& e) {
  remember(e.ch.finePortaUp, param_y(e));
  e.ch.period = xm_clamp_period(int64_t{e.ch.period} - 4 * e.ch.finePortaUp);
}

void e_fine_porta_down_row(XmEffectCall& e) {
  remember(e.ch.finePortaDown, param_y(e));
  e.ch.period = xm_clamp_period(int64_t{e.ch.period} + 4 * e.ch.finePortaDown);
}

void e_vibrato_waveform_row(XmEffectCall& e) {
  e.ch.waveControl = static_cast<uint8_t>((e.ch.waveControl & 0xF0) | param_y(e));
}

// Every later note of the sample uses it, in this playback only.
void e_finetune_row(XmEffectCall& e) { xm_finetune(e.player, e.sample) = static_cast<int8_t>(param_y(e)); }

void e_pattern_loop_row(XmEffectCall& e) {
  XmChannel& ch = e.ch;
  const int y = param_y(e);
  if (y == 0) {
    ch.loopRow = e.player.row;
    return;
  }
  ch.loopCount = ch.loopCount == 0 ? y : ch.loopCount - 1;
  if (ch.loopCount != 0) e.player.nextRow = e.player.loopJumpRow = ch.loopRow;
}

void e_tremolo_waveform_row(XmEffectCall& e) {
  e.ch.waveControl = static_cast<uint8_t>((e.ch.waveControl & 0x0F) | (param_y(e) << 4));
}

void e_panning_row(XmEffectCall& e) {
  e.ch.panning = param_y(e) * 16;
  e.ch.updateFlags |= XM_UPDATE_PANNING;
}

void e_retrigger_tick(XmEffectCall& e) {
  const int y = param_y(e);
  if (y != 0 && e.tick % y == 0) {
    e.ch.updateFlags |= XM_UPDATE_TRIGGER | XM_UPDATE_VOLUME | XM_UPDATE_FREQUENCY;
  }
}

void e_fine_volslide_up_row(XmEffectCall& e) {
  remember(e.ch.fineVolumeSlide, param_y(e));
  e.ch.volume = min_i(e.ch.volume + e.ch.fineVolumeSlide, 64);
  e.ch.updateFlags |= XM_UPDATE_VOLUME;
}

void e_fine_volslide_down_row(XmEffectCall& e) {
  remember(e.ch.fineVolumeSlide, param_y(e));
  e.ch.volume = max_i(e.ch.volume - e.ch.fineVolumeSlide, 0);
  e.ch.updateFlags |= XM_UPDATE_VOLUME;
}

void e_note_cut_tick(XmEffectCall& e) {
  if (e.tick != param_y(e)) return;
  e.ch.volume = 0;
  e.ch.updateFlags |= XM_UPDATE_VOLUME;
}

constexpr uint8_t allNoteFlags = XM_UPDATE_FREQUENCY | XM_UPDATE_VOLUME | XM_UPDATE_PANNING | XM_UPDATE_TRIGGER;

// The row's note waits: nothing of it reaches the voice yet. ED0 delays
// nothing: the note plays now (waiting for a tick 0 that has passed would
// lose it).
void e_note_delay_row(XmEffectCall& e, const XmRowMemory& row) {
  if (param_y(e) == 0) return;
  clear_flags(e.ch, allNoteFlags);
  e.ch.period = row.period;
  e.ch.volume = row.volume;
  e.ch.panning = row.panning;
}

void e_note_delay_tick(XmEffectCall& e) {
  XmChannel& ch = e.ch;
  if (e.tick != param_y(e)) {
    clear_flags(ch, allNoteFlags);
    return;
  }
  xm_reset_channel(ch, e.sample);
  ch.period = ch.notePeriod;
  ch.updateFlags |= XM_UPDATE_FREQUENCY;
  if (e.cell.volume != 0) xm_volume_column(ch, e.cell.volume, true);
  ch.updateFlags |= XM_UPDATE_TRIGGER;
}

void e_pattern_delay_row(XmEffectCall& e) { e.player.patternDelayTicks = param_y(e) * e.player.speed; }

void extended_row(XmEffectCall& e, const XmRowMemory& row) {
  switch (param_x(e)) {
    case FX_E_FINE_PORTA_UP: e_fine_porta_up_row(e); break;
    case FX_E_FINE_PORTA_DOWN: e_fine_porta_down_row(e); break;
    case FX_E_VIBRATO_WAVEFORM: e_vibrato_waveform_row(e); break;
    case FX_E_FINETUNE: e_finetune_row(e); break;
    case FX_E_PATTERN_LOOP: e_pattern_loop_row(e); break;
    case FX_E_TREMOLO_WAVEFORM: e_tremolo_waveform_row(e); break;
    case FX_E_PANNING: e_panning_row(e); break;
    case FX_E_FINE_VOLSLIDE_UP: e_fine_volslide_up_row(e); break;
    case FX_E_FINE_VOLSLIDE_DOWN: e_fine_volslide_down_row(e); break;
    case FX_E_NOTE_DELAY: e_note_delay_row(e, row); break;
    case FX_E_PATTERN_DELAY: e_pattern_delay_row(e); break;
    default: break;  // E3 glissando and the rest do nothing
  }
}

void extended_tick(XmEffectCall& e) {
  switch (param_x(e)) {
    case FX_E_RETRIGGER: e_retrigger_tick(e); break;
    case FX_E_NOTE_CUT: e_note_cut_tick(e); break;
    case FX_E_NOTE_DELAY: e_note_delay_tick(e); break;
    default: break;
  }
}

}  // namespace

void xm_effect_row(XmEffectCall& e, XmRowMemory& row) {
  switch (e.cell.effect) {
    case FX_PORTA_UP: porta_up_row(e); break;
    case FX_PORTA_DOWN: porta_down_row(e); break;
    case FX_TONE_PORTA: tone_porta_row(e); break;
    case FX_VIBRATO: vibrato_row(e); break;
    case FX_TONE_PORTA_VOLSLIDE: tone_porta_volslide_row(e); break;
    case FX_VIBRATO_VOLSLIDE: vibrato_volslide_row(e); break;
    case FX_TREMOLO: tremolo_row(e); break;
    case FX_PANNING: panning_row(e); break;
    case FX_SAMPLE_OFFSET: sample_offset_row(e); break;
    case FX_VOLSLIDE: volslide_row(e); break;
    case FX_JUMP: jump_row(e, row); break;
    case FX_VOLUME: volume_row(e); break;
    case FX_BREAK: break_row(e, row); break;
    case FX_EXTENDED: extended_row(e, row); break;
    case FX_SPEED: speed_row(e); break;
    case FX_GLOBAL_VOLUME: global_volume_row(e); break;
    case FX_GLOBAL_VOLSLIDE: global_volslide_row(e); break;
    case FX_ENVELOPE_POSITION: envelope_position_row(e); break;
    case FX_PANSLIDE: panslide_row(e); break;
    case FX_RETRIGGER: retrigger_row(e); break;
    case FX_TREMOR: tremor_row(e); break;
    case FX_EXTRA_FINE_PORTA: extra_fine_porta_row(e); break;
    default: break;  // 0 arpeggio and K key off act elsewhere or later
  }
}

void xm_effect_tick(XmEffectCall& e) {
  switch (e.cell.effect) {
    case FX_ARPEGGIO: arpeggio_tick(e); break;
    case FX_PORTA_UP: porta_up_tick(e); break;
    case FX_PORTA_DOWN: porta_down_tick(e); break;
    case FX_TONE_PORTA: tone_porta_tick(e); break;
    case FX_VIBRATO: vibrato_tick(e); break;
    case FX_TONE_PORTA_VOLSLIDE: tone_porta_volslide_tick(e); break;
    case FX_VIBRATO_VOLSLIDE: vibrato_volslide_tick(e); break;
    case FX_TREMOLO: xm_tremolo(e.ch); break;
    case FX_VOLSLIDE: volslide_tick(e); break;
    case FX_EXTENDED: extended_tick(e); break;
    case FX_GLOBAL_VOLSLIDE: global_volslide_tick(e); break;
    case FX_PANSLIDE: panslide_tick(e); break;
    case FX_RETRIGGER: retrigger_tick(e); break;
    case FX_TREMOR: xm_tremor(e.ch); break;
    default: break;
  }
}

int32_t xm_retrigger_volume(int32_t volume, int x) {
  int32_t v = volume;
  switch (x) {
    case 1: v -= 1; break;
    case 2: v -= 2; break;
    case 3: v -= 4; break;
    case 4: v -= 8; break;
    case 5: v -= 16; break;
    case 6: v = v * 2 / 3; break;
    case 7: v >>= 1; break;
    case 9: v += 1; break;
    case 10: v += 2; break;
    case 11: v += 4; break;
    case 12: v += 8; break;
    case 13: v += 16; break;
    case 14: v = v * 3 / 2; break;
    case 15: v *= 2; break;
    default: break;
  }
  return v < 0 ? 0 : (v > 64 ? 64 : v);
}

void xm_volume_column(XmChannel& ch, uint8_t b, bool rowTick) {
  const int y = b & 15;
  switch (b >> 4) {
    case 1: case 2: case 3: case 4:
      if (rowTick) { ch.volume = b - 16; ch.updateFlags |= XM_UPDATE_VOLUME; }
      break;
    case 5:
      if (rowTick && b == 0x50) { ch.volume = 64; ch.updateFlags |= XM_UPDATE_VOLUME; }
      break;
    case 6: ch.volume = max_i(ch.volume - y, 0); ch.updateFlags |= XM_UPDATE_VOLUME; break;
    case 7: ch.volume = min_i(ch.volume + y, 64); ch.updateFlags |= XM_UPDATE_VOLUME; break;
    case 8:
      if (rowTick) { ch.volume = max_i(ch.volume - y, 0); ch.updateFlags |= XM_UPDATE_VOLUME; }
      break;
    case 9:
      if (rowTick) { ch.volume = min_i(ch.volume + y, 64); ch.updateFlags |= XM_UPDATE_VOLUME; }
      break;
    case 10:
      if (rowTick) ch.vibratoSpeed = static_cast<uint8_t>(y);
      break;
    case 11:
      ch.vibratoDepth = static_cast<uint8_t>(y);
      if (!rowTick) {
        xm_vibrato(ch);
        xm_vibrato_advance(ch);
      }
      break;
    case 12:
      if (rowTick) { ch.panning = y * 16; ch.updateFlags |= XM_UPDATE_PANNING; }
      break;
    // Unlimited here (the voice update clamps the final panning), but kept
    // far from overflow however long a slide runs.
    case 13: ch.panning = max_i(ch.panning - y, -panningLimit); ch.updateFlags |= XM_UPDATE_PANNING; break;
    case 14: ch.panning = min_i(ch.panning + y, panningLimit); ch.updateFlags |= XM_UPDATE_PANNING; break;
    case 15:
      if (rowTick) {
        if (y != 0) ch.portaSpeed = static_cast<uint8_t>(y * 16);
        ch.portaTarget = ch.notePeriod;
        clear_flags(ch, XM_UPDATE_TRIGGER);
      } else {
        xm_tone_portamento(ch);
      }
      break;
    default: break;
  }
}
