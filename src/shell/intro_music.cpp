#include "shell/intro_music.h"

#include <cstring>

#include "music/music.h"
#include "music/xm_loader.h"
#include "music/xm_output.h"
#include "platform/platform.h"
#include "shell/wave_device.h"

namespace {

constexpr char moduleName[] = "2.xm";

}  // namespace

bool music_module_path(std::string_view folder, char* path, std::size_t capacity) {
  if (capacity > 0) path[0] = '\0';
  const std::size_t needed = folder.size() + sizeof(moduleName);  // sizeof counts the terminator
  if (folder.empty() || needed > capacity) return false;
  std::memcpy(path, folder.data(), folder.size());
  std::memcpy(path + folder.size(), moduleName, sizeof(moduleName));
  return true;
}

IntroMusic music_start() {
  char folder[musicPathCapacity];
  char path[musicPathCapacity];
  if (!platform::executable_folder(folder, sizeof folder)) return IntroMusic{};
  if (!music_module_path(folder, path, sizeof path)) return IntroMusic{};
  XmSong* song = xm_load(path, music_stdio_files(), nullptr, nullptr);
  if (!song) return IntroMusic{};
  IntroMusic music{xm_output_create(music_wave_device()), song};
  xm_play(music.output, music.song);
  return music;
}

void music_stop(IntroMusic& music) {
  xm_free(music.output, music.song);
  music = IntroMusic{};
}
