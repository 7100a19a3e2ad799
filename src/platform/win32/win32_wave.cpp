// The wave output device over WinMM: the device itself plays one prepared
// header in an endless loop and reports its position in bytes.
#include <windows.h>
#include <mmsystem.h>

#include <cstdint>
#include <new>

#include "platform/platform.h"

namespace platform {
namespace {

struct WinWave {
  HWAVEOUT handle = nullptr;
  WAVEHDR header{};
  bool prepared = false;
};

}  // namespace

void* wave_open(int rate) {
  WAVEFORMATEX format{};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = 2;
  format.nSamplesPerSec = static_cast<DWORD>(rate);
  format.wBitsPerSample = 16;
  format.nBlockAlign = 4;
  format.nAvgBytesPerSec = static_cast<DWORD>(rate) * 4;
  format.cbSize = 0;
  HWAVEOUT handle = nullptr;
  if (waveOutOpen(&handle, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) return nullptr;
  auto* wave = new (std::nothrow) WinWave;
  if (!wave) {
    waveOutClose(handle);
    return nullptr;
  }
  wave->handle = handle;
  return wave;
}

// Asked afterwards, so that the open itself (the intro's) carries nothing
// more: WinMM's one reason that needs no handle.
const char* wave_open_error() { return waveOutGetNumDevs() == 0 ? "no wave output device is installed" : ""; }

bool wave_prepare(void* device, void* buffer, std::uint32_t bytes) {
  auto* wave = static_cast<WinWave*>(device);
  if (!wave || wave->prepared) return false;
  wave->header = WAVEHDR{};
  wave->header.lpData = static_cast<LPSTR>(buffer);
  wave->header.dwBufferLength = bytes;
  wave->header.dwFlags = WHDR_BEGINLOOP | WHDR_ENDLOOP;
  wave->header.dwLoops = 0xFFFFFFFF;
  wave->prepared = waveOutPrepareHeader(wave->handle, &wave->header, sizeof(WAVEHDR)) == MMSYSERR_NOERROR;
  return wave->prepared;
}

bool wave_start(void* device) {
  auto* wave = static_cast<WinWave*>(device);
  if (!wave || !wave->prepared) return false;
  return waveOutWrite(wave->handle, &wave->header, sizeof(WAVEHDR)) == MMSYSERR_NOERROR;
}

std::uint32_t wave_position(void* device) {
  auto* wave = static_cast<WinWave*>(device);
  if (!wave) return 0;
  MMTIME time{};
  time.wType = TIME_BYTES;
  waveOutGetPosition(wave->handle, &time, sizeof(MMTIME));
  return time.wType == TIME_BYTES ? time.u.cb : 0;
}

void wave_pause(void* device, bool paused) {
  auto* wave = static_cast<WinWave*>(device);
  if (!wave) return;
  if (paused) {
    waveOutPause(wave->handle);
  } else {
    waveOutRestart(wave->handle);
  }
}

void wave_close(void* device) {
  auto* wave = static_cast<WinWave*>(device);
  if (!wave) return;
  waveOutReset(wave->handle);
  if (wave->prepared) waveOutUnprepareHeader(wave->handle, &wave->header, sizeof(WAVEHDR));
  waveOutClose(wave->handle);
  delete wave;
}

// The device plays the looping buffer.
bool wave_heard(void*, std::int32_t*, std::int32_t*, std::int32_t*) { return false; }

void raise_thread_priority() { SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL); }

}  // namespace platform
