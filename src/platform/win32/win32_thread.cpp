// Threads straight from the kernel: the intro needs one thread and a sleep,
// not a thread library with its exceptions and runtime support.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "platform/platform.h"

namespace platform {
namespace {

// The body and its argument, until the new thread has taken them.
struct ThreadStart {
  void (*body)(void* argument);
  void* argument;
};

DWORD WINAPI run_body(LPVOID start) {
  const ThreadStart taken = *static_cast<ThreadStart*>(start);
  HeapFree(GetProcessHeap(), 0, start);
  taken.body(taken.argument);
  return 0;
}

}  // namespace

void* thread_start(void (*body)(void* argument), void* argument) {
  auto* start = static_cast<ThreadStart*>(HeapAlloc(GetProcessHeap(), 0, sizeof(ThreadStart)));
  if (!start) return nullptr;
  start->body = body;
  start->argument = argument;
  HANDLE thread = CreateThread(nullptr, 0, run_body, start, 0, nullptr);
  if (!thread) HeapFree(GetProcessHeap(), 0, start);
  return thread;
}

void thread_join(void* thread) {
  if (!thread) return;
  WaitForSingleObject(static_cast<HANDLE>(thread), INFINITE);
  CloseHandle(static_cast<HANDLE>(thread));
}

void sleep_milliseconds(std::uint32_t ms) { Sleep(ms); }

}  // namespace platform
