// The loading screen painted while the intro builds its content.
#pragma once

#include "platform/platform.h"

// The screen for a progress value from 0 (nothing loaded) to 200 (all loaded).
platform::LoadingScreen loading_screen_layout(int value);

// Right edge of the progress bar: 91 for 0, 748 for 200.
int loading_bar_right(int value);

// ProgressCallback report function: context is the WindowRecord.
void draw_loading_screen(void* context, int value);
