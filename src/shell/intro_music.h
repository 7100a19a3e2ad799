// The intro's music: loads "2.xm" from the executable's folder and plays it
// through the platform's wave device.
#pragma once

#include <cstddef>
#include <string_view>

struct XmOutput;
struct XmSong;

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

// The song and the output it plays in: the intro's one player context.
struct IntroMusic {
  XmOutput* output;  // null when there is no module to play
  XmSong* song;
};

// Loads "2.xm" beside the executable through the stdio file callbacks and
// starts it on a new output over the platform's wave device. Both null
// when there is no module to play: the intro then runs silently. A song
// whose device could not be opened is returned too, loaded and silent.
// Release it with music_stop.
IntroMusic music_start();
// Stops the output and frees the song and the output; nothing to do for
// the music of a missing module.
void music_stop(IntroMusic& music);
