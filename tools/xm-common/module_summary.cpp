#include "module_summary.h"

#include <cstdio>

#include "output_file.h"
#include "tool_cli.h"

vxm_song* load_module(const std::string& path, int rate) {
  const std::string unreadable = unreadable_input(path);
  if (!unreadable.empty()) {
    cli::fail(path, unreadable);
    return nullptr;
  }
  vxm_error error;
  vxm_song* song = vxm_load_file(path.c_str(), rate, &error);
  if (!song) cli::fail(path, error.message);
  return song;
}

// Titles come in any 8-bit code page; the line stays plain ASCII.
std::string module_title(const vxm_song* song) { return cli::printable(vxm_title(song), true); }

std::string format_duration(int64_t frames, int rate) {
  const int64_t seconds = (frames + rate / 2) / rate;
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                static_cast<long long>(seconds % 60));
  return text;
}

namespace {

std::string count(int n, const char* what) {
  return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

}  // namespace

std::string module_summary(const vxm_song* song, const vxm_length& length, int rate) {
  const std::string title = module_title(song);
  return "\"" + title + "\", " + count(vxm_channel_count(song), "channel") + ", " +
         count(vxm_pattern_count(song), "pattern") + ", " + count(vxm_instrument_count(song), "instrument") + ", " +
         format_duration(length.frames, rate) + (length.ended ? "" : " (no end)") + ", " +
         (vxm_linear_frequencies(song) ? "linear" : "Amiga");
}
