// xm-play: plays XM modules one after the other through the intro's own
// wave device, each once through to its end.
//
//   xm-play [--rules player|tracker] IN.xm...
//
// On a terminal one status line redraws in place: title, order and row,
// elapsed and total time, and a level meter per group of channels. Keys:
// space pauses, left and right skip back or forward a few orders, n goes to
// the next file, q or Escape quits.
#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "module_summary.h"
#include "playback.h"
#include "shell/wave_device.h"
#include "terminal.h"
#include "tool_cli.h"

namespace {

const char usageText[] =
    "usage: xm-play [--rules player|tracker] IN.xm...\n"
    "  plays the modules one after the other, each once through\n"
    "  --rules R  player (default): this player's own rules, as the intro plays;\n"
    "             tracker: the rules of the tracker that defined the format, as\n"
    "             the songs' composers heard them\n"
    "  keys: space pause, left/right skip orders, n next file, q or Escape quit\n"
    "  Ctrl-C ends it with status 130, SIGTERM with 143\n"
    "  --help, --version\n";

constexpr int skipOrders = 4;

std::string clock(int64_t ms) {
  char text[32];
  const int64_t s = ms / 1000;
  std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(s / 60), static_cast<long long>(s % 60));
  return text;
}

// The status line within `columns`: it stays off the last column, where a
// terminal wraps it and every redraw would scroll a new line. The title gives
// way first, then the end of the facts (the meter before the clock).
std::string fit_status(const std::string& title, const std::string& facts, int columns) {
  const size_t room = columns > 1 ? static_cast<size_t>(columns - 1) : 0;
  if (title.size() + 2 + facts.size() <= room) return title + "  " + facts;
  if (facts.size() + 3 <= room) return title.substr(0, room - facts.size() - 3) + "~  " + facts;
  return facts.substr(0, room);
}

struct Status {
  std::string title;
  int orders = 0, groups = 0;
  int64_t lengthMs = 0;
  size_t lastWidth = 0;

  void show(const Heard& heard, bool paused) {
    static const char shades[] = " .:-=+*#%@";
    std::string meter;
    for (int g = 0; g < groups; ++g) meter.push_back(shades[((heard.levels >> (4 * g)) & 15) * 9 / 15]);
    char position[48];
    std::snprintf(position, sizeof position, "%3d/%d %02d", heard.order, orders, heard.row);
    const std::string facts = std::string(position) + "  " + clock(std::clamp<int64_t>(heard.ms, 0, lengthMs)) +
                              " / " + clock(lengthMs) + "  [" + meter + "]" + (paused ? "  paused" : "");
    const int columns = terminal_columns();
    std::string line = fit_status(title.empty() ? "(untitled)" : title, facts, columns);
    const size_t width = line.size();
    // Blanks over the rest of a longer line drawn before, never past the edge.
    const size_t clear = std::min(lastWidth, static_cast<size_t>(std::max(columns - 1, 0)));
    if (line.size() < clear) line.append(clear - line.size(), ' ');
    lastWidth = width;
    std::printf("\r%s", line.c_str());
    std::fflush(stdout);
  }
};

enum class Outcome { finished, next, quit, deviceFailed };

Outcome play(vxm_song* song, Status& status, bool showStatus) {
  Playback playback(song, music_wave_device());
  const Playback::Started started = playback.start();
  // The module is fine: what failed is this machine's sound.
  if (started == Playback::Started::noDevice) {
    const std::string reason = music_wave_open_error();
    cli::note("no sound device could be opened" + (reason.empty() ? "" : ": " + reason));
    return Outcome::deviceFailed;
  }
  if (started == Playback::Started::noThread) {
    cli::note("the sound device opened, but no thread could be started to feed it");
    return Outcome::deviceFailed;
  }
  bool paused = false;
  Outcome outcome = Outcome::finished;
  Heard heard = playback.heard();
  for (;;) {
    heard = playback.heard();
    if (showStatus) status.show(heard, paused);
    // The first block after the music is being heard: all of it was.
    if (heard.ended && !paused) break;
    const Key key = terminal_key(50);
    if (key == Key::quit) {
      outcome = Outcome::quit;
      break;
    }
    if (key == Key::next) {
      outcome = Outcome::next;
      break;
    }
    if (key == Key::pause && playback.pause(!paused)) paused = !paused;
    if (key == Key::forward) playback.skip(skipOrders);
    if (key == Key::back) playback.skip(-skipOrders);
  }
  playback.stop();
  if (showStatus) {
    // The line stays as it was last heard.
    status.show(heard, false);
    std::printf("\n");
    std::fflush(stdout);
  }
  return outcome;
}

}  // namespace

int main(int argc, char** argv) {
  if (const int status = cli::start("xm-play", argc, argv, usageText); status >= 0) return status;
  std::vector<std::string> files;
  vxm_rules rules = VXM_RULES_PLAYER;
  cli::Args args(argc, argv);
  std::string value;
  while (args.next()) {
    const std::string& a = args.word();
    if (!args.is_option()) {
      files.push_back(a);
    } else if (a == "--rules") {
      if (!args.value(&value)) return 2;
      if (value != "player" && value != "tracker") return cli::usage_error(a, "'" + value + "' is not player or tracker");
      rules = value == "tracker" ? VXM_RULES_TRACKER : VXM_RULES_PLAYER;
    } else {
      return cli::usage_error(a, "unknown option");
    }
  }
  const bool showStatus = terminal_has_status();
  int result = 0;
  for (const std::string& file : files) {
    // Read once, while a signal can still end the wait for a slow input (a
    // pipe whose writer has not come yet).
    vxm_song* song = load_module(file);
    if (terminal_interrupt_status()) {
      vxm_free(song);
      break;
    }
    if (!song) {
      result = 1;
      continue;
    }
    vxm_set_rules(song, rules);
    const vxm_length length = vxm_measure(song, 1, -1);
    std::printf("%s: %s\n", file.c_str(), module_summary(song, length).c_str());
    std::fflush(stdout);
    Status status;
    status.title = module_title(song);
    status.orders = vxm_order_count(song);
    status.groups = std::min(vxm_channel_count(song), Playback::meterGroups);
    status.lengthMs = length.frames * 1000 / VXM_RATE_DEFAULT;
    terminal_open();
    const Outcome outcome = play(song, status, showStatus);
    terminal_close();
    vxm_free(song);
    if (terminal_interrupt_status()) break;
    if (outcome == Outcome::quit) {
      result = 0;
      break;
    }
    if (outcome == Outcome::deviceFailed) {
      result = 1;
      break;
    }
  }
  if (const int interrupted = terminal_interrupt_status()) return interrupted;
  return result;
}
