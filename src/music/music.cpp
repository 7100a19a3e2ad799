#include "music/music.h"

#include <cstdio>
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
};

constexpr char moduleName[] = "2.xm";

}  // namespace

void* music_file_open(const char* name) { return std::fopen(name, "rb"); }

void music_file_close(void* stream) { std::fclose(static_cast<std::FILE*>(stream)); }

uint32_t music_file_read(void* destination, uint32_t size, void* stream) {
  return static_cast<uint32_t>(std::fread(destination, 1, size, static_cast<std::FILE*>(stream)));
}

void music_file_seek(void* stream, int32_t offset, int32_t origin) {
  // The origin travels as a signed byte, as the loader's callers pass it.
  std::fseek(static_cast<std::FILE*>(stream), offset, static_cast<int>(static_cast<int8_t>(origin)));
}

int32_t music_file_tell(void* stream) { return static_cast<int32_t>(std::ftell(static_cast<std::FILE*>(stream))); }

bool music_module_path(const std::string& folder, char* path, std::size_t capacity) {
  if (capacity > 0) path[0] = '\0';
  const std::size_t needed = folder.size() + sizeof(moduleName);  // sizeof counts the terminator
  if (folder.empty() || needed > capacity) return false;
  std::memcpy(path, folder.data(), folder.size());
  std::memcpy(path + folder.size(), moduleName, sizeof(moduleName));
  return true;
}

XmSong* music_start() {
  xm_set_file_callbacks(music_file_open, music_file_close, music_file_read, music_file_seek, music_file_tell);
  xm_set_wave_device(&platformWaveDevice);
  char path[musicPathCapacity];
  if (!music_module_path(platform::executable_folder(), path, sizeof path)) return nullptr;
  XmSong* song = xm_load(path, nullptr);
  xm_play(song);
  return song;
}
