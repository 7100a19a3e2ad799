#include "music/xm_oscillators.h"

#include "music/xm_periods.h"
#include "music/xm_tables.h"

namespace {

// Waveform value for vibrato and tremolo at position p (-32..31): 0 sine,
// 1 ramp, anything else square.
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

}  // namespace

void xm_vibrato(XmChannel& ch) {
  const int32_t p = ch.vibratoPosition;
  const int32_t v = wave_value(ch.waveControl & 3, p);
  const int32_t d = ((v * ch.vibratoDepth) >> 5) & ~3;
  ch.periodDelta = p < 0 ? d : -d;
  ch.updateFlags |= XM_UPDATE_FREQUENCY;
}

void xm_vibrato_advance(XmChannel& ch) { ch.vibratoPosition = advance_position(ch.vibratoPosition, ch.vibratoSpeed); }

void xm_tremolo(XmChannel& ch) {
  const int32_t p = ch.tremoloPosition;
  int waveform = (ch.waveControl >> 4) & 3;
  if (waveform == 3) waveform = 0;  // sine for tremolo, unlike vibrato
  xm_tremolo_by(ch, wave_value(waveform, p));
}

void xm_tremolo_by(XmChannel& ch, int32_t v) {
  const int32_t p = ch.tremoloPosition;
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
  ch.periodDelta = xm_clamp_period(int64_t{ch.periodDelta} + (d >> 6));
  ch.autoVibratoSweep = ch.autoVibratoSweep + 1 < ins->vibratoSweep ? ch.autoVibratoSweep + 1 : ins->vibratoSweep;
  int32_t next = p + ins->vibratoRate;
  if (next > 255) next -= 256;
  ch.autoVibratoPosition = next;
  ch.updateFlags |= XM_UPDATE_FREQUENCY;
}
