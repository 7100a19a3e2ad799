// The platform's wave output device as the player's output thread drives it.
#pragma once

#include "music/xm_wave_device.h"

// The seam's wave and thread functions: the intro's output plays through
// them, and so does xm-play.
const XmWaveDevice* music_wave_device();

// Why the device would not open, in the sound system's words (may be empty).
const char* music_wave_open_error();
