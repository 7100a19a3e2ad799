// The wave output device over SDL audio: SDL pulls sound through a callback,
// so the callback plays the looping buffer itself, from a cursor that wraps
// at the buffer's end, and counts the bytes it has handed over. The position
// the output thread reads is what has been heard: the bytes handed over,
// less what SDL still holds of them, advanced by the time since SDL's last
// request, so that it names the block being heard as a device that loops on
// its own does.
#include <SDL.h>
#if defined(__linux__)
#include <dlfcn.h>
#endif

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <new>

#include "platform/platform.h"
#include "sdl_rules.h"

namespace platform {
namespace {

struct SdlWave {
  SDL_AudioDeviceID id = 0;
  const std::uint8_t* buffer = nullptr;
  std::uint32_t bytes = 0;
  std::uint32_t cursor = 0;  // audio thread only
  std::uint32_t handed = 0;  // audio thread only: bytes handed to SDL since wave_start
  // Bytes SDL holds right after each request: the request itself (SDL 2
  // tells nothing of the latency beyond it).
  std::uint32_t queued = 0;
  std::uint32_t bytesPerSecond = 0;
  // The latest request: bytes handed over up to it (high half) and the
  // microsecond clock when it came (low half), in one word so that the two
  // are always read together. Both sides update it with read-modify-write
  // operations, which also orders the output thread's refills of the buffer
  // before the callback's later reads of them.
  std::atomic<std::uint64_t> handOver{0};
  std::uint32_t heard = 0;  // output thread only: the last position answered
  // Set once the buffer is filled and playing may begin.
  std::atomic<bool> started{false};
};

// A free-running microsecond clock; differences stay right across its wrap.
std::uint32_t clock_microseconds() {
  const Uint64 count = SDL_GetPerformanceCounter();
  const Uint64 frequency = SDL_GetPerformanceFrequency();
  return static_cast<std::uint32_t>(count / frequency * 1000000 + count % frequency * 1000000 / frequency);
}

void SDLCALL play_loop(void* userdata, Uint8* stream, int length) {
  auto* wave = static_cast<SdlWave*>(userdata);
  if (!wave->started.load(std::memory_order_acquire) || wave->bytes == 0) {
    std::memset(stream, 0, static_cast<std::size_t>(length));
    return;
  }
  auto left = static_cast<std::uint32_t>(length);
  while (left > 0) {
    const std::uint32_t run = std::min(left, wave->bytes - wave->cursor);
    std::memcpy(stream, wave->buffer + wave->cursor, run);
    stream += run;
    left -= run;
    wave->cursor += run;
    if (wave->cursor == wave->bytes) wave->cursor = 0;
  }
  wave->handed += static_cast<std::uint32_t>(length);
  const std::uint64_t request = std::uint64_t{wave->handed} << 32 | clock_microseconds();
  wave->handOver.exchange(request, std::memory_order_acq_rel);
}

// ALSA prints lines of its own on standard error while SDL looks for a
// device (eight of them where there is no sound card); SDL's reason says the
// same in one. Its printing is off while a device opens, on again after.
class QuietAlsa {
 public:
  QuietAlsa() {
#if defined(__linux__)
    library_ = dlopen("libasound.so.2", RTLD_LAZY | RTLD_LOCAL);
    if (library_) setHandler_ = reinterpret_cast<SetHandler>(dlsym(library_, "snd_lib_error_set_handler"));
    if (setHandler_) setHandler_(silent);
#endif
  }
  ~QuietAlsa() {
#if defined(__linux__)
    if (setHandler_) setHandler_(nullptr);  // ALSA's own again
    if (library_) dlclose(library_);
#endif
  }
  QuietAlsa(const QuietAlsa&) = delete;
  QuietAlsa& operator=(const QuietAlsa&) = delete;

 private:
  using Handler = void (*)(const char* file, int line, const char* function, int error, const char* format, ...);
  using SetHandler = int (*)(Handler);
  static void silent(const char*, int, const char*, int, const char*, ...) {}
  void* library_ = nullptr;
  SetHandler setHandler_ = nullptr;
};

// SDL's reason for the last failed open, kept before SDL_QuitSubSystem can
// replace it.
char openError[256] = "";

void* open_failed() {
  SDL_strlcpy(openError, SDL_GetError(), sizeof openError);
  return nullptr;
}

}  // namespace

void* wave_open(int rate) {
  openError[0] = '\0';
  const QuietAlsa quiet;
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return open_failed();
  auto* wave = new (std::nothrow) SdlWave;
  if (!wave) {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    SDL_strlcpy(openError, "out of memory", sizeof openError);
    return nullptr;
  }
  SDL_AudioSpec want{};
  want.freq = rate;
  want.format = AUDIO_S16SYS;
  want.channels = 2;
  want.samples = 1024;
  want.callback = play_loop;
  want.userdata = wave;
  SDL_AudioSpec have{};
  // No changes allowed: SDL converts to whatever the hardware wants, so the
  // callback always deals in the buffer's own format.
  wave->id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  if (wave->id == 0) {
    open_failed();
    delete wave;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return nullptr;
  }
  wave->queued = have.size;
  wave->bytesPerSecond = static_cast<std::uint32_t>(rate) * 4;
  return wave;
}

const char* wave_open_error() { return openError; }

bool wave_prepare(void* device, void* buffer, std::uint32_t bytes) {
  auto* wave = static_cast<SdlWave*>(device);
  // Whole frames only, so the cursor never splits one.
  bytes -= bytes % 4;
  if (!wave || !buffer || bytes == 0) return false;
  wave->buffer = static_cast<const std::uint8_t*>(buffer);
  wave->bytes = bytes;
  wave->cursor = 0;
  return true;
}

bool wave_start(void* device) {
  auto* wave = static_cast<SdlWave*>(device);
  if (!wave || wave->bytes == 0) return false;
  wave->started.store(true, std::memory_order_release);
  SDL_PauseAudioDevice(wave->id, 0);
  return true;
}

std::uint32_t wave_position(void* device) {
  auto* wave = static_cast<SdlWave*>(device);
  if (!wave) return 0;
  // A read-modify-write rather than a load: it publishes the blocks this
  // thread refilled since its last poll to the callback's next pass.
  const std::uint64_t request = wave->handOver.fetch_add(0, std::memory_order_acq_rel);
  const auto handed = static_cast<std::uint32_t>(request >> 32);
  const std::uint32_t microseconds = clock_microseconds() - static_cast<std::uint32_t>(request);
  const std::uint64_t since = std::uint64_t{microseconds} * wave->bytesPerSecond / 1000000;
  const auto playedSince = static_cast<std::uint32_t>(std::min<std::uint64_t>(since, UINT32_MAX) & ~3u);
  wave->heard = sdl_rules::heard_position(wave->heard, handed, wave->queued, playedSince);
  return wave->heard;
}

void wave_pause(void* device, bool paused) {
  auto* wave = static_cast<SdlWave*>(device);
  if (!wave || !wave->started.load(std::memory_order_acquire)) return;
  SDL_PauseAudioDevice(wave->id, paused ? 1 : 0);
}

void wave_close(void* device) {
  auto* wave = static_cast<SdlWave*>(device);
  if (!wave) return;
  SDL_CloseAudioDevice(wave->id);  // waits for the callback to finish
  delete wave;
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

// SDL plays the looping buffer.
bool wave_heard(void*, std::int32_t*, std::int32_t*, std::int32_t*) { return false; }

void raise_thread_priority() { SDL_SetThreadPriority(SDL_THREAD_PRIORITY_TIME_CRITICAL); }

}  // namespace platform
