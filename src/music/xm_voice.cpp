#include "music/xm_voice.h"

#include "music/xm_periods.h"
#include "music/xm_player.h"
#include "music/xm_rules.h"

namespace {

// A note starts: a voice still sounding keeps the old sound, which ramps
// out there; the channel goes on with a copy in the partner voice, where the
// new note starts from silence.
MixVoice* start_note(XmPlayer& player, XmChannel& ch, const XmSample* sample) {
  MixVoice* v = ch.voice;
  if (v->sample) {
    const int self = static_cast<int>(v - player.voices);
    const int partnerIndex = xm_partner_voice(self);
    MixVoice* partner = &player.voices[partnerIndex];
    *partner = *v;
    partner->index = partnerIndex;
    v->volume = 0;
    v->leftLevel = 0;
    v->rightLevel = 0;
    v->glideFrames = 0;
    v->released = 1;
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
  return v;
}

// Volume: channel volume with its tremolo or tremor offset, envelope,
// fadeout and the global volume, each product rounded to single precision:
// 127 at full scale.
void set_volume(const XmRules& rules, MixVoice* v, const XmChannel& ch, int32_t globalVolume) {
  float volume = static_cast<float>(ch.volume + ch.volumeDelta);
  volume = volume * static_cast<float>(ch.volumeEnvValue);
  volume = volume * static_cast<float>(ch.fadeoutVolume);
  volume = volume * static_cast<float>(globalVolume);
  volume = volume * 255.0f;
  volume = volume / 34359738368.0f;  // 2^35
  v->volume = static_cast<int32_t>(volume);
  rules.levels(*v);
}

// Panning: the channel's, moved by the panning envelope, less far the
// nearer it is to a side.
void set_panning(const XmRules& rules, MixVoice* v, const XmChannel& ch) {
  const int64_t p = ch.panning;
  const int64_t distance = p - 128 < 0 ? 128 - p : p - 128;
  int64_t final = p + ((128 - distance) / 32) * (ch.panningEnvValue - 32);
  if (final < 0) final = 0;
  if (final > 255) final = 255;
  v->panning = static_cast<int32_t>(final);
  rules.levels(*v);
}

void set_step(MixVoice* v, const XmChannel& ch, bool linear, int32_t rate) {
  int32_t f = xm_period_frequency(ch.period, ch.periodDelta, linear);
  if (f < 100) f = 100;
  v->stepWhole = f / rate;
  v->stepFraction = static_cast<uint32_t>((static_cast<uint64_t>(f % rate) << 32) / static_cast<uint64_t>(rate));
}

}  // namespace

void xm_update_voice(XmPlayer& player, XmChannel& ch, const XmSample* sample) {
  MixVoice* v = ch.voice;
  if (int64_t{ch.period} + ch.periodDelta == 0) ch.updateFlags &= static_cast<uint8_t>(~XM_UPDATE_FREQUENCY);
  if (ch.updateFlags & XM_UPDATE_TRIGGER) v = start_note(player, ch, sample);
  v->glideFrames = player.rules->glide(player, ch);
  if (ch.updateFlags & XM_UPDATE_VOLUME) set_volume(*player.rules, v, ch, player.globalVolume);
  if (ch.updateFlags & XM_UPDATE_PANNING) set_panning(*player.rules, v, ch);
  if (ch.updateFlags & XM_UPDATE_FREQUENCY) {
    set_step(v, ch, (player.song->flags & XM_FLAG_LINEAR) != 0, player.mix.rate);
  }
  // The note started (the old sound ramping out in the partner voice)
  // ends at once.
  if (ch.updateFlags & XM_UPDATE_STOP) {
    v->sample = nullptr;
    v->position = 0;
    v->fraction = 0;
  }
  if (ch.updateFlags & XM_UPDATE_REWIND) {
    v->position = 0;
    v->fraction = 0;
    v->startOffset = 0;
  }
}
