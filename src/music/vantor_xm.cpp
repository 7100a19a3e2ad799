// The library's face over the player: each song is a loaded module with a
// player context of its own, so songs never share state.
//
// The player mixes whole blocks of about 20 ms, counted from the song's
// start, and the library hands their frames out. Row callbacks are made as
// the frames of their row are handed out, between blocks and outside the
// mixer, so a callback may do anything to its song. Every position, the
// callbacks' frames and vxm_time_ms count from the song's start. Nothing
// allocates after loading except vxm_set_rate, vxm_set_rules and a seek to a
// row the song never reaches from its start.
#include "music/vantor_xm.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <new>

#include "music/xm_block.h"
#include "music/xm_engine.h"
#include "music/xm_length.h"
#include "music/xm_loader.h"
#include "music/xm_mixer.h"
#include "music/xm_player.h"
#include "music/xm_rules.h"
#include "music/xm_tracker_rules.h"

namespace {

// What the song looked like at the start of one tick: for the position and
// channel calls, which answer for the next frame handed out, up to a block
// behind what is mixed, and for the row callbacks, made as it is handed out.
struct TickState {
  int64_t frame;  // first frame of the tick, counted as the player mixes
  int32_t order, row, tick;
  int16_t speed, tempo;
  uint8_t note[XM_CHANNELS], instrument[XM_CHANNELS], volume[XM_CHANNELS], level[XM_CHANNELS];
};

// Ticks kept: more than a block holds at the fastest tempo and lowest rate.
constexpr int32_t keptTicks = 64;

// The names as UTF-8: title, tracker, then each instrument and its samples.
struct Names {
  char* text;
  const char** at;  // 2 + instruments + samples pointers into text
};

}  // namespace

struct vxm_song {
  XmSong* song;  // owned
  XmPlayer player;
  XmCourse course;       // from the song's start
  XmCourse fresh;        // from a row the start never reaches (freshKnown)
  bool freshKnown;
  bool playingFresh;     // playback started at fresh's row, and counts from there
  // The block whose frames are being handed out, and how many of them are.
  int32_t block;
  int32_t blockUsed;
  TickState ticks[keptTicks];
  int32_t tickCount;     // ticks noted since playback started
  int32_t reported;      // ticks whose row callback is made or passed
  int64_t mixed;         // frames mixed and handed out (or passed by a seek)
  // Frames handed out = mixed + shift: a seek far into a song that plays on
  // lands in the same rows of an earlier cycle of its plays.
  int64_t shift;
  // True when the player is not where `mixed` says: a seek to the end of the
  // last play lands there without playing to it, until more plays need it.
  bool behind;
  TickState endState;    // what the position calls say there
  int64_t endFrame;      // where the last play ends; -1 for ever
  int playCount;
  uint32_t muted;        // bit per channel
  vxm_row_callback onRow;
  void* onRowUser;
  int rendering;         // render calls under way (a callback may render too)
  bool freeAfterRender;  // vxm_free came from a callback
  float gain;
  float* scaled;         // one block of the mix times the gain
  Names names;
  char warning[160];
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

const XmCourse& active_course(const vxm_song* s) { return s->playingFresh ? s->fresh : s->course; }

int64_t handed_out(const vxm_song* s) { return s->mixed + s->shift; }

// Frames at the song's rate from the start to a timeline frame; -1 beyond
// the range of int64.
int64_t at_rate(const vxm_song* s, int64_t timelineFrame) { return xm_timeline_to_rate(timelineFrame, rate_of(s)); }

// Where `count` plays end, in frames at the song's rate; false when that
// lies beyond int64.
bool end_of_plays(const vxm_song* s, int count, int64_t* endFrame) {
  if (count <= 0) {
    *endFrame = -1;
    return true;
  }
  XmPlayEnd end;
  if (!xm_course_end(active_course(s), count, &end)) return false;
  *endFrame = at_rate(s, end.frame);
  return *endFrame >= 0;
}

// A frame far into the plays moved back by whole cycles to where the same
// rows play (xm_course_fold at the song's rate), so that reaching it costs
// at most about two plays of mixing.
int64_t fold(const vxm_song* s, int64_t frame) {
  const XmCourse& c = active_course(s);
  if (c.cycleFrames <= 0 || c.known < 1) return frame;
  const int64_t first = c.ends[c.cycleFrom > 0 ? c.cycleFrom - 1 : 0].frame;
  const int64_t base = at_rate(s, first);
  const int64_t top = first > INT64_MAX - c.cycleFrames ? -1 : at_rate(s, first + c.cycleFrames);
  if (base < 0 || top <= base || frame < top) return frame;
  return base + (frame - base) % (top - base);
}

// The player back at the start of its course, nothing mixed.
void restart(vxm_song* s) {
  xm_start_song(&s->player);
  const XmCourse& c = active_course(s);
  if (c.startOrder > 0 || c.startRow > 0) {
    s->player.nextOrder = c.startOrder;
    s->player.nextRow = c.startRow;
  }
  s->block = -1;
  s->blockUsed = 0;
  s->tickCount = 0;
  s->reported = 0;
  s->mixed = 0;
  s->shift = 0;
  s->behind = false;
}

// Plays on, unheard, to mixed frame `target` (not before the current one):
// the blocks before the one that holds it only move the voices on.
void mix_to(vxm_song* s, int64_t target) {
  const MixOutput& out = s->player.output;
  while (s->mixed < target) {
    if (s->block < 0 || s->blockUsed == out.blockFrames) {
      s->block = out.fillBlock;
      if (target - s->mixed <= out.blockFrames) {
        mix_fill_block(&s->player);
      } else {
        mix_fill_block_unheard(&s->player);
      }
      s->blockUsed = 0;
    }
    const int64_t left = target - s->mixed;
    const int32_t n = left < out.blockFrames - s->blockUsed ? static_cast<int32_t>(left) : out.blockFrames - s->blockUsed;
    s->blockUsed += n;
    s->mixed += n;
  }
}

// The end of the last play, reached without playing to it.
void land_at_end(vxm_song* s) {
  XmPlayEnd end{};
  xm_course_end(active_course(s), s->playCount, &end);
  s->endState = TickState{};
  s->endState.order = end.order;
  s->endState.row = end.row;
  s->endState.speed = static_cast<int16_t>(end.speed);
  s->endState.tempo = static_cast<int16_t>(end.bpm > INT16_MAX ? INT16_MAX : end.bpm);
  s->mixed = s->endFrame;
  s->shift = 0;
  s->behind = true;
}

// Playback from frame `frame` of its course, in the state rendering from the
// start reaches there (for frames folded back, the same rows of an earlier
// play). Mixes on from where it is when it can.
void go_to(vxm_song* s, int64_t frame) {
  if (s->endFrame >= 0 && frame >= s->endFrame) {
    land_at_end(s);
    return;
  }
  const int64_t target = fold(s, frame);
  if (s->behind || target < s->mixed) restart(s);
  mix_to(s, target);
  s->shift = frame - target;
}

// Where the plays end for the play count; false, changing nothing, when
// that lies beyond int64.
bool settle_end(vxm_song* s) {
  int64_t end;
  if (!end_of_plays(s, s->playCount, &end)) return false;
  s->endFrame = end;
  return true;
}

// Counts the plays from the song's start, or from the fresh course's row
// where `fresh`; false, changing nothing, when their end then lies beyond
// int64.
bool count_from(vxm_song* s, bool fresh) {
  const bool wasFresh = s->playingFresh;
  s->playingFresh = fresh;
  if (settle_end(s)) return true;
  s->playingFresh = wasFresh;
  return false;
}

// The course of the song by `rules` from a row; false when memory runs out.
bool follow_course(const vxm_song* s, const XmRules* rules, int32_t order, int32_t row, XmCourse* course) {
  auto* set = static_cast<XmRowSet*>(xm_allocate(1, sizeof(XmRowSet)));
  const bool followed = set && xm_follow_course(s->song, rules, order, row, set, course);
  if (set) xm_row_set_release(set);
  xm_deallocate(set);
  return followed;
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
}

// The tick that the next frame to be handed out belongs to; null before the
// first tick.
const TickState* current_tick(const vxm_song* s) {
  if (s->behind) return &s->endState;
  const TickState* found = nullptr;
  for (int32_t i = s->tickCount - 1; i >= 0 && i >= s->tickCount - keptTicks; --i) {
    found = &s->ticks[i % keptTicks];
    if (found->frame <= s->mixed) return found;
  }
  return found;
}

// The next row start not yet reported, passing over those a seek skipped;
// null when the mixed frames hold none.
const TickState* next_row_start(vxm_song* s) {
  if (s->reported < s->tickCount - keptTicks) s->reported = s->tickCount - keptTicks;
  for (; s->reported < s->tickCount; ++s->reported) {
    const TickState& t = s->ticks[s->reported % keptTicks];
    if (t.tick == 0 && t.frame >= s->mixed) return &t;
  }
  return nullptr;
}

bool rate_allowed(int rate) { return rate >= VXM_RATE_MIN && rate <= VXM_RATE_MAX; }

bool rate_allowed(int rate, vxm_error* error) {
  if (rate_allowed(rate)) return true;
  set_error(error, VXM_ERROR_ARGUMENT, "the rate must be 8000 to 192000 frames a second");
  return false;
}

int effective_rate(int rate) { return rate == 0 ? VXM_RATE_DEFAULT : rate; }

// Code page 437 above 0x7F, and its pictures for the control codes, as a DOS
// tracker showed a name's bytes.
const uint16_t cp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};
const uint16_t cp437Low[32] = {
    0x0000, 0x263A, 0x263B, 0x2665, 0x2666, 0x2663, 0x2660, 0x2022, 0x25D8, 0x25CB, 0x25D9,
    0x2642, 0x2640, 0x266A, 0x266B, 0x263C, 0x25BA, 0x25C4, 0x2195, 0x203C, 0x00B6, 0x00A7,
    0x25AC, 0x21A8, 0x2191, 0x2193, 0x2192, 0x2190, 0x221F, 0x2194, 0x25B2, 0x25BC};

uint16_t cp437(uint8_t byte) {
  if (byte >= 0x80) return cp437High[byte - 0x80];
  if (byte < 0x20) return cp437Low[byte];
  return byte == 0x7F ? 0x2302 : byte;
}

// Writes `raw` as UTF-8 to `out` (when not null); returns the bytes, the
// terminator included.
size_t utf8_name(const char* raw, char* out) {
  size_t n = 0;
  for (const char* c = raw; *c; ++c) {
    const uint16_t code = cp437(static_cast<uint8_t>(*c));
    uint8_t bytes[3];
    int count = 1;
    if (code < 0x80) {
      bytes[0] = static_cast<uint8_t>(code);
    } else if (code < 0x800) {
      bytes[0] = static_cast<uint8_t>(0xC0 | code >> 6);
      bytes[1] = static_cast<uint8_t>(0x80 | (code & 0x3F));
      count = 2;
    } else {
      bytes[0] = static_cast<uint8_t>(0xE0 | code >> 12);
      bytes[1] = static_cast<uint8_t>(0x80 | (code >> 6 & 0x3F));
      bytes[2] = static_cast<uint8_t>(0x80 | (code & 0x3F));
      count = 3;
    }
    for (int i = 0; i < count; ++i, ++n) {
      if (out) out[n] = static_cast<char>(bytes[i]);
    }
  }
  if (out) out[n] = '\0';
  return n + 1;
}

// Each raw name of the song, in the order of Names::at.
template <typename Visit>
void each_raw_name(const XmSong* song, Visit visit) {
  visit(song->title);
  visit(song->tracker);
  for (int i = 0; i < song->instrumentCount; ++i) visit(song->instruments[i].name);
  for (int i = 0; i < song->instrumentCount; ++i) {
    const XmInstrument& ins = song->instruments[i];
    for (int n = 0; n < ins.sampleCount; ++n) visit(ins.samples[n]->name);
  }
}

bool make_names(const XmSong* song, Names* names) {
  size_t count = 0, bytes = 0;
  each_raw_name(song, [&](const char* raw) {
    ++count;
    bytes += utf8_name(raw, nullptr);
  });
  names->at = static_cast<const char**>(xm_allocate(count, sizeof(const char*)));
  names->text = static_cast<char*>(xm_allocate(bytes, 1));
  if (!names->at || !names->text) return false;
  size_t i = 0, at = 0;
  each_raw_name(song, [&](const char* raw) {
    names->at[i++] = names->text + at;
    at += utf8_name(raw, names->text + at);
  });
  return true;
}

// Index of a name in Names::at, or -1.
int name_index(const vxm_song* s, vxm_name which, int instrument, int sample) {
  if (!s) return -1;
  const XmSong& song = *s->song;
  switch (which) {
    case VXM_NAME_TITLE: return 0;
    case VXM_NAME_TRACKER: return 1;
    case VXM_NAME_INSTRUMENT: return instrument >= 0 && instrument < song.instrumentCount ? 2 + instrument : -1;
    case VXM_NAME_SAMPLE: {
      if (instrument < 0 || instrument >= song.instrumentCount) return -1;
      if (sample < 0 || sample >= song.instruments[instrument].sampleCount) return -1;
      int index = 2 + song.instrumentCount;
      for (int i = 0; i < instrument; ++i) index += song.instruments[i].sampleCount;
      return index + sample;
    }
  }
  return -1;
}

const char* raw_name(const vxm_song* s, vxm_name which, int instrument, int sample) {
  if (name_index(s, which, instrument, sample) < 0) return "";
  const XmSong& song = *s->song;
  switch (which) {
    case VXM_NAME_TITLE: return song.title;
    case VXM_NAME_TRACKER: return song.tracker;
    case VXM_NAME_INSTRUMENT: return song.instruments[instrument].name;
    case VXM_NAME_SAMPLE: return song.instruments[instrument].samples[sample]->name;
  }
  return "";
}

const char* utf8(const vxm_song* s, vxm_name which, int instrument = 0, int sample = 0) {
  const int index = name_index(s, which, instrument, sample);
  return index < 0 ? "" : s->names.at[index];
}

// What a cut file lacks, in words.
void describe_cut(const XmCut& cut, char* out, size_t capacity) {
  static const char* const where[] = {"",
                                      "in the module header",
                                      "in pattern",
                                      "before pattern",
                                      "in instrument",
                                      "before instrument",
                                      "in the sample data of instrument",
                                      "in the data after the module"};
  const auto place = static_cast<size_t>(cut.place);
  if (cut.place == XmCutPlace::none || place >= sizeof where / sizeof where[0]) {
    out[0] = '\0';
  } else if (cut.count > 0) {
    std::snprintf(out, capacity, "the file is cut short: it ends %s %d of %d; what is missing is silent", where[place],
                  static_cast<int>(cut.number), static_cast<int>(cut.count));
  } else {
    std::snprintf(out, capacity, "the file is cut short: it ends %s; what is missing is silent", where[place]);
  }
}

void release(vxm_song* s) {
  xm_player_release(&s->player);
  xm_release_song(s->song);
  xm_deallocate(s->scaled);
  xm_deallocate(s->names.at);
  xm_deallocate(s->names.text);
  xm_deallocate(s);
}

// A song around a loaded module, or null (freeing the module).
vxm_song* make_song(XmSong* loaded, const XmLoadError& failure, int rate, vxm_error* error) {
  if (!loaded) {
    set_error(error, status_of(failure.kind), failure.message);
    return nullptr;
  }
  auto* s = static_cast<vxm_song*>(xm_allocate(1, sizeof(vxm_song)));
  if (s) new (s) vxm_song{};
  auto* set = static_cast<XmRowSet*>(xm_allocate(1, sizeof(XmRowSet)));
  bool made = s && set;
  if (s) s->song = loaded;
  if (made) made = xm_player_init(&s->player, loaded, rate);
  if (made) {
    s->scaled = static_cast<float*>(xm_allocate(2 * static_cast<size_t>(s->player.output.blockFrames), sizeof(float)));
    made = s->scaled && make_names(loaded, &s->names) &&
           xm_follow_course(loaded, s->player.rules, 0, 0, set, &s->course);
  }
  if (set) xm_row_set_release(set);
  xm_deallocate(set);
  if (!made) {
    if (s) {
      release(s);
    } else {
      xm_release_song(loaded);
    }
    set_error(error, VXM_ERROR_MEMORY, "out of memory");
    return nullptr;
  }
  s->player.host = s;
  s->player.tickHandler = library_tick;
  s->gain = 1.0f;
  s->playCount = 1;
  describe_cut(failure.cut, s->warning, sizeof s->warning);
  restart(s);
  settle_end(s);  // one play always fits
  set_error(error, VXM_OK, s->warning);
  return s;
}

// Hands out up to `frames` frames: each call of `take` gets a run of the
// current block. Row callbacks are made as their first frame comes up.
// Returns the frames handed out.
template <typename Take>
size_t render(vxm_song* s, size_t frames, Take take) {
  ++s->rendering;
  size_t done = 0;
  while (done < frames && !s->freeAfterRender) {
    if (s->endFrame >= 0 && handed_out(s) >= s->endFrame) break;
    if (s->behind) go_to(s, handed_out(s));  // more plays than when it landed at the end
    const MixOutput& out = s->player.output;
    if (s->block < 0 || s->blockUsed == out.blockFrames) {
      s->block = out.fillBlock;
      mix_fill_block(&s->player);
      s->blockUsed = 0;
    }
    const TickState* row = next_row_start(s);
    if (row && row->frame == s->mixed) {
      ++s->reported;
      if (s->onRow) {
        // The callback may seek, change the rate or free the song: every
        // value is looked at anew afterwards.
        s->onRow(s->onRowUser, row->order, row->row, row->frame + s->shift);
      }
      continue;
    }
    int64_t n = out.blockFrames - s->blockUsed;
    if (static_cast<int64_t>(frames - done) < n) n = static_cast<int64_t>(frames - done);
    if (s->endFrame >= 0 && s->endFrame - handed_out(s) < n) n = s->endFrame - handed_out(s);
    if (row && row->frame - s->mixed < n) n = row->frame - s->mixed;
    const int64_t at = static_cast<int64_t>(s->block) * out.blockFrames + s->blockUsed;
    take(at, done, static_cast<int32_t>(n));
    s->blockUsed += static_cast<int32_t>(n);
    s->mixed += n;
    done += static_cast<size_t>(n);
  }
  if (--s->rendering == 0 && s->freeAfterRender) release(s);
  return done;
}

bool valid_instrument(const vxm_song* s, int i) { return s && i >= 0 && i < s->song->instrumentCount; }

// Where playback first reaches order position `order` (row `row`, or any
// row for -1) from the song's start, in frames at the song's rate; -1 when
// it never does in its first play.
int64_t first_visit(const vxm_song* s, int order, int row) {
  struct Wanted {
    int32_t order, row;
    int64_t frame;
  } wanted{order, row, -1};
  const XmCourse& c = s->course;
  xm_course_walk(
      s->song, c, c.ends[0].frame,
      [](void* user, int64_t frame, int32_t o, int32_t r) {
        auto* w = static_cast<Wanted*>(user);
        if (o != w->order || (w->row >= 0 && r != w->row)) return false;
        w->frame = frame;
        return true;
      },
      &wanted);
  return wanted.frame < 0 ? -1 : at_rate(s, wanted.frame);
}

vxm_status seek_position(vxm_song* s, int order, int row) {
  if (!s || order < 0 || order >= s->song->songLength) return VXM_ERROR_ARGUMENT;
  const XmPattern& pattern = s->song->patterns[s->song->orders[order]];
  if (row < -1 || row >= pattern.rows) return VXM_ERROR_ARGUMENT;
  const int64_t frame = first_visit(s, order, row);
  if (frame >= 0) {
    const bool wasFresh = s->playingFresh;
    if (!count_from(s, false)) return VXM_ERROR_ARGUMENT;
    if (wasFresh) s->behind = true;
    go_to(s, frame);
    return VXM_OK;
  }
  // A row the start never reaches: playback starts there as a song starts,
  // and counts from there.
  const int32_t startRow = row < 0 ? 0 : row;
  if (!s->freshKnown || s->fresh.startOrder != order || s->fresh.startRow != startRow) {
    XmCourse course;
    if (!follow_course(s, s->player.rules, order, startRow, &course)) return VXM_ERROR_MEMORY;
    const XmCourse old = s->fresh;
    s->fresh = course;
    if (!count_from(s, true)) {
      s->fresh = old;
      return VXM_ERROR_ARGUMENT;
    }
    s->freshKnown = true;
  } else if (!count_from(s, true)) {
    return VXM_ERROR_ARGUMENT;
  }
  restart(s);
  return VXM_OK;
}

}  // namespace

extern "C" {

int vxm_version(void) { return VXM_VERSION; }
const char* vxm_version_string(void) { return VXM_VERSION_STRING; }

vxm_status vxm_probe(const void* data, size_t size, vxm_error* error) {
  if (!data && size != 0) {
    set_error(error, VXM_ERROR_ARGUMENT, "no data");
    return VXM_ERROR_ARGUMENT;
  }
  XmLoadError failure{};
  if (!xm_probe_module(static_cast<const uint8_t*>(data), size, &failure)) {
    set_error(error, VXM_ERROR_FORMAT, failure.message);
    return VXM_ERROR_FORMAT;
  }
  set_error(error, VXM_OK, "");
  return VXM_OK;
}

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
  if (io->rewind(user) == 0) {
    set_error(error, VXM_ERROR_READ, "cannot read: the rewind callback failed");
    return nullptr;
  }
  struct Source {
    const vxm_io* io;
    void* user;
  } source{io, user};
  XmLoadError failure{};
  XmSong* loaded = xm_load_reader(
      [](void* handle, void* buffer, size_t bytes) -> size_t {
        const auto* src = static_cast<Source*>(handle);
        const size_t got = src->io->read(src->user, buffer, bytes);
        return got == VXM_IO_ERROR ? XM_READ_ERROR : got;
      },
      &source, nullptr, &failure);
  if (!loaded && failure.kind == XmLoadFailure::read) {
    set_error(error, VXM_ERROR_READ, "cannot read: the read callback reported an error");
    return nullptr;
  }
  return make_song(loaded, failure, rate, error);
}

void vxm_free(vxm_song* s) {
  if (!s) return;
  // From a callback: once the rendering that made it has ended.
  if (s->rendering > 0) {
    s->freeAfterRender = true;
    return;
  }
  release(s);
}

size_t vxm_render_s16(vxm_song* s, int16_t* buffer, size_t frames) {
  if (!s || !buffer || s->freeAfterRender) return 0;
  return render(s, frames, [s, buffer](int64_t at, size_t done, int32_t n) {
    const MixOutput& out = s->player.output;
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
  if (!s || !buffer || s->freeAfterRender) return 0;
  return render(s, frames, [s, buffer](int64_t at, size_t done, int32_t n) {
    const float scale = s->gain / 32768.0f;
    const float* mix = s->player.output.mixBuffer + 2 * at;
    float* to = buffer + 2 * done;
    for (int32_t i = 0; i < 2 * n; ++i) to[i] = mix[i] * scale;
  });
}

const char* vxm_warning(const vxm_song* s) { return s ? s->warning : ""; }

const char* vxm_title(const vxm_song* s) { return utf8(s, VXM_NAME_TITLE); }
const char* vxm_tracker(const vxm_song* s) { return utf8(s, VXM_NAME_TRACKER); }
const char* vxm_instrument_name(const vxm_song* s, int i) { return utf8(s, VXM_NAME_INSTRUMENT, i); }
const char* vxm_sample_name(const vxm_song* s, int i, int n) { return utf8(s, VXM_NAME_SAMPLE, i, n); }
const char* vxm_name_bytes(const vxm_song* s, vxm_name which, int instrument, int sample) {
  return raw_name(s, which, instrument, sample);
}

int vxm_channel_count(const vxm_song* s) { return s ? s->song->channelCount : 0; }
int vxm_pattern_count(const vxm_song* s) { return s ? s->song->patternCount : 0; }
int vxm_instrument_count(const vxm_song* s) { return s ? s->song->instrumentCount : 0; }

int vxm_sample_count(const vxm_song* s) {
  int n = 0;
  for (int i = 0; s && i < s->song->instrumentCount; ++i) n += s->song->instruments[i].sampleCount;
  return n;
}

int vxm_instrument_sample_count(const vxm_song* s, int i) {
  return valid_instrument(s, i) ? s->song->instruments[i].sampleCount : 0;
}

int vxm_linear_frequencies(const vxm_song* s) { return s && (s->song->flags & XM_FLAG_LINEAR) ? 1 : 0; }
int vxm_order_count(const vxm_song* s) { return s ? s->song->songLength : 0; }

int vxm_order_pattern(const vxm_song* s, int position) {
  return s && position >= 0 && position < s->song->songLength ? s->song->orders[position] : 0;
}

int vxm_rate(const vxm_song* s) { return s ? rate_of(s) : 0; }

int64_t vxm_length_ms(const vxm_song* s) {
  if (!s) return 0;
  XmPlayEnd end;
  xm_course_end(s->course, 1, &end);
  return at_rate(s, end.frame) * 1000 / rate_of(s);
}

vxm_length vxm_measure(const vxm_song* s, int plays, int64_t capFrames) {
  const vxm_length failed{-1, 0, 0, 0};
  if (!s) return failed;
  XmPlayEnd end;
  const bool inRange = xm_course_end(s->course, plays < 1 ? 1 : plays, &end);
  const int64_t frames = inRange ? at_rate(s, end.frame) : -1;
  if (capFrames < 0) {
    if (frames < 0) return failed;
    return vxm_length{frames, end.order, end.row, s->course.ended ? 1 : 0};
  }
  if (frames >= 0 && frames < capFrames) return vxm_length{frames, end.order, end.row, s->course.ended ? 1 : 0};
  // The row playing at the cap, found among the same rows of an earlier play.
  const int32_t rate = rate_of(s);
  const int64_t seconds = capFrames / rate;
  int64_t timeline = seconds > INT64_MAX / XM_TIMELINE_RATE - 1
                         ? INT64_MAX
                         : seconds * XM_TIMELINE_RATE + capFrames % rate * XM_TIMELINE_RATE / rate;
  timeline = xm_course_fold(s->course, timeline);
  int32_t at[2] = {0, 0};
  xm_course_walk(
      s->song, s->course, timeline,
      [](void* user, int64_t, int32_t order, int32_t row) {
        static_cast<int32_t*>(user)[0] = order;
        static_cast<int32_t*>(user)[1] = row;
        return false;
      },
      at);
  return vxm_length{capFrames, at[0], at[1], 0};
}

int vxm_order(const vxm_song* s) {
  const TickState* t = s ? current_tick(s) : nullptr;
  return t ? t->order : (s ? active_course(s).startOrder : 0);
}
int vxm_row(const vxm_song* s) {
  const TickState* t = s ? current_tick(s) : nullptr;
  return t ? t->row : (s ? active_course(s).startRow : 0);
}
int vxm_tick(const vxm_song* s) {
  const TickState* t = s ? current_tick(s) : nullptr;
  return t ? t->tick : 0;
}

int64_t vxm_time_ms(const vxm_song* s) {
  if (!s) return 0;
  const int64_t frames = handed_out(s);
  return frames / rate_of(s) * 1000 + frames % rate_of(s) * 1000 / rate_of(s);
}

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

vxm_status vxm_seek_order(vxm_song* s, int order) { return seek_position(s, order, -1); }

vxm_status vxm_seek_row(vxm_song* s, int order, int row) {
  if (row < 0) return VXM_ERROR_ARGUMENT;
  return seek_position(s, order, row);
}

vxm_status vxm_seek_ms(vxm_song* s, int64_t ms) {
  if (!s || ms < 0) return VXM_ERROR_ARGUMENT;
  const int32_t rate = rate_of(s);
  if (ms > (INT64_MAX - 999) / rate) return VXM_ERROR_ARGUMENT;
  const bool wasFresh = s->playingFresh;
  if (!count_from(s, false)) return VXM_ERROR_ARGUMENT;
  if (wasFresh) s->behind = true;
  // The first frame at or after the time, so that vxm_time_ms reads it back.
  go_to(s, (ms * rate + 999) / 1000);
  return VXM_OK;
}

vxm_status vxm_set_play_count(vxm_song* s, int count) {
  if (!s) return VXM_ERROR_ARGUMENT;
  const int old = s->playCount;
  s->playCount = count < 0 ? 0 : count;
  if (!settle_end(s)) {
    s->playCount = old;
    return VXM_ERROR_ARGUMENT;
  }
  return VXM_OK;
}

int vxm_ended(const vxm_song* s) { return s && s->endFrame >= 0 && handed_out(s) >= s->endFrame ? 1 : 0; }

vxm_status vxm_set_rate(vxm_song* s, int rate) {
  rate = effective_rate(rate);
  if (!s || !rate_allowed(rate)) return VXM_ERROR_ARGUMENT;
  const int32_t old = rate_of(s);
  if (rate == old) return VXM_OK;
  // Everything that can fail first, so that a failure leaves the song as it was.
  MixOutput output{};
  if (!mix_output_init(&output, rate)) return VXM_ERROR_MEMORY;
  auto* scaled = static_cast<float*>(xm_allocate(2 * static_cast<size_t>(output.blockFrames), sizeof(float)));
  if (!scaled) {
    mix_output_release(&output);
    return VXM_ERROR_MEMORY;
  }
  const int64_t frames = handed_out(s);
  const int64_t at = frames / old * rate + frames % old * rate / old;
  const XmMixRate mix = s->player.mix;
  s->player.mix = xm_mix_rate(rate);
  int64_t end = -1;
  if (!end_of_plays(s, s->playCount, &end)) {
    s->player.mix = mix;
    mix_output_release(&output);
    xm_deallocate(scaled);
    return VXM_ERROR_ARGUMENT;
  }
  mix_output_release(&s->player.output);
  s->player.output = output;
  xm_deallocate(s->scaled);
  s->scaled = scaled;
  s->endFrame = end;
  s->behind = true;
  go_to(s, at);
  return VXM_OK;
}

vxm_status vxm_set_rules(vxm_song* s, vxm_rules rules) {
  if (!s || (rules != VXM_RULES_PLAYER && rules != VXM_RULES_TRACKER)) return VXM_ERROR_ARGUMENT;
  const XmRules* chosen = rules == VXM_RULES_TRACKER ? &xmTrackerRules : &xmPlayerRules;
  // Where the plays end can move with the rules: the course is followed
  // anew, before anything changes.
  XmCourse course;
  if (!follow_course(s, chosen, 0, 0, &course)) return VXM_ERROR_MEMORY;
  const XmCourse old = s->course;
  s->course = course;
  if (!count_from(s, false)) {
    s->course = old;
    return VXM_ERROR_ARGUMENT;
  }
  s->player.rules = chosen;
  s->freshKnown = false;
  restart(s);
  return VXM_OK;
}

vxm_rules vxm_get_rules(const vxm_song* s) {
  return s && s->player.rules == &xmTrackerRules ? VXM_RULES_TRACKER : VXM_RULES_PLAYER;
}

vxm_status vxm_mute_channel(vxm_song* s, int channel, int muted) {
  if (!s || channel < 0 || channel >= s->song->channelCount || channel >= XM_CHANNELS) return VXM_ERROR_ARGUMENT;
  const uint32_t bit = uint32_t{1} << channel;
  if (muted) {
    s->muted |= bit;
    silence_muted(s);
    return VXM_OK;
  }
  if (!(s->muted & bit)) return VXM_OK;
  s->muted &= ~bit;
  // Heard again at the levels the engine last set.
  for (MixVoice* v : {&s->player.voices[channel], &s->player.voices[xm_partner_voice(channel)]}) {
    s->player.rules->levels(*v);
  }
  return VXM_OK;
}

vxm_status vxm_set_gain(vxm_song* s, float gain) {
  if (!s || std::isnan(gain) || std::isinf(gain)) return VXM_ERROR_ARGUMENT;
  s->gain = gain > 0.0f ? gain : 0.0f;
  return VXM_OK;
}

vxm_status vxm_set_row_callback(vxm_song* s, vxm_row_callback callback, void* user) {
  if (!s) return VXM_ERROR_ARGUMENT;
  s->onRow = callback;
  s->onRowUser = user;
  return VXM_OK;
}

int vxm_use_mixer(const char* name) {
  for (MixPath p : {MixPath::Best, MixPath::Scalar, MixPath::Portable, MixPath::Sse2, MixPath::Avx2, MixPath::Avx512}) {
    if (name && std::strcmp(name, mix_path_name(p)) == 0) return mix_use_path(p) ? 1 : 0;
  }
  return -1;
}

const char* vxm_mixer(void) { return mix_path_name(mix_path()); }

}  // extern "C"
