// What the module tools say about a module: its title and a one-line summary
// (title, channels, patterns, instruments, length, frequency table).
#pragma once

#include <cstdint>
#include <string>

#include "music/xm_length.h"
#include "music/xm_types.h"

// Loads a module. On failure says why on standard error, in the tools'
// one-line form, and returns null; a directory or an empty file is named as
// such, not as a damaged module.
XmSong* load_module(const std::string& path);

// The module's 20-character title as printable text, trailing blanks cut;
// empty when the file cannot be read.
std::string module_title(const char* path);

// m:ss of a frame count at mixRate, rounded to the nearest second.
std::string format_duration(int64_t frames);

// "TITLE", 8 channels, 24 patterns, 16 instruments, 3:05, linear
// (a song that never comes back shows its cap and "(no end)").
std::string module_summary(const std::string& title, const XmSong* song, const XmSongLength& length);
