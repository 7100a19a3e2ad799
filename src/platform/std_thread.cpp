// Threads for the SDL backend: the standard library's. (The web backend has
// its own, in web/web_thread.cpp.)
#include <chrono>
#include <new>
#include <system_error>
#include <thread>

#include "platform/platform.h"

namespace platform {

void* thread_start(void (*body)(void* argument), void* argument) {
  try {
    return new std::thread(body, argument);
  } catch (const std::system_error&) {
    return nullptr;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void thread_join(void* thread) {
  auto* t = static_cast<std::thread*>(thread);
  if (!t) return;
  t->join();
  delete t;
}

void sleep_milliseconds(std::uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace platform
