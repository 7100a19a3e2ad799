#include "music/xm_envelopes.h"

namespace {

// The running state of one envelope of a channel.
struct EnvelopeState {
  int32_t& tick;
  int32_t& point;
  int32_t& fixed;
  int32_t& value;
  int32_t& delta;
  uint8_t& stopped;
};

// An instrument's envelope: its points and settings.
struct EnvelopeShape {
  const XmEnvelopePoint* points;
  int count;
  uint8_t sustain, loopStart, loopEnd, type;
};

EnvelopeState volume_state(XmChannel& ch) {
  return {ch.volumeEnvTick, ch.volumeEnvPoint, ch.volumeEnvFixed, ch.volumeEnvValue, ch.volumeEnvDelta,
          ch.volumeEnvStopped};
}

EnvelopeState panning_state(XmChannel& ch) {
  return {ch.panningEnvTick, ch.panningEnvPoint, ch.panningEnvFixed, ch.panningEnvValue, ch.panningEnvDelta,
          ch.panningEnvStopped};
}

EnvelopeShape volume_shape(const XmInstrument* ins) {
  return {ins->volumeEnvelope, ins->volumePointCount, ins->volumeSustain, ins->volumeLoopStart, ins->volumeLoopEnd,
          ins->volumeType};
}

EnvelopeShape panning_shape(const XmInstrument* ins) {
  return {ins->panningEnvelope, ins->panningPointCount, ins->panningSustain, ins->panningLoopStart,
          ins->panningLoopEnd, ins->panningType};
}

int32_t envelope_delta(const XmEnvelopePoint& a, const XmEnvelopePoint& b) {
  const int32_t dx = static_cast<int32_t>(b.x) - static_cast<int32_t>(a.x);
  if (dx == 0) return 0;
  return (static_cast<int32_t>(b.y) - static_cast<int32_t>(a.y)) * 65536 / dx;
}

int32_t envelope_range(int64_t fixed) {
  return static_cast<int32_t>(fixed < 0 ? 0 : (fixed > (64 << 16) ? (64 << 16) : fixed));
}

}  // namespace

void xm_envelope_step(XmChannel& ch, const XmInstrument* ins, uint8_t which, bool released, bool looping) {
  const bool panning = which == XM_UPDATE_PANNING;
  const EnvelopeState env = panning ? panning_state(ch) : volume_state(ch);
  const EnvelopeShape shape = panning ? panning_shape(ins) : volume_shape(ins);
  const XmEnvelopePoint* points = shape.points;
  const int n = shape.count;
  if (env.point < n && env.tick == points[env.point].x) {
    if ((shape.type & XM_ENV_LOOP) && env.point == shape.loopEnd && looping) {
      env.point = shape.loopStart;
      env.tick = points[shape.loopStart].x;
    }
    if (env.point == n - 1) {
      env.value = points[env.point].y;
      env.stopped = 1;
      ch.updateFlags |= which;
      return;
    }
    if ((shape.type & XM_ENV_SUSTAIN) && env.point == shape.sustain && !released) {
      env.value = points[env.point].y;
      ch.updateFlags |= which;
      return;
    }
    env.delta = envelope_delta(points[env.point], points[env.point + 1]);
    env.fixed = points[env.point].y * 65536;
    env.point += 1;
  } else if (env.point < n) {
    // Points whose ticks do not rise never meet the counter; keep the value
    // inside the envelope's range instead of ramping without end.
    env.fixed = envelope_range(int64_t{env.fixed} + env.delta);
  }
  env.value = env.fixed >> 16;
  if (env.tick < INT32_MAX) env.tick += 1;
  ch.updateFlags |= which;
}

void xm_move_envelope(XmChannel& ch, const XmInstrument* ins, uint8_t which, int32_t t, bool onPoint) {
  const bool panning = which == XM_UPDATE_PANNING;
  const EnvelopeState env = panning ? panning_state(ch) : volume_state(ch);
  const EnvelopeShape shape = panning ? panning_shape(ins) : volume_shape(ins);
  const XmEnvelopePoint* points = shape.points;
  const int n = shape.count;
  if (n <= 0) return;
  int j = 0;
  while (j < n && t > points[j + 1].x) ++j;
  if (j >= n - 1) {
    env.value = points[n - 1].y;
    env.stopped = 1;
    return;
  }
  env.stopped = 0;
  env.tick = t;
  if (onPoint && t == points[j].x) {
    env.point = j;
    env.delta = 0;
    env.fixed = points[j].y * 65536;
    env.value = points[j].y;
    return;
  }
  env.delta = envelope_delta(points[j], points[j + 1]);
  env.fixed = envelope_range(int64_t{t - points[j].x} * env.delta + int64_t{points[j].y} * 65536);
  env.point = j + 1;
  env.value = env.fixed >> 16;
}

void xm_fadeout(XmChannel& ch, const XmInstrument* ins) {
  if (!ch.keyOff) return;
  ch.fadeoutVolume = ch.fadeoutVolume - ins->fadeout > 0 ? ch.fadeoutVolume - ins->fadeout : 0;
  ch.updateFlags |= XM_UPDATE_VOLUME;
}

void xm_envelopes(XmChannel& ch, const XmInstrument* ins, bool rowTick) {
  // A key off frees the sustain points; the loops go on.
  const bool released = ch.keyOff != 0;
  if (ins->volumeType & XM_ENV_ON) {
    if (!ch.volumeEnvStopped) {
      xm_envelope_step(ch, ins, XM_UPDATE_VOLUME, released, true);
    }
  } else if (rowTick && ch.keyOff) {
    ch.volumeEnvValue = 0;  // a key off cuts an instrument without envelope
  }
  if ((ins->panningType & XM_ENV_ON) && !ch.panningEnvStopped) {
    xm_envelope_step(ch, ins, XM_UPDATE_PANNING, released, true);
  }
  xm_fadeout(ch, ins);
}
