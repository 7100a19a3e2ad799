#include "music/xm_engine.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "music/xm_mixer.h"
#include "music/xm_tables.h"

int32_t mixRate = 44100;

namespace {

// Effect numbers.
enum : uint8_t {
  FX_ARPEGGIO = 0, FX_PORTA_UP = 1, FX_PORTA_DOWN = 2, FX_TONE_PORTA = 3, FX_VIBRATO = 4,
  FX_TONE_PORTA_VOLSLIDE = 5, FX_VIBRATO_VOLSLIDE = 6, FX_TREMOLO = 7, FX_PANNING = 8,
  FX_SAMPLE_OFFSET = 9, FX_VOLSLIDE = 10, FX_JUMP = 11, FX_VOLUME = 12, FX_BREAK = 13,
  FX_EXTENDED = 14, FX_SPEED = 15, FX_GLOBAL_VOLUME = 16, FX_GLOBAL_VOLSLIDE = 17,
  FX_KEY_OFF = 20, FX_ENVELOPE_POSITION = 21, FX_PANSLIDE = 25, FX_RETRIGGER = 27,
  FX_TREMOR = 29, FX_EXTRA_FINE_PORTA = 33,
};

// Periods stay far inside this range so that no sum of period, delta and
// slide can overflow; real modules never come near it.
constexpr int32_t periodLimit = 1 << 24;

int32_t clamp_period(int64_t period) {
  if (period > periodLimit) return periodLimit;
  if (period < -periodLimit) return -periodLimit;
  return static_cast<int32_t>(period);
}

constexpr int32_t panningLimit = 1 << 24;

const XmCell emptyCell{};

// The cell of channel `channel` in the current row, or an empty cell where
// the pattern has no such row.
const XmCell& current_cell(const XmSong* song, int channel) {
  if (song->order < 0 || song->order >= 256) return emptyCell;
  const int pattern = song->orders[song->order];
  if (pattern >= song->patternCount) return emptyCell;
  const XmPattern& p = song->patterns[pattern];
  if (!p.cells || song->row < 0 || song->row >= p.rows) return emptyCell;
  return p.cells[static_cast<size_t>(song->row) * song->channelCount + channel];
}

int32_t pattern_rows(const XmSong* song, int32_t order) {
  if (order < 0 || order >= 256) return 0;
  const int pattern = song->orders[order];
  if (pattern >= song->patternCount) return 0;
  return song->patterns[pattern].rows;
}

struct Resolved {
  XmInstrument* instrument;
  XmSample* sample;
};

Resolved resolve(XmSong* song, const XmChannel& ch) {
  if (ch.instrument < song->instrumentCount) {
    XmInstrument* ins = &song->instruments[ch.instrument];
    XmSample* sample = &emptySample;
    const uint8_t slot = ins->keymap[ch.note < 96 ? ch.note : 95];
    if (slot < 16 && ins->samples[slot]) sample = ins->samples[slot];
    return {ins, sample};
  }
  emptySample.data = nullptr;
  return {&emptyInstrument, &emptySample};
}

int32_t min_i(int32_t a, int32_t b) { return a < b ? a : b; }
int32_t max_i(int32_t a, int32_t b) { return a > b ? a : b; }

void volume_slide(XmChannel& ch, uint8_t memory) {
  const int x = memory >> 4, y = memory & 15;
  if (x != 0) {
    ch.volume = min_i(ch.volume + x, 64);
  } else if (y != 0) {
    ch.volume = max_i(ch.volume - y, 0);
  }
  ch.updateFlags |= XM_UPDATE_VOLUME;
}

// Waveform value for vibrato and tremolo at position p (-32..31).
int32_t wave_value(int waveform, int32_t p) {
  switch (waveform) {
    case 0: return xmVibratoSine[p + 32];
    case 1: return p >= 0 ? p * 8 : 255 - ((p * 8) & 255);
    default: return 255;
  }
}

int8_t advance_position(int8_t position, uint8_t speed) {
  int32_t p = position + speed;
  // A speed above 63 needs more than one wrap to come back into -32..31.
  while (p > 31) p -= 64;
  return static_cast<int8_t>(p);
}

void xm_vibrato(XmChannel& ch) {
  const int32_t p = ch.vibratoPosition;
  const int32_t v = wave_value(ch.waveControl & 3, p);
  const int32_t d = ((v * ch.vibratoDepth) >> 5) & ~3;
  ch.periodDelta = p < 0 ? d : -d;
  ch.updateFlags |= XM_UPDATE_FREQUENCY;
}

void xm_tremolo(XmChannel& ch) {
  const int32_t p = ch.tremoloPosition;
  int waveform = (ch.waveControl >> 4) & 3;
  if (waveform == 3) waveform = 0;  // sine for tremolo, unlike vibrato
  const int32_t v = wave_value(waveform, p);
  const int32_t d = (v * ch.tremoloDepth) >> 6;
  if (p >= 0) {
    ch.volumeDelta = ch.volume + d > 64 ? 64 - ch.volume : d;
  } else {
    ch.volumeDelta = ch.volume - d < 0 ? -ch.volume : -d;
  }
  ch.tremoloPosition = advance_position(ch.tremoloPosition, ch.tremoloSpeed);
  ch.updateFlags |= XM_UPDATE_VOLUME;
}

void xm_tremor(XmChannel& ch) {
  if (ch.tremorCounter >= ch.tremorOn) ch.volumeDelta = -ch.volume;
  ch.tremorCounter = static_cast<uint8_t>(ch.tremorCounter + 1);
  if (ch.tremorCounter == static_cast<uint8_t>(ch.tremorOn + ch.tremorOff)) ch.tremorCounter = 0;
  ch.updateFlags |= XM_UPDATE_VOLUME;
}

void xm_tone_portamento(XmChannel& ch) {
  const int32_t speed = 4 * ch.portaSpeed;
  if (ch.period < ch.portaTarget) {
    ch.period = min_i(ch.period + speed, ch.portaTarget);
  } else if (ch.period > ch.portaTarget) {
    ch.period = max_i(ch.period - speed, ch.portaTarget);
  }
  ch.updateFlags |= XM_UPDATE_FREQUENCY;
}

void xm_auto_vibrato(XmChannel& ch, const XmInstrument* ins) {
  const int32_t p = ch.autoVibratoPosition;
  int32_t v;
  switch (ins->vibratoType) {
    case 0: v = xmAutoVibratoSine[p & 255]; break;
    case 1: v = p < 128 ? 64 : -64; break;
    case 2: v = (128 - ((p + 128) & 255)) >> 1; break;
    case 3: v = (128 - ((384 - p) & 255)) >> 1; break;
    default: v = 0; break;  // not a waveform of the format: no vibrato
  }
  int32_t d = ins->vibratoDepth * v;
  if (ins->vibratoSweep != 0) d = d * ch.autoVibratoSweep / ins->vibratoSweep;
  ch.periodDelta = clamp_period(int64_t{ch.periodDelta} + (d >> 6));
  ch.autoVibratoSweep = min_i(ch.autoVibratoSweep + 1, ins->vibratoSweep);
  int32_t next = p + ins->vibratoRate;
  if (next > 255) next -= 256;
  ch.autoVibratoPosition = next;
  ch.updateFlags |= XM_UPDATE_FREQUENCY;
}

// One step of the volume (flag 2) or panning (flag 4) envelope.
struct EnvelopeState {
  int32_t& tick;
  int32_t& point;
  int32_t& fixed;
  int32_t& value;
  int32_t& delta;
  uint8_t& stopped;
};

int32_t envelope_delta(const XmEnvelopePoint& a, const XmEnvelopePoint& b) {
  const int32_t dx = static_cast<int32_t>(b.x) - static_cast<int32_t>(a.x);
  if (dx == 0) return 0;
  return (static_cast<int32_t>(b.y) - static_cast<int32_t>(a.y)) * 65536 / dx;
}

void xm_envelope_step(XmChannel& ch, EnvelopeState env, const XmEnvelopePoint* points, int n,
                   uint8_t sustain, uint8_t loopStart, uint8_t loopEnd, uint8_t type, uint8_t flag) {
  if (env.point < n && env.tick == points[env.point].x) {
    if ((type & XM_ENV_LOOP) && env.point == loopEnd) {
      env.point = loopStart;
      env.tick = points[loopStart].x;
    }
    if (env.point == n - 1) {
      env.value = points[env.point].y;
      env.stopped = 1;
      ch.updateFlags |= flag;
      return;
    }
    if ((type & XM_ENV_SUSTAIN) && env.point == sustain && !ch.keyOff) {
      env.value = points[env.point].y;
      ch.updateFlags |= flag;
      return;
    }
    env.delta = envelope_delta(points[env.point], points[env.point + 1]);
    env.fixed = points[env.point].y * 65536;
    env.point += 1;
  } else if (env.point < n) {
    // Points whose ticks do not rise never meet the counter; keep the value
    // inside the envelope's range instead of ramping without end.
    const int64_t next = int64_t{env.fixed} + env.delta;
    env.fixed = static_cast<int32_t>(next < 0 ? 0 : (next > (64 << 16) ? (64 << 16) : next));
  }
  env.value = env.fixed >> 16;
  if (env.tick < INT32_MAX) env.tick += 1;
  ch.updateFlags |= flag;
}

void volume_envelope_step(XmChannel& ch, const XmInstrument* ins) {
  xm_envelope_step(ch,
                {ch.volumeEnvTick, ch.volumeEnvPoint, ch.volumeEnvFixed, ch.volumeEnvValue,
                 ch.volumeEnvDelta, ch.volumeEnvStopped},
                ins->volumeEnvelope, ins->volumePointCount, ins->volumeSustain, ins->volumeLoopStart,
                ins->volumeLoopEnd, ins->volumeType, XM_UPDATE_VOLUME);
}

void panning_envelope_step(XmChannel& ch, const XmInstrument* ins) {
  xm_envelope_step(ch,
                {ch.panningEnvTick, ch.panningEnvPoint, ch.panningEnvFixed, ch.panningEnvValue,
                 ch.panningEnvDelta, ch.panningEnvStopped},
                ins->panningEnvelope, ins->panningPointCount, ins->panningSustain,
                ins->panningLoopStart, ins->panningLoopEnd, ins->panningType, XM_UPDATE_PANNING);
}

void envelopes(XmChannel& ch, const XmInstrument* ins, bool rowTick) {
  if (ins->volumeType & XM_ENV_ON) {
    if (!ch.volumeEnvStopped) volume_envelope_step(ch, ins);
  } else if (rowTick && ch.keyOff) {
    ch.volumeEnvValue = 0;  // a key off cuts an instrument without envelope
  }
  if ((ins->panningType & XM_ENV_ON) && !ch.panningEnvStopped) panning_envelope_step(ch, ins);
  if (ch.keyOff) {
    ch.fadeoutVolume = max_i(ch.fadeoutVolume - ins->fadeout, 0);
    ch.updateFlags |= XM_UPDATE_VOLUME;
  }
}

void set_envelope_position(XmChannel& ch, const XmInstrument* ins, int32_t t) {
  const int n = ins->volumePointCount;
  const XmEnvelopePoint* points = ins->volumeEnvelope;
  int j = 0;
  while (j < n && t > points[j + 1].x) ++j;
  if (j >= n - 1) {
    ch.volumeEnvValue = points[n - 1].y;
    ch.volumeEnvStopped = 1;
    return;
  }
  ch.volumeEnvStopped = 0;
  ch.volumeEnvTick = t;
  ch.volumeEnvDelta = envelope_delta(points[j], points[j + 1]);
  const int64_t fixed = int64_t{t - points[j].x} * ch.volumeEnvDelta + int64_t{points[j].y} * 65536;
  ch.volumeEnvFixed = static_cast<int32_t>(fixed < 0 ? 0 : (fixed > (64 << 16) ? (64 << 16) : fixed));
  ch.volumeEnvPoint = j + 1;
  ch.volumeEnvValue = ch.volumeEnvFixed >> 16;
}

void xm_reset_channel(XmChannel& ch, const XmSample* sample) {
  ch.volume = sample->volume;
  ch.panning = sample->panning;
  ch.volumeEnvValue = 64;
  ch.panningEnvValue = 32;
  ch.volumeEnvTick = ch.volumeEnvPoint = ch.volumeEnvDelta = 0;
  ch.panningEnvTick = ch.panningEnvPoint = ch.panningEnvDelta = 0;
  ch.volumeEnvStopped = ch.panningEnvStopped = 0;
  ch.keyOff = 0;
  ch.fadeoutVolume = 65536;
  ch.autoVibratoSweep = 0;
  ch.autoVibratoPosition = 0;
  if ((ch.waveControl & 0x0F) < 4) ch.vibratoPosition = 0;
  if ((ch.waveControl >> 4) < 4) ch.tremoloPosition = 0;
  ch.tremorCounter = 0;
  ch.updateFlags |= XM_UPDATE_VOLUME | XM_UPDATE_PANNING;
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
        ch.vibratoPosition = advance_position(ch.vibratoPosition, ch.vibratoSpeed);
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
        ch.updateFlags &= static_cast<uint8_t>(~XM_UPDATE_TRIGGER);
      } else {
        xm_tone_portamento(ch);
      }
      break;
    default: break;
  }
}

int32_t note_period(const XmSong* song, int32_t realNote, int32_t finetune) {
  if (song->flags & XM_FLAG_LINEAR) return 7680 - realNote * 64 - finetune / 2;
  return xm_amiga_period(realNote, finetune);
}

void xm_update_voice(XmChannel& ch, XmSample* sample, const XmSong* song) {
  MixVoice* v = ch.voice;
  const int64_t sum = int64_t{ch.period} + ch.periodDelta;
  if (sum == 0) ch.updateFlags &= static_cast<uint8_t>(~XM_UPDATE_FREQUENCY);

  if (ch.updateFlags & XM_UPDATE_TRIGGER) {
    if (v->sample) {
      // The old sound stays in this voice and ramps out; the channel goes
      // on with a copy in the partner voice, where the new note starts.
      MixVoice* const voices = xm_voices(song);
      const int32_t self = static_cast<int32_t>(v - voices);
      const int32_t partnerIndex = self < 32 ? self + 32 : self - 32;
      MixVoice* partner = &voices[partnerIndex];
      *partner = *v;
      partner->index = partnerIndex;
      v->volume = 0;
      v->leftLevel = 0;
      v->rightLevel = 0;
      v = partner;
      ch.voice = v;
    }
    v->sample = sample;
    if (v->startOffset >= uint64_t{sample->loopStart} + sample->loopLength) v->startOffset = 0;
    v->position = static_cast<int32_t>(v->startOffset);
    v->fraction = 0;
    v->direction = 1;
    v->startOffset = 0;
    v->rampLeft = v->rampRight = 0;
    v->rampFramesLeft = 0;
  }

  if (ch.updateFlags & XM_UPDATE_VOLUME) {
    float volume = static_cast<float>(ch.volume + ch.volumeDelta);
    volume = volume * static_cast<float>(ch.volumeEnvValue);
    volume = volume * static_cast<float>(ch.fadeoutVolume);
    volume = volume * static_cast<float>(song->globalVolume);
    volume = volume * 255.0f;
    volume = volume / 34359738368.0f;  // 2^35
    v->volume = static_cast<int32_t>(volume);
    v->leftLevel = v->volume * (255 - v->panning) / 255;
    v->rightLevel = v->volume * v->panning / 255;
  }

  if (ch.updateFlags & XM_UPDATE_PANNING) {
    const int64_t p = ch.panning;
    const int64_t distance = p - 128 < 0 ? 128 - p : p - 128;
    int64_t final = p + ((128 - distance) / 32) * (ch.panningEnvValue - 32);
    if (final < 0) final = 0;
    if (final > 255) final = 255;
    v->panning = static_cast<int32_t>(final);
    v->leftLevel = v->volume * (255 - v->panning) / 255;
    v->rightLevel = v->volume * v->panning / 255;
  }

  if (ch.updateFlags & XM_UPDATE_FREQUENCY) {
    int32_t f = xm_period_frequency(ch.period, ch.periodDelta, (song->flags & XM_FLAG_LINEAR) != 0);
    if (f < 100) f = 100;
    const int32_t rate = xm_song_rate(song);
    v->stepWhole = f / rate;
    v->stepFraction = static_cast<uint32_t>((static_cast<uint64_t>(f % rate) << 32) / static_cast<uint64_t>(rate));
  }

  if (ch.updateFlags & XM_UPDATE_REWIND) {
    v->position = 0;
    v->fraction = 0;
    v->startOffset = 0;
  }
}

void extended_row(XmSong* song, XmChannel& ch, XmSample* sample, const XmCell& cell,
                  int32_t savedPeriod, int32_t savedVolume, int32_t savedPanning) {
  const int x = cell.param >> 4, y = cell.param & 15;
  switch (x) {
    case 1:
      if (y) ch.finePortaUp = static_cast<uint8_t>(y);
      ch.period = clamp_period(int64_t{ch.period} - 4 * ch.finePortaUp);
      break;
    case 2:
      if (y) ch.finePortaDown = static_cast<uint8_t>(y);
      ch.period = clamp_period(int64_t{ch.period} + 4 * ch.finePortaDown);
      break;
    case 4: ch.waveControl = static_cast<uint8_t>((ch.waveControl & 0xF0) | y); break;
    case 5: sample->finetune = static_cast<int8_t>(y); break;
    case 6:
      if (y == 0) {
        ch.loopRow = song->row;
      } else {
        ch.loopCount = ch.loopCount == 0 ? y : ch.loopCount - 1;
        if (ch.loopCount != 0) song->nextRow = ch.loopRow;
      }
      break;
    case 7: ch.waveControl = static_cast<uint8_t>((ch.waveControl & 0x0F) | (y << 4)); break;
    case 8: ch.panning = y * 16; ch.updateFlags |= XM_UPDATE_PANNING; break;
    case 10:
      if (y) ch.fineVolumeSlide = static_cast<uint8_t>(y);
      ch.volume = min_i(ch.volume + ch.fineVolumeSlide, 64);
      ch.updateFlags |= XM_UPDATE_VOLUME;
      break;
    case 11:
      if (y) ch.fineVolumeSlide = static_cast<uint8_t>(y);
      ch.volume = max_i(ch.volume - ch.fineVolumeSlide, 0);
      ch.updateFlags |= XM_UPDATE_VOLUME;
      break;
    case 13:
      // ED0 delays nothing: the note plays now. (Waiting for a tick 0 that
      // has already passed would lose it.)
      if (y == 0) break;
      ch.updateFlags &= static_cast<uint8_t>(~(XM_UPDATE_FREQUENCY | XM_UPDATE_VOLUME |
                                               XM_UPDATE_PANNING | XM_UPDATE_TRIGGER));
      ch.period = savedPeriod;
      ch.volume = savedVolume;
      ch.panning = savedPanning;
      break;
    case 14: song->patternDelayTicks = y * song->speed; break;
    default: break;
  }
}

void extended_tick(XmSong* song, XmChannel& ch, XmSample* sample, const XmCell& cell) {
  const int x = cell.param >> 4, y = cell.param & 15;
  switch (x) {
    case 9:
      if (y != 0 && song->tick % y == 0) {
        ch.updateFlags |= XM_UPDATE_TRIGGER | XM_UPDATE_VOLUME | XM_UPDATE_FREQUENCY;
      }
      break;
    case 12:
      if (song->tick == y) {
        ch.volume = 0;
        ch.updateFlags |= XM_UPDATE_VOLUME;
      }
      break;
    case 13:
      if (song->tick == y) {
        xm_reset_channel(ch, sample);
        ch.period = ch.notePeriod;
        ch.updateFlags |= XM_UPDATE_FREQUENCY;
        if (cell.volume != 0) xm_volume_column(ch, cell.volume, true);
        ch.updateFlags |= XM_UPDATE_TRIGGER;
      } else {
        ch.updateFlags &= static_cast<uint8_t>(~(XM_UPDATE_FREQUENCY | XM_UPDATE_VOLUME |
                                                 XM_UPDATE_PANNING | XM_UPDATE_TRIGGER));
      }
      break;
    default: break;
  }
}

int32_t retrigger_volume(int32_t volume, int x) {
  switch (x) {
    case 1: return volume - 1;
    case 2: return volume - 2;
    case 3: return volume - 4;
    case 4: return volume - 8;
    case 5: return volume - 16;
    case 6: return volume * 2 / 3;
    case 7: return volume >> 1;
    case 9: return volume + 1;
    case 10: return volume + 2;
    case 11: return volume + 4;
    case 12: return volume + 8;
    case 13: return volume + 16;
    case 14: return volume * 3 / 2;
    case 15: return volume * 2;
    default: return volume;
  }
}

void xm_process_row(XmSong* song) {
  song->nextRow = -1;
  song->nextOrder = -1;
  bool jumped = false;
  XmChannel* const channels = xm_channels(song);
  for (int i = 0; i < song->channelCount; ++i) {
    XmChannel& ch = channels[i];
    const XmCell& cell = current_cell(song, i);
    const bool porta = cell.effect == FX_TONE_PORTA || cell.effect == FX_TONE_PORTA_VOLSLIDE;
    const bool hasNote = cell.note != 0 && cell.note != 255;
    if (cell.instrument && !porta) ch.instrument = static_cast<uint8_t>(cell.instrument - 1);
    if (hasNote && !porta) ch.note = static_cast<uint8_t>(cell.note - 1);
    const Resolved r = resolve(song, ch);

    const int32_t savedPeriod = ch.period, savedVolume = ch.volume, savedPanning = ch.panning;
    if (ch.lastEffect == FX_TREMOLO && cell.effect != FX_TREMOLO) ch.volume += ch.volumeDelta;
    ch.lastEffect = cell.effect;
    ch.volumeDelta = 0;
    ch.updateFlags = 0;

    if (hasNote) {
      ch.realNote = static_cast<uint8_t>(cell.note + r.sample->relativeNote - 1);
      ch.notePeriod = note_period(song, ch.realNote, r.sample->finetune);
      if (!porta) ch.period = ch.notePeriod;
      ch.updateFlags = XM_UPDATE_TRIGGER;
    }
    ch.updateFlags |= XM_UPDATE_FREQUENCY | XM_UPDATE_VOLUME;
    ch.periodDelta = 0;
    if (cell.instrument) xm_reset_channel(ch, r.sample);
    if (cell.volume) xm_volume_column(ch, cell.volume, true);
    if (cell.note == 255 || cell.effect == FX_KEY_OFF) ch.keyOff = 1;
    envelopes(ch, r.instrument, true);

    const uint8_t param = cell.param;
    const int x = param >> 4, y = param & 15;
    switch (cell.effect) {
      case FX_PORTA_UP: if (param) ch.portaUpSpeed = param; break;
      case FX_PORTA_DOWN: if (param) ch.portaDownSpeed = param; break;
      case FX_TONE_PORTA:
        if (param) ch.portaSpeed = param;
        ch.portaTarget = ch.notePeriod;
        ch.updateFlags &= static_cast<uint8_t>(~(XM_UPDATE_TRIGGER | XM_UPDATE_FREQUENCY));
        break;
      case FX_VIBRATO:
        if (x) ch.vibratoSpeed = static_cast<uint8_t>(x);
        if (y) ch.vibratoDepth = static_cast<uint8_t>(y);
        xm_vibrato(ch);
        break;
      case FX_TONE_PORTA_VOLSLIDE:
        ch.portaTarget = ch.notePeriod;
        if (param) ch.volumeSlide = param;
        ch.updateFlags &= static_cast<uint8_t>(~(XM_UPDATE_TRIGGER | XM_UPDATE_FREQUENCY));
        break;
      case FX_VIBRATO_VOLSLIDE:
        if (param) ch.volumeSlide = param;
        xm_vibrato(ch);
        break;
      case FX_TREMOLO:
        if (x) ch.tremoloSpeed = static_cast<uint8_t>(x);
        if (y) ch.tremoloDepth = static_cast<uint8_t>(y);
        break;
      case FX_PANNING: ch.panning = param; ch.updateFlags |= XM_UPDATE_PANNING; break;
      case FX_SAMPLE_OFFSET: {
        if (param) ch.sampleOffset = param;
        const uint32_t offset = static_cast<uint32_t>(ch.sampleOffset) * 256;
        if (ch.voice && offset < uint64_t{r.sample->loopStart} + r.sample->loopLength) {
          ch.voice->startOffset = offset;
        } else {
          ch.updateFlags &= static_cast<uint8_t>(~XM_UPDATE_TRIGGER);
          ch.updateFlags |= XM_UPDATE_REWIND;
        }
        break;
      }
      case FX_VOLSLIDE: if (param) ch.volumeSlide = param; break;
      case FX_JUMP:
        song->nextOrder = param >= song->songLength ? 0 : param;
        song->nextRow = 0;
        jumped = true;
        break;
      case FX_VOLUME: ch.volume = param; ch.updateFlags |= XM_UPDATE_VOLUME; break;
      case FX_BREAK: {
        const int32_t target = x * 10 + y;
        song->nextRow = target > 63 ? 0 : target;
        if (!jumped) song->nextOrder = song->order + 1;
        if (song->nextOrder >= song->songLength) song->nextOrder = 0;
        break;
      }
      case FX_EXTENDED:
        extended_row(song, ch, r.sample, cell, savedPeriod, savedVolume, savedPanning);
        break;
      case FX_SPEED:
        if (param < 32) {
          song->speed = param;
        } else {
          xm_set_bpm(song, param);
        }
        break;
      case FX_GLOBAL_VOLUME:
        song->globalVolume = param > 64 ? 64 : param;
        ch.updateFlags |= XM_UPDATE_VOLUME;
        break;
      case FX_GLOBAL_VOLSLIDE: if (param) song->globalVolumeSlide = param; break;
      case FX_ENVELOPE_POSITION:
        if (r.instrument->volumeType & XM_ENV_ON) set_envelope_position(ch, r.instrument, param);
        break;
      case FX_PANSLIDE:
        if (param) {
          ch.panningSlide = param;
          ch.updateFlags |= XM_UPDATE_PANNING;
        }
        break;
      case FX_RETRIGGER:
        if (param) {
          ch.retrigVolume = static_cast<uint8_t>(x);
          ch.retrigInterval = static_cast<uint8_t>(y);
        }
        break;
      case FX_TREMOR:
        if (param) {
          ch.tremorOn = static_cast<uint8_t>(x + 1);
          ch.tremorOff = static_cast<uint8_t>(y + 1);
        }
        xm_tremor(ch);
        break;
      case FX_EXTRA_FINE_PORTA:
        if (x == 1) {
          if (y) ch.extraFinePortaUp = static_cast<uint8_t>(y);
          ch.period = clamp_period(int64_t{ch.period} - ch.extraFinePortaUp);
        } else if (x == 2) {
          if (y) ch.extraFinePortaDown = static_cast<uint8_t>(y);
          ch.period = clamp_period(int64_t{ch.period} + ch.extraFinePortaDown);
        }
        break;
      default: break;
    }

    xm_auto_vibrato(ch, r.instrument);
    xm_update_voice(ch, r.sample, song);
  }
}

void xm_process_tick(XmSong* song) {
  XmChannel* const channels = xm_channels(song);
  for (int i = 0; i < song->channelCount; ++i) {
    XmChannel& ch = channels[i];
    const XmCell& cell = current_cell(song, i);
    const Resolved r = resolve(song, ch);
    ch.volumeDelta = 0;
    ch.periodDelta = 0;
    ch.updateFlags = 0;
    envelopes(ch, r.instrument, false);
    if (cell.volume >= 0x60) xm_volume_column(ch, cell.volume, false);

    const uint8_t param = cell.param;
    const int x = param >> 4, y = param & 15;
    switch (cell.effect) {
      case FX_ARPEGGIO:
        if (param) {
          const int step = song->tick % 3;
          const int n = step == 0 ? 0 : (step == 1 ? x : y);
          if (song->flags & XM_FLAG_LINEAR) {
            ch.periodDelta = n * 64;
          } else {
            ch.periodDelta = xm_amiga_period(ch.realNote + n, r.sample->finetune) -
                             xm_amiga_period(ch.realNote, r.sample->finetune);
          }
          ch.updateFlags |= XM_UPDATE_FREQUENCY;
        }
        break;
      case FX_PORTA_UP:
        ch.period = ch.period - 4 * ch.portaUpSpeed;
        if (ch.period < 56) ch.period = 56;
        ch.periodDelta = 0;
        ch.updateFlags |= XM_UPDATE_FREQUENCY;
        break;
      case FX_PORTA_DOWN:
        ch.period = clamp_period(int64_t{ch.period} + 4 * ch.portaDownSpeed);
        ch.periodDelta = 0;
        ch.updateFlags |= XM_UPDATE_FREQUENCY;
        break;
      case FX_TONE_PORTA:
        ch.periodDelta = 0;
        xm_tone_portamento(ch);
        break;
      case FX_VIBRATO:
        xm_vibrato(ch);
        ch.vibratoPosition = advance_position(ch.vibratoPosition, ch.vibratoSpeed);
        break;
      case FX_TONE_PORTA_VOLSLIDE:
        ch.periodDelta = 0;
        xm_tone_portamento(ch);
        volume_slide(ch, ch.volumeSlide);
        break;
      case FX_VIBRATO_VOLSLIDE:
        xm_vibrato(ch);
        ch.vibratoPosition = advance_position(ch.vibratoPosition, ch.vibratoSpeed);
        volume_slide(ch, ch.volumeSlide);
        break;
      case FX_TREMOLO: xm_tremolo(ch); break;
      case FX_VOLSLIDE: volume_slide(ch, ch.volumeSlide); break;
      case FX_EXTENDED: extended_tick(song, ch, r.sample, cell); break;
      case FX_GLOBAL_VOLSLIDE: {
        const int gx = song->globalVolumeSlide >> 4, gy = song->globalVolumeSlide & 15;
        if (gx) {
          song->globalVolume = min_i(song->globalVolume + gx, 64);
        } else if (gy) {
          song->globalVolume = max_i(song->globalVolume - gy, 0);
        }
        break;
      }
      case FX_PANSLIDE: {
        const int px = ch.panningSlide >> 4, py = ch.panningSlide & 15;
        if (px) {
          ch.panning = min_i(ch.panning + px, 255);
        } else if (py) {
          ch.panning = max_i(ch.panning - py, 0);
        }
        ch.updateFlags |= XM_UPDATE_PANNING;
        break;
      }
      case FX_RETRIGGER:
        if (ch.retrigInterval != 0 && song->tick % ch.retrigInterval == 0) {
          if (ch.retrigVolume == 0) {
            ch.updateFlags |= XM_UPDATE_TRIGGER;
          } else {
            const int32_t v = retrigger_volume(ch.volume, ch.retrigVolume);
            ch.volume = v < 0 ? 0 : (v > 64 ? 64 : v);
            ch.updateFlags |= XM_UPDATE_VOLUME | XM_UPDATE_TRIGGER;
          }
        }
        break;
      case FX_TREMOR: xm_tremor(ch); break;
      default: break;
    }

    xm_auto_vibrato(ch, r.instrument);
    xm_update_voice(ch, r.sample, song);
  }
}

}  // namespace

int32_t xm_amiga_period(int32_t note, int32_t finetune) {
  auto base = [note](int32_t k) {
    const int32_t m = k - note;
    if (m < xmAmigaBaseLow) return 0;
    return xmAmigaBase[m - xmAmigaBaseLow];
  };
  const int32_t p131 = base(131), p132 = base(132), p133 = base(133);
  if (finetune < 0 && note != 0) return p132 + (-finetune) * (p133 - p132) / 128;
  return p132 - finetune * (p132 - p131) / 128;
}

int32_t xm_period_frequency(int32_t period, int32_t periodDelta, bool linear) {
  if (linear) {
    // The delta raises the pitch here: 4608 - period + delta.
    const int64_t k = int64_t{4608} - period + periodDelta;
    // Beyond these the frequency is below 1 Hz or above the int range.
    if (k < -20 * 768) return 0;
    if (k >= 18 * 768) return INT32_MAX;
    const int32_t whole = static_cast<int32_t>(k);
    const int32_t q = whole >= 0 ? whole / 768 : -((-whole + 767) / 768);
    const int32_t rem = whole - q * 768;
    double scale = xmPow2Table[rem];
    if (q >= 0) {
      scale *= static_cast<double>(uint32_t{1} << q);
    } else {
      scale /= static_cast<double>(uint32_t{1} << -q);
    }
    return static_cast<int32_t>(8363.0 * scale);
  }
  // The delta lowers the pitch here: a larger Amiga period is a lower note.
  const int64_t divisor = int64_t{period} + periodDelta;
  if (divisor == 0) return 0;
  return static_cast<int32_t>(14317056 / divisor);
}

void xm_set_bpm(XmSong* song, int32_t bpm) {
  if (bpm < 1) bpm = 1;
  song->bpm = bpm;
  const float q = static_cast<float>(bpm * 2) / 5.0f;
  const double frames = 1000.0 / static_cast<double>(q) * static_cast<double>(xm_song_rate(song)) / 1000.0;
  song->samplesPerTick = static_cast<int32_t>(frames);
  if (song->samplesPerTick < 1) song->samplesPerTick = 1;
}

void xm_tick(XmSong* song) {
  if (song->tick != 0) {
    xm_process_tick(song);
  } else {
    if (song->nextOrder >= 0) song->order = song->nextOrder;
    if (song->nextRow >= 0) song->row = song->nextRow;
    if (song->order >= song->songLength) song->order = 0;
    // A break or loop into a row the pattern lacks starts it from the top.
    if (song->row >= pattern_rows(song, song->order)) song->row = 0;
    xm_process_row(song);
    if (song->nextRow == -1) {
      song->nextRow = song->row + 1;
      if (song->nextRow >= pattern_rows(song, song->order)) {
        song->nextOrder = song->order + 1;
        if (song->nextOrder >= song->songLength) song->nextOrder = song->restartPosition;
        song->nextRow = 0;
      }
    }
  }
  song->tick += 1;
  if (song->tick >= song->speed + song->patternDelayTicks) {
    song->patternDelayTicks = 0;
    song->tick = 0;
  }
}

void xm_start_song(XmSong* song) {
  if (song->rate <= 0) mix_set_rate();
  MixVoice* const voices = xm_voices(song);
  XmChannel* const channels = xm_channels(song);
  std::memset(voices, 0, sizeof(MixVoice) * XM_VOICES);
  for (int i = 0; i < XM_VOICES; ++i) {
    voices[i].index = i;
    voices[i].stepWhole = 1;
  }
  song->globalVolume = song->defaultGlobalVolume;
  song->speed = song->defaultSpeed;
  song->order = song->row = song->tick = 0;
  song->nextOrder = song->nextRow = -1;
  song->tickSamplesLeft = 0;
  song->patternDelayTicks = 0;
  song->timeMs = 0;
  xm_set_bpm(song, song->defaultBpm);
  const int count = song->channelCount < 0 ? 0 : (song->channelCount > XM_CHANNELS ? XM_CHANNELS : song->channelCount);
  for (int i = 0; i < count; ++i) {
    channels[i] = XmChannel{};
    channels[i].voice = &voices[i];
  }
}
