#include "module_summary.h"

#include <cstdio>

#include "music/xm_engine.h"
#include "music/xm_loader.h"
#include "output_file.h"
#include "tool_cli.h"

XmSong* load_module(const std::string& path) {
  const std::string unreadable = unreadable_input(path);
  if (!unreadable.empty()) {
    cli::fail(path, unreadable);
    return nullptr;
  }
  XmSong* song = xm_load(path.c_str(), nullptr);
  if (!song) cli::fail(path, xm_last_error());
  return song;
}

std::string module_title(const char* path) {
  std::FILE* f = std::fopen(path, "rb");
  if (!f) return "";
  char raw[20] = {};
  const bool ok = std::fseek(f, 17, SEEK_SET) == 0 && std::fread(raw, 1, sizeof raw, f) == sizeof raw;
  std::fclose(f);
  if (!ok) return "";
  std::string title;
  for (char c : raw) {
    if (c == '\0') break;
    // Titles come in any 8-bit code page; keep the line plain ASCII.
    title.push_back(c >= 0x20 && c < 0x7F ? c : '?');
  }
  while (!title.empty() && title.back() == ' ') title.pop_back();
  return title;
}

std::string format_duration(int64_t frames) {
  const int64_t seconds = (frames + mixRate / 2) / mixRate;
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

std::string module_summary(const std::string& title, const XmSong* song, const XmSongLength& length) {
  return "\"" + title + "\", " + count(song->channelCount, "channel") + ", " +
         count(song->patternCount, "pattern") + ", " + count(song->instrumentCount, "instrument") + ", " +
         format_duration(length.frames) + (length.ended ? "" : " (no end)") + ", " +
         ((song->flags & XM_FLAG_LINEAR) ? "linear" : "Amiga");
}
