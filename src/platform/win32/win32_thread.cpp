// Threads straight from the kernel: the intro needs one thread and a sleep,
// not a thread library with its exceptions and runtime support.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "platform/platform.h"

namespace platform {
namespace {

DWORD WINAPI run_body(LPVOID body) {
  reinterpret_cast<void (*)()>(body)();
  return 0;
}

}  // namespace

void* thread_start(void (*body)()) {
  return CreateThread(nullptr, 0, run_body, reinterpret_cast<LPVOID>(body), 0, nullptr);
}

void thread_join(void* thread) {
  if (!thread) return;
  WaitForSingleObject(static_cast<HANDLE>(thread), INFINITE);
  CloseHandle(static_cast<HANDLE>(thread));
}

void sleep_milliseconds(std::uint32_t ms) { Sleep(ms); }

}  // namespace platform
