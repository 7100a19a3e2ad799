#include "shell/wave_device.h"

#include "music/xm_wave_device.h"
#include "platform/platform.h"

namespace {

const XmWaveDevice platformWaveDevice = {
    [](int32_t rate) { return platform::wave_open(rate); },
    [](void* device, void* buffer, uint32_t bytes) { return platform::wave_prepare(device, buffer, bytes); },
    [](void* device) { return platform::wave_start(device); },
    [](void* device) { return platform::wave_position(device); },
    [](void* device) { platform::wave_close(device); },
    [] { platform::raise_thread_priority(); },
    [](void (*body)(void*), void* argument) { return platform::thread_start(body, argument); },
    [](void* thread) { platform::thread_join(thread); },
    [](uint32_t milliseconds) { platform::sleep_milliseconds(milliseconds); },
    [](void* device, bool paused) { platform::wave_pause(device, paused); },
    [](void* device, BlockStamp* stamp) {
      int32_t order = 0, row = 0, ms = 0;
      if (!platform::wave_heard(device, &order, &row, &ms)) return false;
      // Each in its low 8 bits, as a stamp holds them.
      *stamp = BlockStamp{static_cast<uint8_t>(order), static_cast<uint8_t>(row), ms};
      return true;
    },
};

}  // namespace

const XmWaveDevice* music_wave_device() { return &platformWaveDevice; }

const char* music_wave_open_error() { return platform::wave_open_error(); }
