// The intro's music: loads "2.xm" from the executable's folder and plays it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "music/xm_types.h"

// File callbacks over the stdio streams.
void* music_file_open(const char* name);
void music_file_close(void* stream);
uint32_t music_file_read(void* destination, uint32_t size, void* stream);
void music_file_seek(void* stream, int32_t offset, int32_t origin);
int32_t music_file_tell(void* stream);

// Installs the five callbacks above as the player's file layer. Tools that
// read modules use this too, so they load exactly as the intro does.
void music_use_stdio_files();

// The platform's wave output device, as the intro plays through it.
struct XmWaveDevice;
const XmWaveDevice* music_wave_device();

// Longest module path, terminator included, that the glue builds.
#ifdef _WIN32
constexpr std::size_t musicPathCapacity = 260;
#else
constexpr std::size_t musicPathCapacity = 4096;
#endif

// Writes `folder` (with its trailing separator) followed by "2.xm" into
// `path`. False, with `path` left empty, when the folder is empty or the whole
// path and its terminator would not fit in `capacity` bytes.
bool music_module_path(std::string_view folder, char* path, std::size_t capacity);

// Installs the callbacks and the platform's wave device, loads "2.xm" beside
// the executable and starts it. The song, or null when there is no module
// to play: the intro then runs silently. A song whose device could not be
// opened is returned too, loaded and silent. Release it with xm_free.
XmSong* music_start();
