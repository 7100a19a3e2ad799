// The platform's wave output device as the player's output sees it.
#pragma once

struct XmWaveDevice;

// The seam's wave and thread functions, for xm_set_wave_device: the intro
// plays through it, and so does xm-play.
const XmWaveDevice* music_wave_device();
