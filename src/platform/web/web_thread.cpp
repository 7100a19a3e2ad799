// Threads in the page. A page served without cross-origin isolation (any
// plain static host) gets no shared memory and so no threads. None is
// needed: the music plays in the audio worklet (web_wave.cpp), and the
// output asks for no thread of a device that plays the song itself.
#include <cstdint>

#include "platform/platform.h"

namespace platform {

void* thread_start(void (*)(void*), void*) { return nullptr; }

void thread_join(void*) {}

// The page's one thread never waits for another.
void sleep_milliseconds(std::uint32_t) {}

}  // namespace platform
