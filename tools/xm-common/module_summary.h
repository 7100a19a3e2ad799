// What the module tools say about a module: its title and a one-line summary
// (title, channels, patterns, instruments, length, frequency table).
#pragma once

#include <cstdint>
#include <string>

#include "vantor_xm.h"

// A number defined in vantor_xm.h as text, for usage lines.
#define VXM_TEXT(number) VXM_TEXT_OF(number)
#define VXM_TEXT_OF(number) #number

// Loads a module to play at `rate` frames a second, opening and reading
// the file once (a pipe works too). On failure says why on standard error,
// in the tools' one-line form, and returns null; a directory or an empty
// file is named as such, not as a damaged module. A module that loads
// incomplete (a file cut short) is named on standard error with what it
// lacks.
vxm_song* load_module(const std::string& path, int rate = VXM_RATE_DEFAULT);

// The same without a word on standard error: null with the reason in
// *reason ("cannot open: ...", "is a directory", "is empty", or the
// library's), for a caller that words the failure itself.
vxm_song* read_module(const std::string& path, int rate, std::string* reason);

// The module's title as printable text: the library's UTF-8, made safe for
// a terminal.
std::string module_title(const vxm_song* song);

// m:ss of a frame count at `rate`, rounded to the nearest second.
std::string format_duration(int64_t frames, int rate = VXM_RATE_DEFAULT);

// "TITLE", 8 channels, 24 patterns, 16 instruments, 3:05, linear
// (a song that never comes back shows its cap and "(no end)").
std::string module_summary(const vxm_song* song, const vxm_length& length, int rate = VXM_RATE_DEFAULT);
