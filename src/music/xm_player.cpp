#include "music/xm_player.h"

#include <cstring>

#include "music/xm_block.h"
#include "music/xm_engine.h"
#include "music/xm_rules.h"

bool xm_player_init(XmPlayer* player, const XmSong* song, int32_t rate) {
  xm_player_release(player);
  player->song = song;
  if (!player->rules) player->rules = &xmPlayerRules;
  player->tickHandler = xm_tick;
  player->mix = xm_mix_rate(rate);
  if (!mix_output_init(&player->output, rate)) return false;
  xm_start_song(player);
  return true;
}

void xm_player_release(XmPlayer* player) { mix_output_release(&player->output); }

void xm_start_song(XmPlayer* player) {
  XmPlayer& p = *player;
  const XmSong* song = p.song;
  std::memset(p.voices, 0, sizeof p.voices);
  for (int i = 0; i < XM_VOICES; ++i) {
    p.voices[i].index = i;
    p.voices[i].stepWhole = 1;
  }
  // The finetunes the file gave, which E5 may change while this plays.
  std::memset(p.finetunes, 0, sizeof p.finetunes);
  for (int i = 0; i < song->instrumentCount; ++i) {
    const XmInstrument& ins = song->instruments[i];
    for (int s = 0; s < ins.sampleCount && s < 16; ++s) {
      if (ins.samples[s]) p.finetunes[ins.samples[s]->number] = ins.samples[s]->finetune;
    }
  }
  p.globalVolume = song->defaultGlobalVolume;
  p.globalVolumeSlide = 0;
  p.speed = song->defaultSpeed;
  p.order = p.row = p.tick = 0;
  p.nextOrder = p.nextRow = -1;
  p.loopJumpRow = -1;
  p.tickSamplesLeft = 0;
  p.tickRemainder = 0;
  p.patternDelayTicks = 0;
  p.timeMs = 0;
  xm_set_bpm(&p, song->defaultBpm);
  std::memset(p.channels, 0, sizeof p.channels);
  const int count = song->channelCount < 0 ? 0 : (song->channelCount > XM_CHANNELS ? XM_CHANNELS : song->channelCount);
  for (int i = 0; i < count; ++i) p.channels[i].voice = &p.voices[i];
  p.output.fillBlock = 0;
  p.output.totalFrames = 0;
  p.output.tickFrame = 0;
}
