#include "fake_platform.h"

#include <cstdio>

#include "music/xm_wave_device.h"
#include "platform/platform.h"

FakePlatform& FakePlatform::get() {
  static FakePlatform fake;
  return fake;
}

void FakePlatform::reset() { *this = FakePlatform{}; }

namespace {
FakePlatform& fake() { return FakePlatform::get(); }
int dummyAddress;
}  // namespace

namespace platform {

bool ask_fullscreen() {
  fake().calls.push_back("ask_fullscreen");
  return fake().answerYes;
}

void show_failure_message(const char* text) {
  fake().calls.push_back("show_failure_message");
  fake().failureText = text;
}

void* module_instance() { return &dummyAddress; }

bool executable_folder(char* folder, std::size_t capacity) {
  const int written = std::snprintf(folder, capacity, "%s", fake().executableFolder.c_str());
  return written > 0 && written < static_cast<int>(capacity);
}

int open_window(WindowRecord& record) {
  fake().calls.push_back(record.fullScreen ? "open_window fullscreen" : "open_window windowed");
  if (!fake().openWindowResult) return 0;
  record.window = &dummyAddress;
  record.deviceContext = &dummyAddress;
  record.renderContext = &dummyAddress;
  return 1;
}

void close_window(WindowRecord&) { fake().calls.push_back("close_window"); }

bool pump_one_message(bool* quit) {
  auto& f = fake();
  if (f.framesBeforeQuit > 0) {
    --f.framesBeforeQuit;
    return false;
  }
  if (f.messages.empty()) {
    f.calls.push_back("pump quit");
    *quit = true;
    return true;
  }
  const bool plain = f.messages.front();
  f.messages.pop_front();
  f.calls.push_back(plain ? "pump message" : "pump quit");
  if (!plain) *quit = true;
  return true;
}

void swap_buffers(WindowRecord&) { fake().calls.push_back("swap_buffers"); }

void set_caption(WindowRecord&, const char* text) { fake().captions.emplace_back(text); }

void paint_loading_screen(WindowRecord&, const LoadingScreen& screen) {
  fake().calls.push_back("paint_loading_screen");
  fake().loadingBarRights.push_back(screen.bar.right);
}

std::uint32_t milliseconds() {
  auto& f = fake();
  f.clock += f.clockStep;
  return f.clock;
}

void desktop_size(int* width, int* height) {
  *width = fake().desktopWidth;
  *height = fake().desktopHeight;
}

void* gl_proc_address(const char* name) {
  fake().calls.push_back(std::string("gl ") + name);
  return fake().missingGlNames.count(name) ? nullptr : &dummyAddress;
}

}  // namespace platform

// The test's sound device, or none: then the intro must still run, silently.
namespace platform {
void* wave_open(int rate) { return fake().wave ? fake().wave->open(rate) : nullptr; }
const char* wave_open_error() { return ""; }
bool wave_prepare(void* d, void* b, std::uint32_t n) { return fake().wave && fake().wave->prepare(d, b, n); }
bool wave_start(void* d) { return fake().wave && fake().wave->start(d); }
std::uint32_t wave_position(void* d) { return fake().wave ? fake().wave->position(d) : 0; }
void wave_close(void* d) {
  if (fake().wave) fake().wave->close(d);
}
void wave_pause(void*, bool) {}
bool wave_heard(void*, std::int32_t*, std::int32_t*, std::int32_t*) { return false; }
void raise_thread_priority() {}
void* thread_start(void (*body)(void*), void* argument) {
  return fake().wave ? fake().wave->startThread(body, argument) : nullptr;
}
void thread_join(void* t) {
  if (fake().wave) fake().wave->joinThread(t);
}
void sleep_milliseconds(std::uint32_t ms) {
  if (fake().wave) fake().wave->sleep(ms);
}
}  // namespace platform
