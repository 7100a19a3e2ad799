// The tracker's rules. Each function below is one behaviour in which the
// tracker that defined the format plays a song differently from this
// player's own rules, named for what it does; the record at the end puts
// them where the engine asks (xm_rules.h). Everything not here the two
// rule sets share.
//
// Notes and instruments
//   k00_is_a_key_off_note            K00 releases the key; the note beside it is ignored
//   notes_beyond_the_range_are_lost  a note whose real note passes B-9 is dropped, instrument kept
//   only_a_note_changes_instrument   a lone instrument number (or one beside a key off or a
//                                    tone portamento) recalls the playing sample's volume and panning
//   key_off_silences_without_envelope  a key off sets the volume of an instrument without
//                                    volume envelope to 0, and its fadeout goes on
//   volume_column_porta_takes_no_note  the volume column's tone portamento keeps the playing note
// Note delay
//   note_delay_defers_the_cell       nothing of the cell happens before its tick
//   delayed_cell                     then the cell plays as on a row's first tick, with the
//                                    last note where it has none; its note restarts the
//                                    envelopes but keeps volume and panning; a tone portamento
//                                    beside it neither takes the note nor moves its target; fine
//                                    volume slides in its volume column are lost; a delayed key
//                                    off restarts the envelopes (or silences an instrument
//                                    without one) and releases nothing, and ignores panning
// Ticks
//   ticks_count_within_each_repetition  a pattern delay repeats the row's ticks for its effects
//   envelopes_after_the_effects      so a delayed note starts its envelopes on its own tick
//   global_volume_every_tick         a global volume change reaches every channel by the next tick
//   volume_column_slides_wait        the volume column's slides skip the row's first tick; its
//                                    panning slide left by 0 sets the panning to 0
// Effects
//   tone_porta_keeps_its_direction   the target changes only with a note; reaching it from
//                                    below turns the direction, so a later glide the wrong way
//                                    jumps to the target
//   glissando_in_semitones           E31 makes tone portamento move in semitones
//   sample_offset_with_the_note      9xx applies only to a note it starts; beside a tone
//                                    portamento it is ignored, memory included; past the
//                                    sample's end it silences the note
//   retrigger_counts_ticks           Rxy counts ticks, on the row's first too (unless the volume
//                                    column sets a volume), and an instrument restarts the count
//   e90_retriggers_at_once           E90 restarts the note on the row's first tick
//   fine_volume_slides_apart         EA and EB remember their amounts apart
//   tremor_counts_down               T runs its on and off phases by counting down, not on the
//                                    row's first tick, and its silence stays until the volume is set
//   tremolo_as_the_tracker           the ramp follows the vibrato's half, waveform 3 is a square,
//                                    and a running tremolo is heard through the row's first tick
//   key_off_at_its_tick              Kxx releases the key on tick xx
//   envelope_position_moves_panning  Lxx moves the panning envelope too where the volume
//                                    envelope has a sustain point, and lands on a point exactly
// Envelopes
//   panning_sustain_holds            a panning envelope held at its sustain stays there after a key off
//   released_loop_end_stops_looping  released from a sustain point at its loop's end, it loops no more
// Voices
//   square_root_pan_law              levels follow the square root of the panning
//   volume_glides_over_the_tick      a volume change glides over the tick, unless it sets the volume
// Song position
//   loop_row_starts_next_pattern     after a pattern loop, the next pattern starts at the loop's row
//   missing_row_plays_empty          a row the pattern lacks plays empty; the next pattern follows
#include "music/xm_tracker_rules.h"

#include <cmath>

#include "music/xm_engine.h"
#include "music/xm_envelopes.h"
#include "music/xm_oscillators.h"
#include "music/xm_periods.h"
#include "music/xm_player.h"
#include "music/xm_tables.h"
#include "music/xm_voice.h"

namespace {

int32_t min_i(int32_t a, int32_t b) { return a < b ? a : b; }
int32_t max_i(int32_t a, int32_t b) { return a > b ? a : b; }
void clear_flags(XmChannel& ch, uint8_t flags) { ch.updateFlags &= static_cast<uint8_t>(~flags); }

bool is_note(uint8_t note) { return note >= 1 && note <= 96; }

uint8_t delay_of(const XmCell& cell) {
  return cell.effect == FX_EXTENDED && (cell.param >> 4) == FX_E_NOTE_DELAY ? cell.param & 15 : 0;
}

// Tremor's silence lasts until the volume is set or slides.
void end_tremor_silence(XmChannel& ch) {
  if (!ch.tremorSilent) return;
  ch.tremorSilent = 0;
  ch.volumeDelta = 0;
}

// The channel's volume, set outright: heard at once.
void set_volume(XmChannel& ch, int32_t volume) {
  end_tremor_silence(ch);
  ch.volume = volume;
  ch.volumeSetAtOnce = 1;
  ch.updateFlags |= XM_UPDATE_VOLUME;
}

// The channel's volume moved by a slide.
void slide_volume(XmChannel& ch, int32_t volume) {
  end_tremor_silence(ch);
  ch.volume = volume;
  ch.updateFlags |= XM_UPDATE_VOLUME;
}

// The volume slide of effects 5, 6 and A, by the memory.
void volume_slide(XmChannel& ch) {
  const int x = ch.volumeSlide >> 4, y = ch.volumeSlide & 15;
  if (x != 0) {
    slide_volume(ch, min_i(ch.volume + x, 64));
  } else if (y != 0) {
    slide_volume(ch, max_i(ch.volume - y, 0));
  }
  ch.updateFlags |= XM_UPDATE_VOLUME;
}

// --- Envelopes ------------------------------------------------------------------

// Released from a sustain point at its loop's end, an envelope loops no more.
bool released_loop_end_stops_looping(const XmChannel& ch, uint8_t type, uint8_t sustain, uint8_t loopEnd) {
  return ch.keyOff && (type & XM_ENV_SUSTAIN) && sustain == loopEnd;
}

// Once the panning envelope holds at its sustain point, a key off no longer
// releases it. (A key off on the very tick it arrives there does.)
bool panning_sustain_holds(XmChannel& ch, const XmInstrument* ins) {
  if (!ch.keyOff && (ins->panningType & XM_ENV_SUSTAIN) && ch.panningEnvPoint == ins->panningSustain &&
      ins->panningSustain < ins->panningPointCount &&
      ch.panningEnvTick == ins->panningEnvelope[ins->panningSustain].x) {
    ch.panningSustainHeld = 1;
  }
  return ch.panningSustainHeld != 0;
}

// Both envelopes and the fadeout. Unlike this player's own, a key off
// does not cut an instrument without volume envelope here: its volume went
// to 0 at the key off (key_off_silences_without_envelope).
void envelopes(XmChannel& ch, const XmInstrument* ins) {
  if ((ins->volumeType & XM_ENV_ON) && !ch.volumeEnvStopped) {
    const bool looping = !released_loop_end_stops_looping(ch, ins->volumeType, ins->volumeSustain, ins->volumeLoopEnd);
    xm_envelope_step(ch, ins, XM_UPDATE_VOLUME, ch.keyOff != 0, looping);
  }
  if ((ins->panningType & XM_ENV_ON) && !ch.panningEnvStopped) {
    const bool held = panning_sustain_holds(ch, ins);
    const bool looping =
        !released_loop_end_stops_looping(ch, ins->panningType, ins->panningSustain, ins->panningLoopEnd);
    xm_envelope_step(ch, ins, XM_UPDATE_PANNING, ch.keyOff && !held, looping);
  }
  xm_fadeout(ch, ins);
}

void restart_envelopes(XmChannel& ch) {
  xm_restart_envelopes(ch);
  ch.panningSustainHeld = 0;
}

// Lxx: the volume envelope, and the panning envelope too where the volume
// envelope has a sustain point.
void envelope_position_moves_panning(XmEffectCall& e) {
  XmChannel& ch = e.ch;
  const XmInstrument* ins = e.instrument;
  if (!(ins->volumeType & XM_ENV_ON)) return;
  // Landing on a point, the next tick arrives there as if by itself.
  xm_move_envelope(ch, ins, XM_UPDATE_VOLUME, e.cell.param, true);
  if ((ins->volumeType & XM_ENV_SUSTAIN) && (ins->panningType & XM_ENV_ON)) {
    xm_move_envelope(ch, ins, XM_UPDATE_PANNING, e.cell.param, true);
    ch.updateFlags |= XM_UPDATE_PANNING;
  }
}

// --- Tone portamento --------------------------------------------------------------

// A new target comes only with a note; the direction towards it is kept.
void aim_tone_porta(XmChannel& ch, bool note) {
  if (!note) return;
  ch.portaTarget = ch.notePeriod;
  ch.portaDirection = static_cast<int8_t>(ch.period > ch.portaTarget ? -1 : (ch.period < ch.portaTarget ? 1 : 0));
}

// With glissando on, the pitch heard is the gliding period rounded to the
// nearest semitone of the target's scale.
void glissando_in_semitones(XmChannel& ch) {
  if (!ch.glissando) return;
  const int32_t diff = ch.period - ch.portaTarget;
  const int32_t steps = diff >= 0 ? (diff + 32) / 64 : -((-diff + 32) / 64);
  ch.periodDelta = ch.period - (ch.portaTarget + steps * 64);
}

// Each tick moves the period the kept way. Reaching the target while the
// period falls turns the direction, so that after a slide past the target
// the next glide jumps straight there.
void tone_porta_keeps_its_direction(XmChannel& ch) {
  const int32_t speed = 4 * ch.portaSpeed;
  if (ch.portaDirection < 0) {
    ch.period -= speed;
    if (ch.period <= ch.portaTarget) {
      ch.period = ch.portaTarget;
      ch.portaDirection = 1;
    }
  } else if (ch.portaDirection > 0) {
    ch.period += speed;
    if (ch.period >= ch.portaTarget) ch.period = ch.portaTarget;
  }
  glissando_in_semitones(ch);
  ch.updateFlags |= XM_UPDATE_FREQUENCY;
}

// --- The volume column --------------------------------------------------------------

// Its slides wait for the second tick; the panning slide left by 0 sets
// the panning to 0, and the panning slides stay within 0..255.
void volume_column(XmChannel& ch, uint8_t b, bool rowTick, bool note) {
  const int y = b & 15;
  switch (b >> 4) {
    case 1: case 2: case 3: case 4:
      if (rowTick) set_volume(ch, b - 16);
      break;
    case 5:
      if (rowTick && b == 0x50) set_volume(ch, 64);
      break;
    case 6: if (!rowTick) slide_volume(ch, max_i(ch.volume - y, 0)); break;
    case 7: if (!rowTick) slide_volume(ch, min_i(ch.volume + y, 64)); break;
    case 8: if (rowTick) slide_volume(ch, max_i(ch.volume - y, 0)); break;
    case 9: if (rowTick) slide_volume(ch, min_i(ch.volume + y, 64)); break;
    case 13:
      if (rowTick) break;
      ch.panning = y == 0 ? 0 : max_i(ch.panning - y, 0);
      ch.updateFlags |= XM_UPDATE_PANNING;
      break;
    case 14:
      if (rowTick) break;
      ch.panning = min_i(ch.panning + y, 255);
      ch.updateFlags |= XM_UPDATE_PANNING;
      break;
    case 15:
      if (rowTick) {
        if (y != 0) ch.portaSpeed = static_cast<uint8_t>(y * 16);
        aim_tone_porta(ch, note);
        clear_flags(ch, XM_UPDATE_TRIGGER);
      } else {
        tone_porta_keeps_its_direction(ch);
      }
      break;
    default: xm_volume_column(ch, b, rowTick); break;  // vibrato and set panning: as this player's own
  }
}

// --- The cell: note, instrument, volume column, key off ---------------------------

// A key off: the fadeout starts and the envelopes' sustain is released; an
// instrument without volume envelope goes silent, though a later volume
// brings it back, fading.
void key_off_silences_without_envelope(XmChannel& ch, const XmInstrument* ins) {
  ch.keyOff = 1;
  if (!(ins->volumeType & XM_ENV_ON)) set_volume(ch, 0);
}

// K00 is a key-off note: the note beside it is ignored.
bool k00_is_a_key_off_note(XmCell& c) {
  if (c.effect != FX_KEY_OFF || c.param != 0) return c.note == 255;
  c.note = 0;
  return true;
}

// A note whose real note (note + the relative note of the sample it would
// play) passes B-9 is dropped; the instrument number beside it still counts.
bool notes_beyond_the_range_are_lost(XmPlayer& p, const XmChannel& ch, uint8_t note) {
  XmChannel probe = ch;
  probe.note = static_cast<uint8_t>(note - 1);
  return note - 1 + xm_resolve(p.song, probe).sample->relativeNote >= 119;
}

// Only a note takes a new instrument; on its own, or beside a key off or a
// tone portamento, the number recalls the playing sample's settings.
bool only_a_note_changes_instrument(uint8_t instrument, bool note, bool keyOff, bool porta) {
  return instrument && note && !keyOff && !porta;
}

// The volume column's tone portamento, like effects 3 and 5, keeps the
// playing note.
bool volume_column_porta_takes_no_note(const XmCell& c) { return c.volume >= 0xF0; }

// The cell on the row's first tick or, when delayed, on its tick.
// Returns whether a note reached the channel.
bool take_cell(XmPlayer& p, XmChannel& ch, const XmCell& cell, bool delayed, XmResolved& r) {
  XmCell c = cell;
  const bool keyOffNote = delayed ? c.note == 255 : k00_is_a_key_off_note(c);
  // A tone portamento beside a note delay neither takes the delayed note
  // nor moves its target: the note plays.
  const bool porta = !delayed && (c.effect == FX_TONE_PORTA || c.effect == FX_TONE_PORTA_VOLSLIDE ||
                                  volume_column_porta_takes_no_note(c));
  bool note = is_note(c.note);
  // A delayed cell without a note plays the last one.
  if (delayed && !note && !keyOffNote) {
    c.note = static_cast<uint8_t>(ch.note + 1);
    note = true;
  }
  if (only_a_note_changes_instrument(c.instrument, note, keyOffNote, porta)) {
    ch.instrument = static_cast<uint8_t>(c.instrument - 1);
  }
  if (note && !porta && notes_beyond_the_range_are_lost(p, ch, c.note)) note = false;
  if (note && !porta) ch.note = static_cast<uint8_t>(c.note - 1);
  r = xm_resolve(p.song, ch);
  if (note) {
    ch.realNote = static_cast<uint8_t>(c.note + r.sample->relativeNote - 1);
    ch.notePeriod = xm_note_period((p.song->flags & XM_FLAG_LINEAR) != 0, ch.realNote, xm_finetune(p, r.sample));
    if (!porta) ch.period = ch.notePeriod;
    ch.updateFlags |= XM_UPDATE_TRIGGER | XM_UPDATE_FREQUENCY;
  }
  if (keyOffNote) {
    if (!delayed) {
      key_off_silences_without_envelope(ch, r.instrument);
    } else if (r.instrument->volumeType & XM_ENV_ON) {
      restart_envelopes(ch);  // a delayed key off releases nothing
    } else {
      set_volume(ch, 0);
    }
  }
  if (delayed && note && !c.instrument) {
    // A delayed note restarts the envelopes, keeping volume and panning.
    restart_envelopes(ch);
    ch.keyOff = 0;
    ch.fadeoutVolume = 65536;
    ch.autoVibratoSweep = 0;
    ch.autoVibratoPosition = 0;
  }
  if (c.instrument) {
    if (keyOffNote) {
      // Beside a key off the number recalls volume and panning; the key stays released.
      set_volume(ch, r.sample->volume);
      ch.panning = r.sample->panning;
      ch.updateFlags |= XM_UPDATE_PANNING;
    } else {
      end_tremor_silence(ch);
      xm_reset_channel(ch, r.sample);
      ch.tremorLeft = ch.tremorPhaseOn = 0;
      ch.panningSustainHeld = 0;
      ch.volumeSetAtOnce = 1;
    }
  }
  if (c.volume) {
    const bool panning = c.volume >= 0xC0 && c.volume < 0xF0;
    const bool slide = c.volume >= 0x60 && c.volume < 0xA0;
    // A delayed cell loses its volume column's fine slides and tone
    // portamento, and a delayed key off its panning.
    const bool lost = delayed && (slide || c.volume >= 0xF0 || (keyOffNote && panning));
    if (!lost) volume_column(ch, c.volume, true, note);
  }
  return note;
}

// A note delay defers the whole cell to its tick: nothing of it happens on
// the row's first.
bool note_delay_defers_the_cell(const XmCell& cell) { return delay_of(cell) != 0; }

// The last tremolo offset stays when the tremolo ends, and a running one is
// heard through the row's first tick as it was.
void tremolo_lingers(XmChannel& ch, const XmCell& cell) {
  if (ch.lastEffect == FX_TREMOLO && cell.effect != FX_TREMOLO) ch.volume += ch.volumeDelta;
  if (!(ch.lastEffect == FX_TREMOLO && cell.effect == FX_TREMOLO)) ch.volumeDelta = 0;
  if (ch.tremorSilent) ch.volumeDelta = -ch.volume;
}

XmRowMemory start_row(XmPlayer& p, XmChannel& ch, const XmCell& cell, XmResolved& r) {
  XmRowMemory memory{ch.period, ch.volume, ch.panning, false, false};
  tremolo_lingers(ch, cell);
  ch.lastEffect = cell.effect;
  ch.updateFlags = XM_UPDATE_FREQUENCY | XM_UPDATE_VOLUME;
  ch.periodDelta = 0;
  if (note_delay_defers_the_cell(cell)) {
    r = xm_resolve(p.song, ch);
  } else {
    memory.note = take_cell(p, ch, cell, false, r);
  }
  envelopes(ch, r.instrument);
  return memory;
}

// --- Effects ------------------------------------------------------------------------

// 9xx: only with a note it starts; ignored beside a tone portamento (the
// volume column's: effects 3 and 5 take its place); past the sample's end
// the note starts silent.
void sample_offset_with_the_note(XmEffectCall& e) {
  XmChannel& ch = e.ch;
  if (volume_column_porta_takes_no_note(e.cell)) return;
  if (e.cell.param) ch.sampleOffset = e.cell.param;
  if (!(ch.updateFlags & XM_UPDATE_TRIGGER)) return;
  const uint32_t offset = static_cast<uint32_t>(ch.sampleOffset) * 256;
  if (offset < e.sample->length) {
    ch.voice->startOffset = offset;
  } else {
    ch.updateFlags |= XM_UPDATE_STOP;
  }
}

// Rxy counts ticks towards the next retrigger: x and y each keep their
// memory, an instrument number starts the count again, and the row's first
// tick counts unless the volume column sets a volume above 0.
void retrigger_counts_ticks(XmChannel& ch) {
  ch.retrigCount = static_cast<uint8_t>(ch.retrigCount + 1);
  if (ch.retrigCount < ch.retrigInterval) return;
  ch.retrigCount = 0;
  set_volume(ch, xm_retrigger_volume(ch.volume, ch.retrigVolume));
  ch.updateFlags |= XM_UPDATE_TRIGGER;
}

void retrigger_row(XmEffectCall& e) {
  XmChannel& ch = e.ch;
  const uint8_t x = e.cell.param >> 4, y = e.cell.param & 15;
  if (x) ch.retrigVolume = x;
  if (y) ch.retrigInterval = y;
  if (e.cell.instrument && e.cell.note != 255) ch.retrigCount = 0;
  if (!(e.cell.volume > 0x10 && e.cell.volume <= 0x50)) retrigger_counts_ticks(ch);
}

// T: the on and off phases (x + 1 and y + 1 ticks) count down from a
// switch; the row's first tick neither counts nor changes what is heard,
// and the silence of an off phase stays until the volume is set.
void tremor_counts_down(XmChannel& ch) {
  if (ch.tremorLeft > 0) --ch.tremorLeft;
  if (ch.tremorLeft == 0) {
    ch.tremorPhaseOn = !ch.tremorPhaseOn;
    ch.tremorLeft = ch.tremorPhaseOn ? ch.tremorOn : ch.tremorOff;
  }
  const uint8_t silent = !ch.tremorPhaseOn;
  if (silent != ch.tremorSilent) ch.volumeSetAtOnce = 1;
  ch.tremorSilent = silent;
  ch.volumeDelta = silent ? -ch.volume : 0;
  ch.updateFlags |= XM_UPDATE_VOLUME;
}

// Tremolo's ramp follows the vibrato's half of its cycle, and its fourth
// waveform is a square.
void tremolo_as_the_tracker(XmChannel& ch) {
  const int32_t p = ch.tremoloPosition;
  const int waveform = (ch.waveControl >> 4) & 3;
  int32_t v = 255;
  if (waveform == 0) v = xmVibratoSine[p + 32];
  if (waveform == 1) v = ch.vibratoPosition >= 0 ? ((p * 8) & 255) : 255 - ((p * 8) & 255);
  xm_tremolo_by(ch, v);
}

void effect_row(XmEffectCall& e, XmRowMemory& row) {
  XmChannel& ch = e.ch;
  const uint8_t y = e.cell.param & 15;
  switch (e.cell.effect) {
    case FX_TONE_PORTA:
      if (e.cell.param) ch.portaSpeed = e.cell.param;
      aim_tone_porta(ch, row.note);
      clear_flags(ch, XM_UPDATE_TRIGGER | XM_UPDATE_FREQUENCY);
      return;
    case FX_TONE_PORTA_VOLSLIDE:
      aim_tone_porta(ch, row.note);
      if (e.cell.param) ch.volumeSlide = e.cell.param;
      clear_flags(ch, XM_UPDATE_TRIGGER | XM_UPDATE_FREQUENCY);
      return;
    case FX_SAMPLE_OFFSET: sample_offset_with_the_note(e); return;
    case FX_VOLUME: set_volume(ch, e.cell.param); return;
    case FX_ENVELOPE_POSITION: envelope_position_moves_panning(e); return;
    case FX_RETRIGGER: retrigger_row(e); return;
    case FX_TREMOR:
      if (e.cell.param) {
        ch.tremorOn = static_cast<uint8_t>((e.cell.param >> 4) + 1);
        ch.tremorOff = static_cast<uint8_t>(y + 1);
      }
      return;
    case FX_EXTENDED:
      switch (e.cell.param >> 4) {
        case FX_E_GLISSANDO: ch.glissando = y; return;
        case FX_E_RETRIGGER:
          // E90 restarts the note on the row's first tick.
          if (y == 0) ch.updateFlags |= XM_UPDATE_TRIGGER | XM_UPDATE_VOLUME | XM_UPDATE_FREQUENCY;
          return;
        // EA and EB remember their amounts apart.
        case FX_E_FINE_VOLSLIDE_UP:
          if (y) ch.fineVolumeSlide = y;
          slide_volume(ch, min_i(ch.volume + ch.fineVolumeSlide, 64));
          return;
        case FX_E_FINE_VOLSLIDE_DOWN:
          if (y) ch.fineVolumeDown = y;
          slide_volume(ch, max_i(ch.volume - ch.fineVolumeDown, 0));
          return;
        case FX_E_NOTE_DELAY: return;  // the cell waits for its tick
        default: break;
      }
      break;
    default: break;
  }
  xm_effect_row(e, row);
}

// The delayed cell on its tick.
void delayed_cell(XmEffectCall& e, XmResolved& r) {
  if (e.tick == delay_of(e.cell)) take_cell(e.player, e.ch, e.cell, true, r);
}

// Kxx releases the key on tick xx.
void key_off_at_its_tick(XmEffectCall& e) {
  if (e.tick == e.cell.param) key_off_silences_without_envelope(e.ch, e.instrument);
}

void effect_tick(XmEffectCall& e, XmResolved& r) {
  XmChannel& ch = e.ch;
  switch (e.cell.effect) {
    case FX_TONE_PORTA:
      ch.periodDelta = 0;
      tone_porta_keeps_its_direction(ch);
      return;
    case FX_TONE_PORTA_VOLSLIDE:
      ch.periodDelta = 0;
      tone_porta_keeps_its_direction(ch);
      volume_slide(ch);
      return;
    case FX_VIBRATO_VOLSLIDE:
      xm_vibrato(ch);
      xm_vibrato_advance(ch);
      volume_slide(ch);
      return;
    case FX_VOLSLIDE: volume_slide(ch); return;
    case FX_TREMOLO: tremolo_as_the_tracker(ch); return;
    case FX_RETRIGGER: retrigger_counts_ticks(ch); return;
    case FX_TREMOR: tremor_counts_down(ch); return;
    case FX_KEY_OFF: key_off_at_its_tick(e); return;
    case FX_EXTENDED:
      switch (e.cell.param >> 4) {
        case FX_E_NOTE_DELAY: delayed_cell(e, r); return;
        case FX_E_NOTE_CUT:
          if (e.tick == (e.cell.param & 15)) set_volume(ch, 0);
          return;
        default: break;
      }
      break;
    default: break;
  }
  xm_effect_tick(e);
}

// A pattern delay repeats the row's ticks: the effects count each
// repetition from 0, though only the row's very first tick is its first.
int32_t ticks_count_within_each_repetition(const XmPlayer& p) { return p.speed > 0 ? p.tick % p.speed : p.tick; }

void tick(XmPlayer& p, XmChannel& ch, const XmCell& cell) {
  XmResolved r = xm_resolve(p.song, ch);
  ch.volumeDelta = ch.tremorSilent ? -ch.volume : 0;
  ch.periodDelta = 0;
  // global_volume_every_tick: every channel hears the global volume anew.
  ch.updateFlags = XM_UPDATE_VOLUME;
  const int32_t effectTick = ticks_count_within_each_repetition(p);
  // On a delayed cell's tick its volume column plays from the cell itself
  // (take_cell); an instrument beside it keeps even the slides off.
  const bool delayedTick = delay_of(cell) != 0 && effectTick == delay_of(cell);
  if (cell.volume >= 0x60 && !(delayedTick && (cell.instrument || cell.volume >= 0xF0))) {
    volume_column(ch, cell.volume, false, false);
  }
  XmEffectCall e{p, ch, cell, r.instrument, r.sample, effectTick};
  effect_tick(e, r);
  // envelopes_after_the_effects: a delayed note's envelopes start on its tick.
  envelopes(ch, r.instrument);
  xm_auto_vibrato(ch, r.instrument);
  xm_update_voice(p, ch, r.sample);
}

// --- Voices -------------------------------------------------------------------------

// Levels by the square root of the panning: full on the near side, and
// never quite 0 on the far one unless panned hard left.
void square_root_pan_law(MixVoice& v) {
  static const struct Law {
    int32_t gain[257];
    Law() {
      for (int n = 0; n <= 256; ++n) gain[n] = static_cast<int32_t>(std::lround(65536.0 * std::sqrt(n / 256.0)));
    }
  } law;
  v.leftLevel = static_cast<int32_t>(int64_t{v.volume} * law.gain[256 - v.panning] >> 16);
  v.rightLevel = static_cast<int32_t>(int64_t{v.volume} * law.gain[v.panning] >> 16);
}

// A volume change glides over the whole tick, unless the tick set the
// volume outright (or started the note): then it is heard at once.
int32_t volume_glides_over_the_tick(const XmPlayer& p, XmChannel& ch) {
  const bool atOnce = (ch.updateFlags & XM_UPDATE_TRIGGER) || ch.volumeSetAtOnce;
  ch.volumeSetAtOnce = 0;
  return atOnce ? 0 : xm_coming_tick_frames(p);
}

// --- Song position ------------------------------------------------------------------

// After a pattern loop the next pattern starts at the loop's row.
int32_t loop_row_starts_next_pattern(int32_t loopJumpRow) { return loopJumpRow >= 0 ? loopJumpRow : 0; }

// A row the pattern lacks plays empty, and the next pattern follows.
int32_t missing_row_plays_empty(int32_t row) { return row; }

}  // namespace

const XmRules xmTrackerRules{start_row, effect_row, tick, square_root_pan_law,
                             volume_glides_over_the_tick, loop_row_starts_next_pattern, missing_row_plays_empty};
