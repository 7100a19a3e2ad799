// The library's face over the player: each song is a loaded module with a
// player context of its own, so songs never share state.
#include "music/vantor_xm.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "music/xm_block.h"
#include "music/xm_engine.h"
#include "music/xm_file.h"
#include "music/xm_length.h"
#include "music/xm_rules.h"
#include "music/xm_tracker_rules.h"
#include "music/xm_loader.h"
#include "music/xm_mixer.h"
#include "music/xm_player.h"

namespace {

// What the song looked like at the start of one tick: for the position and
// channel calls, which answer for the next frame handed out, up to a block
// behind what is mixed.
struct TickState {
  int64_t frame;  // first frame of the tick
  int32_t order, row, tick;
  int16_t speed, tempo;
  uint8_t note[XM_CHANNELS], instrument[XM_CHANNELS], volume[XM_CHANNELS], level[XM_CHANNELS];
};

// Ticks kept: more than a block holds at the fastest tempo and lowest rate.
constexpr int32_t keptTicks = 64;

}  // namespace

struct vxm_song {
  XmSong* song = nullptr;  // owned
  XmPlayer player{};
  // The block whose frames are being handed out, and how many of them are.
  int32_t block = -1;
  int32_t blockUsed = 0;
  TickState ticks[keptTicks] = {};
  int32_t tickCount = 0;
  int64_t frames = 0;     // frames handed out since the start
  int64_t endFrame = -1;  // where the last play ends; -1 for ever
  int playCount = 1;
  int32_t startOrder = 0;
  bool endKnown = false;  // endFrame is for this play count and start
  uint32_t muted = 0;  // bit per channel
  vxm_row_callback onRow = nullptr;
  void* onRowUser = nullptr;
  float gain = 1.0f;
  float* scaled = nullptr;  // one block of the mix times the gain
};

namespace {

void set_error(vxm_error* error, vxm_status status, const char* message, const char* detail = nullptr) {
  if (!error) return;
  error->status = status;
  std::snprintf(error->message, sizeof error->message, detail ? "%s: %s" : "%s", message, detail);
}

vxm_status status_of(XmLoadFailure kind) {
  switch (kind) {
    case XmLoadFailure::memory: return VXM_ERROR_MEMORY;
    case XmLoadFailure::open: return VXM_ERROR_OPEN;
    case XmLoadFailure::read: return VXM_ERROR_READ;
    default: return VXM_ERROR_FORMAT;
  }
}

int32_t rate_of(const vxm_song* s) { return s->player.mix.rate; }

// Each play of the song ends where the length scan says; a song that never
// comes back to a row counts an hour as one play.
void compute_end(vxm_song* s) {
  if (s->playCount <= 0) {
    s->endFrame = -1;
    s->endKnown = true;
    return;
  }
  const int64_t cap = int64_t{XM_LENGTH_CAP_SECONDS} * rate_of(s) * s->playCount;
  s->endFrame = xm_song_length(s->song, rate_of(s), s->playCount, cap, s->startOrder, s->player.rules).frames;
  s->endKnown = true;
}

// The song from its start (or from order position `order`), nothing mixed.
void restart(vxm_song* s, int32_t order) {
  // The length scan runs only when where the plays end can have changed.
  if (order != s->startOrder) s->endKnown = false;
  s->startOrder = order;
  xm_start_song(&s->player);
  if (order > 0) {
    s->player.nextOrder = order;
    s->player.nextRow = 0;
  }
  s->block = -1;
  s->blockUsed = 0;
  s->tickCount = 0;
  s->frames = 0;
  if (!s->endKnown) compute_end(s);
}

// A muted channel's voices keep moving but are heard at level 0.
void silence_muted(vxm_song* s) {
  for (uint32_t bits = s->muted; bits != 0; bits &= bits - 1) {
    int c = 0;
    while (!(bits >> c & 1)) ++c;
    for (MixVoice* v : {&s->player.voices[c], &s->player.voices[xm_partner_voice(c)]}) {
      v->leftLevel = v->rightLevel = 0;
    }
  }
}

uint8_t limited(int32_t value, int32_t high) {
  return static_cast<uint8_t>(value < 0 ? 0 : (value > high ? high : value));
}

// Where the song is at the start of a tick, and what each channel plays.
void note_tick(vxm_song* s, int32_t tick) {
  const XmPlayer& p = s->player;
  TickState& t = s->ticks[s->tickCount++ % keptTicks];
  t.frame = p.output.tickFrame;
  t.order = p.order;
  t.row = p.row;
  t.tick = tick;
  t.speed = static_cast<int16_t>(p.speed);
  t.tempo = static_cast<int16_t>(p.bpm > INT16_MAX ? INT16_MAX : p.bpm);
  const int count = p.song->channelCount < XM_CHANNELS ? p.song->channelCount : XM_CHANNELS;
  for (int c = 0; c < count; ++c) {
    const XmChannel& ch = p.channels[c];
    const MixVoice* v = ch.voice;
    const bool sounding = v && v->sample;
    t.note[c] = sounding ? static_cast<uint8_t>(ch.note + 1) : 0;
    t.instrument[c] = sounding ? static_cast<uint8_t>(ch.instrument + 1) : 0;
    t.volume[c] = limited(ch.volume, 64);
    t.level[c] = sounding && !(s->muted >> c & 1) ? limited(v->volume, 127) : 0;
  }
}

// Each tick: the engine's, then the mutes, and a note of where it is.
void library_tick(XmPlayer* player) {
  auto* s = static_cast<vxm_song*>(player->host);
  const int32_t tick = player->tick;
  xm_tick(player);
  silence_muted(s);
  note_tick(s, tick);
  if (tick == 0 && s->onRow) s->onRow(s->onRowUser, player->order, player->row, player->output.tickFrame);
}

// The tick that the next frame to be handed out belongs to; null before the
// first tick.
const TickState* current_tick(const vxm_song* s) {
  const TickState* found = nullptr;
  for (int32_t i = s->tickCount - 1; i >= 0 && i >= s->tickCount - keptTicks; --i) {
    found = &s->ticks[i % keptTicks];
    if (found->frame <= s->frames) return found;
  }
  return found;
}

bool rate_allowed(int rate, vxm_error* error) {
  if (rate >= VXM_RATE_MIN && rate <= VXM_RATE_MAX) return true;
  set_error(error, VXM_ERROR_ARGUMENT, "the rate must be 8000 to 192000 frames a second");
  return false;
}

// A song around a loaded module, or null (freeing the module).
vxm_song* make_song(XmSong* loaded, const XmLoadError& failure, int rate, vxm_error* error) {
  if (!loaded) {
    set_error(error, status_of(failure.kind), failure.message);
    return nullptr;
  }
  auto* s = new (std::nothrow) vxm_song;
  if (!s || !xm_player_init(&s->player, loaded, rate)) {
    if (s) vxm_free(s);
    xm_release_song(loaded);
    set_error(error, VXM_ERROR_MEMORY, "out of memory");
    return nullptr;
  }
  s->song = loaded;
  s->player.host = s;
  s->player.tickHandler = library_tick;
  restart(s, 0);
  if (error) set_error(error, VXM_OK, "");
  return s;
}

int effective_rate(int rate) { return rate == 0 ? VXM_RATE_DEFAULT : rate; }

// Hands out up to `frames` frames: each call of `take` gets a run of the
// current block. Returns the frames handed out.
template <typename Take>
size_t render(vxm_song* s, size_t frames, Take take) {
  const MixOutput& out = s->player.output;
  size_t done = 0;
  while (done < frames) {
    if (s->endFrame >= 0 && s->frames >= s->endFrame) break;
    if (s->block < 0 || s->blockUsed == out.blockFrames) {
      s->block = out.fillBlock;
      mix_fill_block(&s->player);
      s->blockUsed = 0;
    }
    int64_t n = out.blockFrames - s->blockUsed;
    if (static_cast<int64_t>(frames - done) < n) n = static_cast<int64_t>(frames - done);
    if (s->endFrame >= 0 && s->endFrame - s->frames < n) n = s->endFrame - s->frames;
    const int64_t at = static_cast<int64_t>(s->block) * out.blockFrames + s->blockUsed;
    take(at, done, static_cast<int32_t>(n));
    s->blockUsed += static_cast<int32_t>(n);
    s->frames += n;
    done += static_cast<size_t>(n);
  }
  return done;
}

bool valid_instrument(const vxm_song* s, int i) { return s && i >= 0 && i < s->song->instrumentCount; }

}  // namespace

extern "C" {

int vxm_version(void) { return VXM_VERSION; }
const char* vxm_version_string(void) { return VXM_VERSION_STRING; }

vxm_song* vxm_load_memory(const void* data, size_t size, int rate, vxm_error* error) {
  rate = effective_rate(rate);
  if (!data && size != 0) {
    set_error(error, VXM_ERROR_ARGUMENT, "no data");
    return nullptr;
  }
  if (!rate_allowed(rate, error)) return nullptr;
  if (size == 0) {
    set_error(error, VXM_ERROR_FORMAT, "not an XM module (no data)");
    return nullptr;
  }
  XmLoadError failure{};
  XmSong* loaded = xm_load_memory(static_cast<const uint8_t*>(data), size, nullptr, &failure);
  return make_song(loaded, failure, rate, error);
}

vxm_song* vxm_load_stdio(FILE* stream, int rate, vxm_error* error) {
  rate = effective_rate(rate);
  if (!stream) {
    set_error(error, VXM_ERROR_ARGUMENT, "no stream");
    return nullptr;
  }
  if (!rate_allowed(rate, error)) return nullptr;
  XmLoadError failure{};
  XmSong* loaded = xm_load_stream(stream, nullptr, &failure);
  if (!loaded && failure.kind == XmLoadFailure::read) {
    set_error(error, VXM_ERROR_READ, "cannot read", std::strerror(failure.systemError));
    return nullptr;
  }
  return make_song(loaded, failure, rate, error);
}

vxm_song* vxm_load_file(const char* path, int rate, vxm_error* error) {
  if (!path) {
    set_error(error, VXM_ERROR_ARGUMENT, "no path");
    return nullptr;
  }
  if (!rate_allowed(effective_rate(rate), error)) return nullptr;
  std::FILE* f = std::fopen(path, "rb");
  if (!f) {
    set_error(error, VXM_ERROR_OPEN, "cannot open", std::strerror(errno));
    return nullptr;
  }
  vxm_song* song = vxm_load_stdio(f, rate, error);
  std::fclose(f);
  return song;
}

vxm_song* vxm_load_io(const vxm_io* io, void* user, int rate, vxm_error* error) {
  rate = effective_rate(rate);
  if (!io || !io->read || !io->rewind) {
    set_error(error, VXM_ERROR_ARGUMENT, "no read or rewind callback");
    return nullptr;
  }
  if (!rate_allowed(rate, error)) return nullptr;
  // The loader reads the whole module from its start in large pieces.
  struct Source {
    const vxm_io* io;
    void* user;
  } source{io, user};
  const XmFileCallbacks callbacks{
      [](const char*) -> void* { return nullptr; },
      [](void*) {},
      // The loader reads until a read gives nothing: keep asking until the
      // reader has nothing more or the piece is full.
      [](void* destination, uint32_t size, void* handle) -> uint32_t {
        auto* src = static_cast<Source*>(handle);
        uint32_t done = 0;
        while (done < size) {
          const size_t got = src->io->read(src->user, static_cast<uint8_t*>(destination) + done, size - done);
          if (got == 0) break;
          done += static_cast<uint32_t>(got < size - done ? got : size - done);
        }
        return done;
      },
      [](void* handle, int32_t, int32_t) {
        auto* src = static_cast<Source*>(handle);
        src->io->rewind(src->user);
      },
      [](void*) -> int32_t { return 0; },
  };
  XmFile file{&source, &callbacks};
  XmLoadError failure{};
  XmSong* loaded = xm_load_file(&file, nullptr, &failure);
  return make_song(loaded, failure, rate, error);
}

void vxm_free(vxm_song* s) {
  if (!s) return;
  xm_player_release(&s->player);
  xm_release_song(s->song);
  std::free(s->scaled);
  delete s;
}

size_t vxm_render_s16(vxm_song* s, int16_t* buffer, size_t frames) {
  if (!s || !buffer || !s->player.output.mixBuffer) return 0;
  const MixOutput& out = s->player.output;
  if (s->gain != 1.0f && !s->scaled) {
    s->scaled = static_cast<float*>(std::malloc(sizeof(float) * 2 * static_cast<size_t>(out.blockFrames)));
    if (!s->scaled) return 0;
  }
  return render(s, frames, [s, &out, buffer](int64_t at, size_t done, int32_t n) {
    int16_t* to = buffer + 2 * done;
    if (s->gain == 1.0f) {
      std::memcpy(to, out.pcmBuffer + 2 * at, sizeof(int16_t) * 2 * static_cast<size_t>(n));
      return;
    }
    const float* mix = out.mixBuffer + 2 * at;
    for (int32_t i = 0; i < 2 * n; ++i) s->scaled[i] = mix[i] * s->gain;
    mix_to_pcm16(to, s->scaled, n);
  });
}

size_t vxm_render_f32(vxm_song* s, float* buffer, size_t frames) {
  if (!s || !buffer || !s->player.output.mixBuffer) return 0;
  const MixOutput& out = s->player.output;
  const float scale = s->gain / 32768.0f;
  return render(s, frames, [&out, buffer, scale](int64_t at, size_t done, int32_t n) {
    const float* mix = out.mixBuffer + 2 * at;
    float* to = buffer + 2 * done;
    for (int32_t i = 0; i < 2 * n; ++i) to[i] = mix[i] * scale;
  });
}

const char* vxm_title(const vxm_song* s) { return s ? s->song->title : ""; }
const char* vxm_tracker(const vxm_song* s) { return s ? s->song->tracker : ""; }
int vxm_channel_count(const vxm_song* s) { return s ? s->song->channelCount : 0; }
int vxm_pattern_count(const vxm_song* s) { return s ? s->song->patternCount : 0; }
int vxm_instrument_count(const vxm_song* s) { return s ? s->song->instrumentCount : 0; }

int vxm_sample_count(const vxm_song* s) {
  int n = 0;
  for (int i = 0; s && i < s->song->instrumentCount; ++i) n += s->song->instruments[i].sampleCount;
  return n;
}

const char* vxm_instrument_name(const vxm_song* s, int i) {
  return valid_instrument(s, i) ? s->song->instruments[i].name : "";
}

int vxm_instrument_sample_count(const vxm_song* s, int i) {
  return valid_instrument(s, i) ? s->song->instruments[i].sampleCount : 0;
}

const char* vxm_sample_name(const vxm_song* s, int i, int n) {
  if (!valid_instrument(s, i) || n < 0 || n >= s->song->instruments[i].sampleCount) return "";
  return s->song->instruments[i].samples[n]->name;
}

int vxm_linear_frequencies(const vxm_song* s) { return s && (s->song->flags & XM_FLAG_LINEAR) ? 1 : 0; }
int vxm_order_count(const vxm_song* s) { return s ? s->song->songLength : 0; }

int vxm_order_pattern(const vxm_song* s, int position) {
  return s && position >= 0 && position < s->song->songLength ? s->song->orders[position] : 0;
}

int64_t vxm_length_ms(const vxm_song* s) {
  return s ? xm_song_length(s->song, rate_of(s), 1, -1, 0, s->player.rules).frames * 1000 / rate_of(s) : 0;
}

// Before the first frame is mixed, the song stands at its start.
vxm_length vxm_measure(const vxm_song* s, int plays, int64_t capFrames) {
  if (!s) return vxm_length{0, 0, 0, 0};
  if (capFrames < 0) capFrames = int64_t{XM_LENGTH_CAP_SECONDS} * rate_of(s) * (plays > 1 ? plays : 1);
  const XmSongLength l = xm_song_length(s->song, rate_of(s), plays, capFrames, 0, s->player.rules);
  return vxm_length{l.frames, l.endOrder, l.endRow, l.ended ? 1 : 0};
}

int vxm_order(const vxm_song* s) {
  const TickState* t = s ? current_tick(s) : nullptr;
  return t ? t->order : (s ? s->startOrder : 0);
}
int vxm_row(const vxm_song* s) {
  const TickState* t = s ? current_tick(s) : nullptr;
  return t ? t->row : 0;
}
int vxm_tick(const vxm_song* s) {
  const TickState* t = s ? current_tick(s) : nullptr;
  return t ? t->tick : 0;
}
int64_t vxm_time_ms(const vxm_song* s) { return s ? s->frames * 1000 / rate_of(s) : 0; }

int vxm_pattern(const vxm_song* s) { return s ? s->song->orders[vxm_order(s) & 255] : 0; }

int vxm_speed(const vxm_song* s) {
  const TickState* t = s ? current_tick(s) : nullptr;
  return t ? t->speed : (s ? s->song->defaultSpeed : 0);
}

int vxm_tempo(const vxm_song* s) {
  const TickState* t = s ? current_tick(s) : nullptr;
  return t ? t->tempo : (s ? s->song->defaultBpm : 0);
}

int vxm_channel(const vxm_song* s, int channel, vxm_channel_state* state) {
  if (!state) return 0;
  *state = vxm_channel_state{0, 0, 0, 0};
  if (!s || channel < 0 || channel >= s->song->channelCount || channel >= XM_CHANNELS) return 0;
  const TickState* t = current_tick(s);
  if (t) *state = vxm_channel_state{t->note[channel], t->instrument[channel], t->volume[channel], t->level[channel]};
  return 1;
}

vxm_status vxm_seek_order(vxm_song* s, int order) {
  if (!s || order < 0 || order >= s->song->songLength) return VXM_ERROR_ARGUMENT;
  restart(s, order);
  return VXM_OK;
}

vxm_status vxm_seek_ms(vxm_song* s, int64_t ms) {
  if (!s || ms < 0) return VXM_ERROR_ARGUMENT;
  restart(s, 0);
  // The first frame at or after the time, so that vxm_time_ms reads it back.
  const int64_t target = (ms * rate_of(s) + 999) / 1000;
  const int64_t end = s->endFrame;
  s->endFrame = -1;
  // Played unheard in whole blocks, exactly as rendering would.
  while (s->frames < target) {
    const int64_t left = target - s->frames;
    const int64_t blockFrames = s->player.output.blockFrames;
    render(s, static_cast<size_t>(left < blockFrames ? left : blockFrames), [](int64_t, size_t, int32_t) {});
  }
  s->endFrame = end;
  return VXM_OK;
}

vxm_status vxm_set_rules(vxm_song* s, vxm_rules rules) {
  if (!s || (rules != VXM_RULES_PLAYER && rules != VXM_RULES_TRACKER)) return VXM_ERROR_ARGUMENT;
  s->player.rules = rules == VXM_RULES_TRACKER ? &xmTrackerRules : &xmPlayerRules;
  // Where the plays end can move with the rules.
  s->endKnown = false;
  restart(s, 0);
  return VXM_OK;
}

vxm_rules vxm_get_rules(const vxm_song* s) {
  return s && s->player.rules == &xmTrackerRules ? VXM_RULES_TRACKER : VXM_RULES_PLAYER;
}

void vxm_set_play_count(vxm_song* s, int count) {
  if (!s) return;
  s->playCount = count < 0 ? 0 : count;
  compute_end(s);
}

int vxm_ended(const vxm_song* s) { return s && s->endFrame >= 0 && s->frames >= s->endFrame ? 1 : 0; }

void vxm_mute_channel(vxm_song* s, int channel, int muted) {
  if (!s || channel < 0 || channel >= XM_CHANNELS) return;
  const uint32_t bit = uint32_t{1} << channel;
  if (muted) {
    s->muted |= bit;
    silence_muted(s);
    return;
  }
  if (!(s->muted & bit)) return;
  s->muted &= ~bit;
  // Heard again at the levels the engine last set.
  for (MixVoice* v : {&s->player.voices[channel], &s->player.voices[xm_partner_voice(channel)]}) s->player.rules->levels(*v);
}

void vxm_set_gain(vxm_song* s, float gain) {
  if (!s) return;
  s->gain = gain > 0.0f ? gain : 0.0f;
}

void vxm_set_row_callback(vxm_song* s, vxm_row_callback callback, void* user) {
  if (!s) return;
  s->onRow = callback;
  s->onRowUser = user;
}

int vxm_use_mixer(const char* name) {
  for (MixPath p : {MixPath::Best, MixPath::Scalar, MixPath::Portable, MixPath::Sse2, MixPath::Avx2, MixPath::Avx512}) {
    if (name && std::strcmp(name, mix_path_name(p)) == 0) return mix_use_path(p) ? 1 : 0;
  }
  return -1;
}

const char* vxm_mixer(void) { return mix_path_name(mix_path()); }

}  // extern "C"
