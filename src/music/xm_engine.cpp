#include "music/xm_engine.h"

#include "music/xm_effects.h"
#include "music/xm_envelopes.h"
#include "music/xm_oscillators.h"
#include "music/xm_periods.h"
#include "music/xm_rules.h"
#include "music/xm_voice.h"

namespace {

const XmCell emptyCell{};

int32_t pattern_rows(const XmSong* song, int32_t order) {
  if (order < 0 || order >= 256) return 0;
  const int pattern = song->orders[order];
  if (pattern >= song->patternCount) return 0;
  return song->patterns[pattern].rows;
}

// The row's first part for one channel: the cell's note and instrument, the
// volume column, key off and the envelopes. Returns what the effects need.
XmRowMemory start_row(XmPlayer& p, XmChannel& ch, const XmCell& cell, XmResolved& r) {
  const bool porta = cell.effect == FX_TONE_PORTA || cell.effect == FX_TONE_PORTA_VOLSLIDE;
  const bool hasNote = cell.note != 0 && cell.note != 255;
  if (cell.instrument && !porta) ch.instrument = static_cast<uint8_t>(cell.instrument - 1);
  if (hasNote && !porta) ch.note = static_cast<uint8_t>(cell.note - 1);
  r = xm_resolve(p.song, ch);

  const XmRowMemory memory{ch.period, ch.volume, ch.panning, false, hasNote};
  // The last tremolo offset stays when the tremolo ends.
  if (ch.lastEffect == FX_TREMOLO && cell.effect != FX_TREMOLO) ch.volume += ch.volumeDelta;
  ch.lastEffect = cell.effect;
  ch.volumeDelta = 0;
  ch.updateFlags = 0;

  if (hasNote) {
    ch.realNote = static_cast<uint8_t>(cell.note + r.sample->relativeNote - 1);
    ch.notePeriod =
        xm_note_period((p.song->flags & XM_FLAG_LINEAR) != 0, ch.realNote, xm_finetune(p, r.sample));
    if (!porta) ch.period = ch.notePeriod;
    ch.updateFlags = XM_UPDATE_TRIGGER;
  }
  ch.updateFlags |= XM_UPDATE_FREQUENCY | XM_UPDATE_VOLUME;
  ch.periodDelta = 0;
  if (cell.instrument) xm_reset_channel(ch, r.sample);
  if (cell.volume) xm_volume_column(ch, cell.volume, true);
  if (cell.note == 255 || cell.effect == FX_KEY_OFF) ch.keyOff = 1;
  xm_envelopes(ch, r.instrument, true);
  return memory;
}

void process_row(XmPlayer& p) {
  p.nextRow = -1;
  p.nextOrder = -1;
  bool jumped = false;
  for (int i = 0; i < p.song->channelCount; ++i) {
    XmChannel& ch = p.channels[i];
    const XmCell& cell = xm_current_cell(p, i);
    XmResolved r{};
    XmRowMemory memory = p.rules->startRow(p, ch, cell, r);
    memory.jumped = jumped;
    XmEffectCall e{p, ch, cell, r.instrument, r.sample, 0};
    p.rules->effectRow(e, memory);
    jumped = memory.jumped;
    xm_auto_vibrato(ch, r.instrument);
    xm_update_voice(p, ch, r.sample);
  }
}

void channel_tick(XmPlayer& p, XmChannel& ch, const XmCell& cell) {
  const XmResolved r = xm_resolve(p.song, ch);
  ch.volumeDelta = 0;
  ch.periodDelta = 0;
  ch.updateFlags = 0;
  xm_envelopes(ch, r.instrument, false);
  if (cell.volume >= 0x60) xm_volume_column(ch, cell.volume, false);
  XmEffectCall e{p, ch, cell, r.instrument, r.sample, p.tick};
  xm_effect_tick(e);
  xm_auto_vibrato(ch, r.instrument);
  xm_update_voice(p, ch, r.sample);
}

void process_tick(XmPlayer& p) {
  for (int i = 0; i < p.song->channelCount; ++i) p.rules->tick(p, p.channels[i], xm_current_cell(p, i));
}

// Where the row after this one is, unless an effect said.
void plan_next_row(XmPlayer& p) {
  if (p.nextOrder >= 0) p.loopJumpRow = -1;
  if (p.nextRow != -1) return;
  p.nextRow = p.row + 1;
  if (p.nextRow >= pattern_rows(p.song, p.order)) {
    p.nextOrder = p.order + 1;
    if (p.nextOrder >= p.song->songLength) p.nextOrder = p.song->restartPosition;
    p.nextRow = p.rules->patternStartRow(p.loopJumpRow);
    p.loopJumpRow = -1;
  }
}

int32_t no_glide(const XmPlayer&, XmChannel&) { return 0; }
int32_t pattern_from_the_top(int32_t) { return 0; }
// A break or loop into a row the pattern lacks starts it from the top.
int32_t missing_row_is_the_top(int32_t) { return 0; }

}  // namespace

const XmRules xmPlayerRules{start_row, xm_effect_row, channel_tick, xm_voice_levels,
                            no_glide, pattern_from_the_top, missing_row_is_the_top};

XmResolved xm_resolve(const XmSong* song, const XmChannel& ch) {
  if (ch.instrument >= song->instrumentCount) return {&emptyInstrument, &emptySample};
  const XmInstrument* ins = &song->instruments[ch.instrument];
  const uint8_t slot = ins->keymap[ch.note < 96 ? ch.note : 95];
  if (slot < 16 && ins->samples[slot]) return {ins, ins->samples[slot]};
  return {ins, &emptySample};
}

const XmCell& xm_current_cell(const XmPlayer& p, int channel) {
  const XmSong* song = p.song;
  if (p.order < 0 || p.order >= 256) return emptyCell;
  const int pattern = song->orders[p.order];
  if (pattern >= song->patternCount) return emptyCell;
  const XmPattern& pat = song->patterns[pattern];
  if (!pat.cells || p.row < 0 || p.row >= pat.rows) return emptyCell;
  return pat.cells[static_cast<size_t>(p.row) * song->channelCount + channel];
}

void xm_reset_channel(XmChannel& ch, const XmSample* sample) {
  ch.volume = sample->volume;
  ch.panning = sample->panning;
  xm_restart_envelopes(ch);
  ch.keyOff = 0;
  ch.fadeoutVolume = 65536;
  ch.autoVibratoSweep = 0;
  ch.autoVibratoPosition = 0;
  if ((ch.waveControl & 0x0F) < 4) ch.vibratoPosition = 0;
  if ((ch.waveControl >> 4) < 4) ch.tremoloPosition = 0;
  ch.tremorCounter = 0;
  ch.updateFlags |= XM_UPDATE_VOLUME | XM_UPDATE_PANNING;
}

int32_t xm_tick_frames(int32_t bpm, int32_t rate) {
  if (bpm < 1) bpm = 1;
  const float q = static_cast<float>(bpm * 2) / 5.0f;
  const double frames = 1000.0 / static_cast<double>(q) * static_cast<double>(rate) / 1000.0;
  const auto n = static_cast<int32_t>(frames);
  return n < 1 ? 1 : n;
}

void xm_set_bpm(XmPlayer* player, int32_t bpm) {
  player->bpm = bpm < 1 ? 1 : bpm;
  player->samplesPerTick = xm_tick_frames(bpm, XM_TIMELINE_RATE);
}

int32_t xm_next_tick_frames(XmPlayer* player) {
  const int32_t rate = player->mix.rate;
  if (rate == XM_TIMELINE_RATE) return player->samplesPerTick;
  const int64_t scaled = int64_t{player->samplesPerTick} * rate + player->tickRemainder;
  player->tickRemainder = static_cast<int32_t>(scaled % XM_TIMELINE_RATE);
  return static_cast<int32_t>(scaled / XM_TIMELINE_RATE);
}

int32_t xm_coming_tick_frames(const XmPlayer& player) {
  const int32_t rate = player.mix.rate;
  if (rate == XM_TIMELINE_RATE) return player.samplesPerTick;
  return static_cast<int32_t>((int64_t{player.samplesPerTick} * rate + player.tickRemainder) / XM_TIMELINE_RATE);
}

int64_t xm_timeline_to_rate(int64_t timelineFrames, int32_t rate) {
  if (timelineFrames < 0 || rate <= 0) return timelineFrames < 0 ? -1 : 0;
  // The tick remainders add up to the exact product, rounded down once.
  const int64_t whole = timelineFrames / XM_TIMELINE_RATE, part = timelineFrames % XM_TIMELINE_RATE;
  if (whole > (INT64_MAX - rate) / rate) return -1;
  return whole * rate + part * rate / XM_TIMELINE_RATE;
}

void xm_tick(XmPlayer* player) {
  XmPlayer& p = *player;
  if (p.tick != 0) {
    process_tick(p);
  } else {
    if (p.nextOrder >= 0) p.order = p.nextOrder;
    if (p.nextRow >= 0) p.row = p.nextRow;
    if (p.order >= p.song->songLength) p.order = 0;
    if (p.row >= pattern_rows(p.song, p.order)) p.row = p.rules->missingRow(p.row);
    process_row(p);
    plan_next_row(p);
  }
  p.tick += 1;
  if (p.tick >= p.speed + p.patternDelayTicks) {
    p.patternDelayTicks = 0;
    p.tick = 0;
  }
}
