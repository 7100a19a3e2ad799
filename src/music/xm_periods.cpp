#include "music/xm_periods.h"

#include "music/xm_tables.h"

int32_t xm_clamp_period(int64_t period) {
  if (period > XM_PERIOD_LIMIT) return XM_PERIOD_LIMIT;
  if (period < -XM_PERIOD_LIMIT) return -XM_PERIOD_LIMIT;
  return static_cast<int32_t>(period);
}

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

int32_t xm_note_period(bool linear, int32_t realNote, int32_t finetune) {
  if (linear) return 7680 - realNote * 64 - finetune / 2;
  return xm_amiga_period(realNote, finetune);
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

void xm_tone_portamento(XmChannel& ch) {
  const int32_t speed = 4 * ch.portaSpeed;
  if (ch.period < ch.portaTarget) {
    ch.period = ch.period + speed < ch.portaTarget ? ch.period + speed : ch.portaTarget;
  } else if (ch.period > ch.portaTarget) {
    ch.period = ch.period - speed > ch.portaTarget ? ch.period - speed : ch.portaTarget;
  }
  ch.updateFlags |= XM_UPDATE_FREQUENCY;
}
