// xm-play: plays XM modules one after the other through the intro's own
// output device and mixing thread, each once through to its end.
//
//   xm-play IN.xm...
//
// On a terminal one status line redraws in place: title, order and row,
// elapsed and total time, and a level meter per group of channels. Keys:
// space pauses, left and right skip back or forward a few orders, n goes to
// the next file, q or Escape quits.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "module_summary.h"
#include "music/music.h"
#include "music/xm_engine.h"
#include "music/xm_length.h"
#include "music/xm_loader.h"
#include "music/xm_output.h"
#include "shell/wave_device.h"
#include "terminal.h"
#include "tool_cli.h"

namespace {

const char usageText[] =
    "usage: xm-play IN.xm...\n"
    "  plays the modules one after the other, each once through\n"
    "  keys: space pause, left/right skip orders, n next file, q or Escape quit\n"
    "  Ctrl-C ends it with status 130, SIGTERM with 143\n"
    "  --help, --version\n";

constexpr int skipOrders = 4;
constexpr int meterGroups = 8;
constexpr int meterSlots = 1024;

// Shared with the output thread, which runs play_tick. The thread writes
// endMs and the meter slots; the controlling thread writes skip.
struct Playing {
  XmTickHandler engineTick = nullptr;
  std::atomic<int32_t> skip{0};
  std::atomic<int32_t> endMs{-1};  // mixing time at which the song came back
  // Per tick: mixing time (high 32 bits) and one 4-bit level per group,
  // and what to add to the mixing time to get the song's position (it
  // changes when a skip jumps).
  std::atomic<uint64_t> meters[meterSlots];
  std::atomic<int32_t> offsets[meterSlots];
  int32_t offsetMs = 0;  // output thread only
  // Where each order position first starts when the song plays from its
  // beginning, in ms; -1 where that is not known.
  int32_t orderStartMs[256];
  int meterNext = 0;   // output thread only
  XmRowStates states;  // output thread only
};
Playing playing;

uint32_t group_levels(const XmSong* song) {
  const int count = std::min<int>(song->channelCount, XM_CHANNELS);
  const int groups = std::min(count, meterGroups);
  int levels[meterGroups] = {};
  for (int i = 0; i < count; ++i) {
    const MixVoice* v = channels[i].voice;
    const int level = v && v->sample ? std::min(v->volume, 127) : 0;
    int& g = levels[i * groups / count];
    g = std::max(g, level);
  }
  uint32_t packed = 0;
  for (int g = 0; g < groups; ++g) packed |= static_cast<uint32_t>((levels[g] * 15 + 126) / 127) << (4 * g);
  return packed;
}

// The song's tick on the output thread: applies skips at row starts, notes
// where the song first comes back to a row it already played, and records
// the channel levels with the time they will be heard at.
void play_tick(XmSong* song) {
  const bool rowTick = song->tick == 0;
  bool skipped = false;
  int32_t loopRow[XM_CHANNELS] = {}, loopCount[XM_CHANNELS] = {};
  const int count = std::min<int>(song->channelCount, XM_CHANNELS);
  if (rowTick) {
    const int32_t skip = playing.skip.exchange(0);
    skipped = skip != 0;
    if (skip != 0) {
      const int32_t from = song->nextOrder >= 0 ? song->nextOrder : song->order;
      song->nextOrder = std::clamp(from + skip, 0, song->songLength - 1);
      song->nextRow = 0;
      // Rows before the jump no longer count towards the song's end.
      playing.states.clear();
    }
    for (int i = 0; i < count; ++i) {
      loopRow[i] = channels[i].loopRow;
      loopCount[i] = channels[i].loopCount;
    }
  }
  const int32_t startMs = song->timeMs;
  playing.engineTick(song);
  // After a skip the clock shows where in the song playback now is.
  if (skipped && song->order >= 0 && song->order < 256 && playing.orderStartMs[song->order] >= 0) {
    playing.offsetMs = playing.orderStartMs[song->order] - startMs;
  }
  if (rowTick && playing.endMs.load(std::memory_order_relaxed) < 0 &&
      playing.states.revisit(song->order, song->row, loopRow, loopCount, count)) {
    playing.endMs.store(startMs, std::memory_order_release);
  }
  const uint64_t slot = uint64_t{static_cast<uint32_t>(startMs)} << 32 | group_levels(song);
  playing.offsets[playing.meterNext].store(playing.offsetMs, std::memory_order_relaxed);
  playing.meters[playing.meterNext].store(slot, std::memory_order_release);
  playing.meterNext = (playing.meterNext + 1) % meterSlots;
}

// Levels of the latest tick that is being heard at `heardMs`, and the
// offset from mixing time to the song's position then.
uint32_t heard_levels(int32_t heardMs, int32_t* offsetMs) {
  int64_t best = -1;
  uint32_t levels = 0;
  *offsetMs = 0;
  for (int i = 0; i < meterSlots; ++i) {
    const uint64_t v = playing.meters[i].load(std::memory_order_acquire);
    const auto at = static_cast<int32_t>(v >> 32);
    if (v != 0 && at <= heardMs && at > best) {
      best = at;
      levels = static_cast<uint32_t>(v);
      *offsetMs = playing.offsets[i].load(std::memory_order_relaxed);
    }
  }
  return levels;
}

// Where each order position first starts, from a copy of the song played
// unheard from its beginning (the first ten minutes at most, which is
// quick; later positions keep the running clock).
void find_order_starts(vxm_song* facts) {
  std::fill(std::begin(playing.orderStartMs), std::end(playing.orderStartMs), -1);
  vxm_set_row_callback(
      facts,
      [](void*, int order, int, int64_t frame) {
        if (order >= 0 && order < 256 && playing.orderStartMs[order] < 0) {
          playing.orderStartMs[order] = static_cast<int32_t>(frame * 1000 / 44100);
        }
      },
      nullptr);
  std::vector<int16_t> scratch(2 * 44100);
  for (int second = 0; second < 600 && vxm_render_s16(facts, scratch.data(), 44100) > 0; ++second) {
  }
  vxm_set_row_callback(facts, nullptr, nullptr);
}

std::string clock(int64_t ms) {
  char text[32];
  const int64_t s = ms / 1000;
  std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(s / 60), static_cast<long long>(s % 60));
  return text;
}

size_t lastStatusWidth = 0;

// The status line within `columns`: it stays off the last column, where a
// terminal wraps it and every redraw would scroll a new line. The title gives
// way first, then the end of the facts (the meter before the clock).
std::string fit_status(const std::string& title, const std::string& facts, int columns) {
  const size_t room = columns > 1 ? static_cast<size_t>(columns - 1) : 0;
  if (title.size() + 2 + facts.size() <= room) return title + "  " + facts;
  if (facts.size() + 3 <= room) return title.substr(0, room - facts.size() - 3) + "~  " + facts;
  return facts.substr(0, room);
}

void show_status(const std::string& title, XmSong* song, const XmSongLength& length, bool paused) {
  const int32_t heard = xm_get_time(song);
  const int groups = std::min<int>(song->channelCount, meterGroups);
  int32_t offsetMs = 0;
  const uint32_t levels = heard_levels(heard, &offsetMs);
  static const char shades[] = " .:-=+*#%@";
  std::string meter;
  for (int g = 0; g < groups; ++g) meter.push_back(shades[((levels >> (4 * g)) & 15) * 9 / 15]);
  char position[48];
  std::snprintf(position, sizeof position, "%3d/%d %02d", xm_get_order(song), song->songLength, xm_get_row(song));
  const std::string facts = std::string(position) + "  " + clock(std::max(heard + offsetMs, 0)) + " / " +
                            clock(length.frames * 1000 / mixRate) + "  [" + meter + "]" + (paused ? "  paused" : "");
  const int columns = terminal_columns();
  std::string line = fit_status(title.empty() ? "(untitled)" : title, facts, columns);
  const size_t width = line.size();
  // Blanks over the rest of a longer line drawn before, never past the edge.
  const size_t clear = std::min(lastStatusWidth, static_cast<size_t>(std::max(columns - 1, 0)));
  if (line.size() < clear) line.append(clear - line.size(), ' ');
  lastStatusWidth = width;
  std::printf("\r%s", line.c_str());
  std::fflush(stdout);
}

enum class Outcome { finished, next, quit, deviceFailed };

Outcome play(const char* path, XmSong* song, const std::string& title, const XmSongLength& length, bool status) {
  playing.engineTick = song->tickHandler;
  song->tickHandler = play_tick;
  playing.skip.store(0);
  playing.endMs.store(-1);
  for (auto& m : playing.meters) m.store(0);
  playing.offsetMs = 0;
  playing.meterNext = 0;
  playing.states.clear();
  if (!xm_play(song)) {
    cli::fail(path, "cannot open the audio device");
    return Outcome::deviceFailed;
  }
  lastStatusWidth = 0;
  bool paused = false, ending = false;
  Outcome outcome = Outcome::finished;
  for (;;) {
    if (status) show_status(title, song, length, paused);
    // The block being heard has reached the end; it plays out (20 ms) by the
    // next look, one wait later.
    if (ending && !paused) break;
    const int32_t end = playing.endMs.load(std::memory_order_acquire);
    ending = end >= 0 && xm_get_time(song) >= end;
    const Key key = terminal_key(50);
    if (key == Key::quit) {
      outcome = Outcome::quit;
      break;
    }
    if (key == Key::next) {
      outcome = Outcome::next;
      break;
    }
    if (key == Key::pause && xm_pause(song, !paused)) paused = !paused;
    if (key == Key::forward) playing.skip.fetch_add(skipOrders);
    if (key == Key::back) playing.skip.fetch_sub(skipOrders);
  }
  xm_stop(song);
  if (status) {
    show_status(title, song, length, false);
    std::printf("\n");
    std::fflush(stdout);
  }
  return outcome;
}

}  // namespace

int main(int argc, char** argv) {
  if (const int status = cli::start("xm-play", argc, argv, usageText); status >= 0) return status;
  std::vector<std::string> files;
  cli::Args args(argc, argv);
  while (args.next()) {
    if (args.is_option()) return cli::usage_error(args.word(), "unknown option");
    files.push_back(args.word());
  }
  music_use_stdio_files();
  xm_set_wave_device(music_wave_device());
  const bool status = terminal_has_status();
  terminal_open();
  int result = 0;
  for (const std::string& file : files) {
    const char* path = file.c_str();
    // The summary from the library; the song itself plays through the
    // intro's own output thread and device.
    vxm_song* facts = load_module(file);
    XmSong* song = facts ? xm_load(path, nullptr) : nullptr;
    if (!song) {
      if (facts) cli::fail(file, xm_last_error());
      vxm_free(facts);
      result = 1;
      continue;
    }
    const std::string title = module_title(facts);
    const XmSongLength length = xm_song_length(song);
    std::printf("%s: %s\n", path, module_summary(facts, vxm_measure(facts, 1, -1)).c_str());
    find_order_starts(facts);
    vxm_free(facts);
    std::fflush(stdout);
    const Outcome outcome = play(path, song, title, length, status);
    xm_free(song);
    if (outcome == Outcome::quit) {
      result = 0;
      break;
    }
    if (outcome == Outcome::deviceFailed) {
      result = 1;
      break;
    }
  }
  terminal_close();
  if (const int interrupted = terminal_interrupt_status()) return interrupted;
  return result;
}
