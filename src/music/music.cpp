#include "music/music.h"

#include <cstring>

#include "music/xm_file.h"
#include "music/xm_loader.h"
#include "music/xm_output.h"
#include "platform/platform.h"

namespace {

const XmWaveDevice platformWaveDevice = {
    [](int32_t rate) { return platform::wave_open(rate); },
    [](void* device, void* buffer, uint32_t bytes) { return platform::wave_prepare(device, buffer, bytes); },
    [](void* device) { return platform::wave_start(device); },
    [](void* device) { return platform::wave_position(device); },
    [](void* device) { platform::wave_close(device); },
    [] { platform::raise_thread_priority(); },
    [](void (*body)()) { return platform::thread_start(body); },
    [](void* thread) { platform::thread_join(thread); },
    [](uint32_t milliseconds) { platform::sleep_milliseconds(milliseconds); },
};

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

XmSong* music_start() {
  music_use_stdio_files();
  xm_set_wave_device(&platformWaveDevice);
  char folder[musicPathCapacity];
  char path[musicPathCapacity];
  if (!platform::executable_folder(folder, sizeof folder)) return nullptr;
  if (!music_module_path(folder, path, sizeof path)) return nullptr;
  XmSong* song = xm_load(path, nullptr);
  xm_play(song);
  return song;
}
