// Threads in the page. A page served without cross-origin isolation (any
// plain static host) gets no shared memory and so no worker threads; the one
// thread the core starts, the music's output loop, runs instead as a fiber on
// the page's own thread. It runs whenever the core gives the browser control
// (each frame, the loading screen) until its next sleep, and whenever the
// page's own thread sleeps: that thread only ever sleeps while waiting for it.
#include <emscripten/fiber.h>

#include <cstdint>
#include <new>

#include "platform/platform.h"
#include "platform/web/web_thread.h"

namespace platform {
namespace {

// The loop mixes into the output's own buffers: its stack holds only a few
// frames of calls. Asyncify saves the calls above a sleep when it swaps.
constexpr std::size_t kThreadStack = 256 * 1024;
constexpr std::size_t kSavedCalls = 16 * 1024;
// The page's side saves the core's whole call chain at each swap.
constexpr std::size_t kPageSavedCalls = 64 * 1024;

struct WebThread {
  emscripten_fiber_t fiber;
  void (*body)(void* argument);
  void* argument;
  bool finished;
  alignas(16) unsigned char stack[kThreadStack];
  alignas(16) unsigned char savedCalls[kSavedCalls];
};

emscripten_fiber_t pageFiber;
alignas(16) unsigned char pageSavedCalls[kPageSavedCalls];
WebThread* thread = nullptr;  // at most one
bool inThread = false;

void thread_entry(void* argument) {
  auto* t = static_cast<WebThread*>(argument);
  t->body(t->argument);
  t->finished = true;
  // A fiber must never return: go back for good.
  emscripten_fiber_swap(&t->fiber, &pageFiber);
}

}  // namespace

void* thread_start(void (*body)(void* argument), void* argument) {
  if (thread || inThread) return nullptr;
  auto* t = new (std::nothrow) WebThread;
  if (!t) return nullptr;
  t->body = body;
  t->argument = argument;
  t->finished = false;
  emscripten_fiber_init(&t->fiber, thread_entry, t, t->stack, sizeof t->stack, t->savedCalls,
                        sizeof t->savedCalls);
  emscripten_fiber_init_from_current_context(&pageFiber, pageSavedCalls, sizeof pageSavedCalls);
  thread = t;
  return t;
}

void thread_join(void* handle) {
  auto* t = static_cast<WebThread*>(handle);
  if (!t) return;
  while (!t->finished) web_run_threads();
  if (t == thread) thread = nullptr;
  delete t;
}

void sleep_milliseconds(std::uint32_t) {
  if (inThread) {
    emscripten_fiber_swap(&thread->fiber, &pageFiber);
  } else {
    // The page's thread waits only for the output loop: let it run.
    web_run_threads();
  }
}

}  // namespace platform

void web_run_threads() {
  using namespace platform;
  if (!thread || thread->finished || inThread) return;
  inThread = true;
  emscripten_fiber_swap(&pageFiber, &thread->fiber);
  inThread = false;
}
