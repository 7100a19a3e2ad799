// The library's face over the player: each song carries its own channel and
// voice tables, rate and output blocks, so songs never share state.
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
#include "music/xm_loader.h"
#include "music/xm_mixer.h"

struct vxm_song {
  XmSong* song = nullptr;  // owned; its tables are the two below
  XmChannel channels[XM_CHANNELS];
  MixVoice voices[XM_VOICES];
  MixOutput output{};
  int32_t rate = 0;
  // The block whose frames are being handed out, and how many of them are.
  int32_t block = -1;
  int32_t blockUsed = 0;
  // The latest ticks mixed: the position each started and its first frame.
  struct Tick {
    int64_t frame;
    int32_t order, row, tick;
  } ticks[64] = {};
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

constexpr int kDefaultRate = 44100;
constexpr int kMinRate = 8000;
constexpr int kMaxRate = 192000;
// Modules are small; anything larger than this is not one.
constexpr size_t kMaxModuleBytes = 256u << 20;

void set_error(vxm_error* error, vxm_status status, const char* message, const char* detail = nullptr) {
  if (!error) return;
  error->status = status;
  std::snprintf(error->message, sizeof error->message, detail ? "%s: %s" : "%s", message, detail);
}

// The module's bytes as a file the loader reads through its callbacks.
struct MemoryFile {
  const uint8_t* data;
  size_t size;
  size_t pos;
};

void* memory_open(const char*) { return nullptr; }
void memory_close(void*) {}
uint32_t memory_read(void* destination, uint32_t size, void* handle) {
  auto* m = static_cast<MemoryFile*>(handle);
  const size_t left = m->size - m->pos;
  const size_t n = size < left ? size : left;
  std::memcpy(destination, m->data + m->pos, n);
  m->pos += n;
  return static_cast<uint32_t>(n);
}
void memory_seek(void* handle, int32_t offset, int32_t origin) {
  auto* m = static_cast<MemoryFile*>(handle);
  const int64_t base = origin == 1 ? static_cast<int64_t>(m->pos) : 0;
  const int64_t to = base + offset;
  m->pos = to < 0 ? 0 : (static_cast<uint64_t>(to) > m->size ? m->size : static_cast<size_t>(to));
}
int32_t memory_tell(void* handle) { return static_cast<int32_t>(static_cast<MemoryFile*>(handle)->pos); }

const XmFileCallbacks memoryCallbacks{memory_open, memory_close, memory_read, memory_seek, memory_tell};

// Each play of the song ends where the length scan says; a song that never
// comes back to a row counts an hour as one play.
void compute_end(vxm_song* s) {
  if (s->playCount <= 0) {
    s->endFrame = -1;
    s->endKnown = true;
    return;
  }
  const int64_t cap = int64_t{XM_LENGTH_CAP_SECONDS} * s->rate * s->playCount;
  s->endFrame = xm_song_length(s->song, s->playCount, cap, s->startOrder).frames;
  s->endKnown = true;
}

// The song from its start (or from order position `order`), nothing mixed.
bool restart(vxm_song* s, int32_t order) {
  // The length scan runs only when where the plays end can have changed.
  if (order != s->startOrder) s->endKnown = false;
  s->startOrder = order;
  if (!mix_output_init(&s->output, s->song)) return false;
  xm_start_song(s->song);
  if (order > 0) {
    s->song->nextOrder = order;
    s->song->nextRow = 0;
  }
  s->block = -1;
  s->blockUsed = 0;
  s->tickCount = 0;
  s->frames = 0;
  if (!s->endKnown) compute_end(s);
  return true;
}

// A muted channel's voices keep moving but are heard at level 0.
void silence_muted(vxm_song* s) {
  for (uint32_t bits = s->muted; bits != 0; bits &= bits - 1) {
    int c = 0;
    while (!(bits >> c & 1)) ++c;
    for (MixVoice* v : {&s->voices[c], &s->voices[c + 32]}) v->leftLevel = v->rightLevel = 0;
  }
}

// Each tick: the engine's, then the mutes, and a note of where it is.
void library_tick(XmSong* song) {
  auto* s = static_cast<vxm_song*>(song->host);
  const int32_t tick = song->tick;
  xm_tick(song);
  silence_muted(s);
  s->ticks[s->tickCount++ % 64] = vxm_song::Tick{s->output.tickFrame, song->order, song->row, tick};
  if (tick == 0 && s->onRow) s->onRow(s->onRowUser, song->order, song->row, s->output.tickFrame);
}

// The tick that the next frame to be handed out belongs to.
const vxm_song::Tick* current_tick(const vxm_song* s) {
  const vxm_song::Tick* found = nullptr;
  for (int32_t i = s->tickCount - 1; i >= 0 && i >= s->tickCount - 64; --i) {
    found = &s->ticks[i % 64];
    if (found->frame <= s->frames) return found;
  }
  return found;
}

vxm_song* make_song(XmFile* file, int rate, vxm_error* error) {
  if (rate == 0) rate = kDefaultRate;
  if (rate < kMinRate || rate > kMaxRate) {
    set_error(error, VXM_ERROR_ARGUMENT, "the rate must be 8000 to 192000 frames a second");
    return nullptr;
  }
  auto* s = new (std::nothrow) vxm_song;
  auto* song = static_cast<XmSong*>(std::calloc(1, sizeof(XmSong)));
  if (!s || !song) {
    delete s;
    std::free(song);
    set_error(error, VXM_ERROR_MEMORY, "out of memory");
    return nullptr;
  }
  if (!xm_load_module(song, file)) {
    const char* why = xm_last_error();
    set_error(error, std::strcmp(why, "out of memory") == 0 ? VXM_ERROR_MEMORY : VXM_ERROR_FORMAT, why);
    xm_release_song(song);
    delete s;
    return nullptr;
  }
  s->song = song;
  s->rate = rate;
  song->rate = rate;
  song->channelTable = s->channels;
  song->voiceTable = s->voices;
  song->host = s;
  song->tickHandler = library_tick;
  if (!restart(s, 0)) {
    vxm_free(s);
    set_error(error, VXM_ERROR_MEMORY, "out of memory");
    return nullptr;
  }
  if (error) set_error(error, VXM_OK, "");
  return s;
}

// Hands out up to `frames` frames: each call of `take` gets a run of the
// current block. Returns the frames handed out.
template <typename Take>
size_t render(vxm_song* s, size_t frames, Take take) {
  size_t done = 0;
  while (done < frames) {
    if (s->endFrame >= 0 && s->frames >= s->endFrame) break;
    if (s->block < 0 || s->blockUsed == s->output.blockFrames) {
      s->block = s->output.fillBlock;
      mix_fill_block(&s->output);
      s->blockUsed = 0;
    }
    int64_t n = s->output.blockFrames - s->blockUsed;
    if (static_cast<int64_t>(frames - done) < n) n = static_cast<int64_t>(frames - done);
    if (s->endFrame >= 0 && s->endFrame - s->frames < n) n = s->endFrame - s->frames;
    const int64_t at = static_cast<int64_t>(s->block) * s->output.blockFrames + s->blockUsed;
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
  if (!data && size != 0) {
    set_error(error, VXM_ERROR_ARGUMENT, "no data");
    return nullptr;
  }
  if (size == 0) {
    set_error(error, VXM_ERROR_FORMAT, "not an XM module (no data)");
    return nullptr;
  }
  MemoryFile memory{static_cast<const uint8_t*>(data), size, 0};
  XmFile file{&memory, &memoryCallbacks};
  return make_song(&file, rate, error);
}

vxm_song* vxm_load_file(const char* path, int rate, vxm_error* error) {
  if (!path) {
    set_error(error, VXM_ERROR_ARGUMENT, "no path");
    return nullptr;
  }
  std::FILE* f = std::fopen(path, "rb");
  if (!f) {
    set_error(error, VXM_ERROR_OPEN, "cannot open", std::strerror(errno));
    return nullptr;
  }
  uint8_t* data = nullptr;
  size_t size = 0, capacity = 0;
  bool failed = false, tooLarge = false;
  for (;;) {
    if (size == capacity) {
      if (capacity >= kMaxModuleBytes) {
        tooLarge = true;
        break;
      }
      capacity = capacity ? capacity * 2 : 256 * 1024;
      auto* grown = static_cast<uint8_t*>(std::realloc(data, capacity));
      if (!grown) {
        std::free(data);
        std::fclose(f);
        set_error(error, VXM_ERROR_MEMORY, "out of memory");
        return nullptr;
      }
      data = grown;
    }
    errno = 0;
    const size_t got = std::fread(data + size, 1, capacity - size, f);
    size += got;
    if (got == 0) {
      failed = std::ferror(f) != 0;
      break;
    }
  }
  const int readErrno = errno;
  std::fclose(f);
  vxm_song* song = nullptr;
  if (failed) {
    set_error(error, VXM_ERROR_READ, "cannot read", std::strerror(readErrno ? readErrno : EIO));
  } else if (tooLarge) {
    set_error(error, VXM_ERROR_FORMAT, "file too large to be a module");
  } else if (size == 0) {
    set_error(error, VXM_ERROR_FORMAT, "empty file");
  } else {
    song = vxm_load_memory(data, size, rate, error);
  }
  std::free(data);
  return song;
}

vxm_song* vxm_load_io(const vxm_io* io, void* user, int rate, vxm_error* error) {
  if (!io || !io->read || !io->rewind) {
    set_error(error, VXM_ERROR_ARGUMENT, "no read or rewind callback");
    return nullptr;
  }
  // The loader reads the whole module from its start in large pieces.
  struct Source {
    const vxm_io* io;
    void* user;
  } source{io, user};
  const XmFileCallbacks callbacks{
      [](const char*) -> void* { return nullptr; },
      [](void*) {},
      // A short read means the end to the loader: keep asking until the
      // reader has nothing more.
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
  return make_song(&file, rate, error);
}

void vxm_free(vxm_song* s) {
  if (!s) return;
  mix_output_release(&s->output);
  xm_release_song(s->song);
  std::free(s->scaled);
  delete s;
}

size_t vxm_render_s16(vxm_song* s, int16_t* buffer, size_t frames) {
  if (!s || !buffer || !s->output.mixBuffer) return 0;
  if (s->gain != 1.0f && !s->scaled) {
    s->scaled = static_cast<float*>(std::malloc(sizeof(float) * 2 * static_cast<size_t>(s->output.blockFrames)));
    if (!s->scaled) return 0;
  }
  return render(s, frames, [s, buffer](int64_t at, size_t done, int32_t n) {
    int16_t* out = buffer + 2 * done;
    if (s->gain == 1.0f) {
      std::memcpy(out, s->output.pcmBuffer + 2 * at, sizeof(int16_t) * 2 * static_cast<size_t>(n));
      return;
    }
    const float* mix = s->output.mixBuffer + 2 * at;
    for (int32_t i = 0; i < 2 * n; ++i) s->scaled[i] = mix[i] * s->gain;
    mix_to_pcm16(out, s->scaled, n);
  });
}

size_t vxm_render_f32(vxm_song* s, float* buffer, size_t frames) {
  if (!s || !buffer || !s->output.mixBuffer) return 0;
  const float scale = s->gain / 32768.0f;
  return render(s, frames, [s, buffer, scale](int64_t at, size_t done, int32_t n) {
    const float* mix = s->output.mixBuffer + 2 * at;
    float* out = buffer + 2 * done;
    for (int32_t i = 0; i < 2 * n; ++i) out[i] = mix[i] * scale;
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
  return s ? xm_song_length(s->song).frames * 1000 / s->rate : 0;
}

// Before the first frame is mixed, the song stands at its start.
vxm_length vxm_measure(const vxm_song* s, int plays, int64_t capFrames) {
  if (!s) return vxm_length{0, 0, 0, 0};
  if (capFrames < 0) capFrames = int64_t{XM_LENGTH_CAP_SECONDS} * s->rate * (plays > 1 ? plays : 1);
  const XmSongLength l = xm_song_length(s->song, plays, capFrames);
  return vxm_length{l.frames, l.endOrder, l.endRow, l.ended ? 1 : 0};
}

int vxm_order(const vxm_song* s) {
  const vxm_song::Tick* t = s ? current_tick(s) : nullptr;
  return t ? t->order : (s ? s->startOrder : 0);
}
int vxm_row(const vxm_song* s) {
  const vxm_song::Tick* t = s ? current_tick(s) : nullptr;
  return t ? t->row : 0;
}
int vxm_tick(const vxm_song* s) {
  const vxm_song::Tick* t = s ? current_tick(s) : nullptr;
  return t ? t->tick : 0;
}
int64_t vxm_time_ms(const vxm_song* s) { return s ? s->frames * 1000 / s->rate : 0; }

vxm_status vxm_seek_order(vxm_song* s, int order) {
  if (!s || order < 0 || order >= s->song->songLength) return VXM_ERROR_ARGUMENT;
  return restart(s, order) ? VXM_OK : VXM_ERROR_MEMORY;
}

vxm_status vxm_seek_ms(vxm_song* s, int64_t ms) {
  if (!s || ms < 0) return VXM_ERROR_ARGUMENT;
  if (!restart(s, 0)) return VXM_ERROR_MEMORY;
  // The first frame at or after the time, so that vxm_time_ms reads it back.
  const int64_t target = (ms * s->rate + 999) / 1000;
  const int64_t end = s->endFrame;
  s->endFrame = -1;
  // Played unheard in whole blocks, exactly as rendering would.
  while (s->frames < target) {
    const int64_t left = target - s->frames;
    const int32_t n = static_cast<int32_t>(left < s->output.blockFrames ? left : s->output.blockFrames);
    render(s, static_cast<size_t>(n), [](int64_t, size_t, int32_t) {});
  }
  s->endFrame = end;
  return VXM_OK;
}

vxm_status vxm_set_rules(vxm_song* s, vxm_rules rules) {
  if (!s || (rules != VXM_RULES_PLAYER && rules != VXM_RULES_TRACKER)) return VXM_ERROR_ARGUMENT;
  s->song->rules = rules == VXM_RULES_TRACKER ? XM_RULES_TRACKER : XM_RULES_PLAYER;
  // Where the plays end can move with the rules.
  s->endKnown = false;
  return restart(s, 0) ? VXM_OK : VXM_ERROR_MEMORY;
}

vxm_rules vxm_get_rules(const vxm_song* s) {
  return s && s->song->rules == XM_RULES_TRACKER ? VXM_RULES_TRACKER : VXM_RULES_PLAYER;
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
  for (MixVoice* v : {&s->voices[channel], &s->voices[channel + 32]}) {
    v->leftLevel = v->volume * (255 - v->panning) / 255;
    v->rightLevel = v->volume * v->panning / 255;
  }
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
