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

int32_t envelope_delta(const XmEnvelopePoint& a, const XmEnvelopePoint& b) {
  const int32_t dx = static_cast<int32_t>(b.x) - static_cast<int32_t>(a.x);
  if (dx == 0) return 0;
  return (static_cast<int32_t>(b.y) - static_cast<int32_t>(a.y)) * 65536 / dx;
}

int32_t envelope_range(int64_t fixed) {
  return static_cast<int32_t>(fixed < 0 ? 0 : (fixed > (64 << 16) ? (64 << 16) : fixed));
}

// One step of the volume (flag 2) or panning (flag 4) envelope.
void envelope_step(XmChannel& ch, EnvelopeState env, const EnvelopeShape& shape, uint8_t flag) {
  const XmEnvelopePoint* points = shape.points;
  const int n = shape.count;
  if (env.point < n && env.tick == points[env.point].x) {
    if ((shape.type & XM_ENV_LOOP) && env.point == shape.loopEnd) {
      env.point = shape.loopStart;
      env.tick = points[shape.loopStart].x;
    }
    if (env.point == n - 1) {
      env.value = points[env.point].y;
      env.stopped = 1;
      ch.updateFlags |= flag;
      return;
    }
    if ((shape.type & XM_ENV_SUSTAIN) && env.point == shape.sustain && !ch.keyOff) {
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
    env.fixed = envelope_range(int64_t{env.fixed} + env.delta);
  }
  env.value = env.fixed >> 16;
  if (env.tick < INT32_MAX) env.tick += 1;
  ch.updateFlags |= flag;
}

}  // namespace

void xm_envelopes(XmChannel& ch, const XmInstrument* ins, bool rowTick) {
  if (ins->volumeType & XM_ENV_ON) {
    if (!ch.volumeEnvStopped) {
      envelope_step(ch,
                    {ch.volumeEnvTick, ch.volumeEnvPoint, ch.volumeEnvFixed, ch.volumeEnvValue, ch.volumeEnvDelta,
                     ch.volumeEnvStopped},
                    {ins->volumeEnvelope, ins->volumePointCount, ins->volumeSustain, ins->volumeLoopStart,
                     ins->volumeLoopEnd, ins->volumeType},
                    XM_UPDATE_VOLUME);
    }
  } else if (rowTick && ch.keyOff) {
    ch.volumeEnvValue = 0;  // a key off cuts an instrument without envelope
  }
  if ((ins->panningType & XM_ENV_ON) && !ch.panningEnvStopped) {
    envelope_step(ch,
                  {ch.panningEnvTick, ch.panningEnvPoint, ch.panningEnvFixed, ch.panningEnvValue, ch.panningEnvDelta,
                   ch.panningEnvStopped},
                  {ins->panningEnvelope, ins->panningPointCount, ins->panningSustain, ins->panningLoopStart,
                   ins->panningLoopEnd, ins->panningType},
                  XM_UPDATE_PANNING);
  }
  if (ch.keyOff) {
    ch.fadeoutVolume = ch.fadeoutVolume - ins->fadeout > 0 ? ch.fadeoutVolume - ins->fadeout : 0;
    ch.updateFlags |= XM_UPDATE_VOLUME;
  }
}

void xm_set_envelope_position(XmChannel& ch, const XmInstrument* ins, int32_t t) {
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
  ch.volumeEnvFixed =
      envelope_range(int64_t{t - points[j].x} * ch.volumeEnvDelta + int64_t{points[j].y} * 65536);
  ch.volumeEnvPoint = j + 1;
  ch.volumeEnvValue = ch.volumeEnvFixed >> 16;
}
