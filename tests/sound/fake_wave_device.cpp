#include "fake_wave_device.h"

#include <chrono>
#include <thread>

namespace soundtest {
namespace {

FakeWave fake;
int handle;  // its address is the device handle

void* open_device(int32_t rate) {
  if (rate != 44100 || fake.failOpen) return nullptr;
  fake.opens.fetch_add(1);
  fake.closed.store(false);
  return &handle;
}

bool prepare_device(void* device, void* buffer, uint32_t bytes) {
  if (device != &handle) return false;
  fake.buffer = buffer;
  fake.bytes = bytes;
  return true;
}

bool start_device(void* device) {
  if (device != &handle) return false;
  fake.starts.fetch_add(1);
  fake.playing.store(true);
  return true;
}

uint32_t device_position(void* device) {
  if (device != &handle) return 0;
  if (fake.closed.load()) fake.readsAfterClose.fetch_add(1);
  fake.positionReads.fetch_add(1);
  return fake.position.load();
}

void close_device(void* device) {
  if (device != &handle) return;
  fake.playing.store(false);
  fake.closed.store(true);
  fake.closes.fetch_add(1);
}

bool heard_device(void* device, BlockStamp* stamp) {
  if (device != &handle || !fake.renders) return false;
  *stamp = fake.heard;
  return true;
}

void raise_priority() { fake.prioritiesRaised.fetch_add(1); }

void* start_thread(void (*body)(void*), void* argument) {
  return fake.failThread ? nullptr : new std::thread(body, argument);
}

void join_thread(void* thread) {
  auto* t = static_cast<std::thread*>(thread);
  t->join();
  delete t;
}

void sleep_for(uint32_t milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

const XmWaveDevice table = {open_device, prepare_device, start_device, device_position,
                            close_device, raise_priority, start_thread, join_thread, sleep_for,
                            nullptr, heard_device};

}  // namespace

FakeWave& fake_wave() { return fake; }

void reset_fake_wave() {
  fake.failOpen = false;
  fake.failThread = false;
  fake.position.store(0);
  fake.opens.store(0);
  fake.closes.store(0);
  fake.starts.store(0);
  fake.positionReads.store(0);
  fake.prioritiesRaised.store(0);
  fake.buffer = nullptr;
  fake.bytes = 0;
  fake.playing.store(false);
  fake.readsAfterClose.store(0);
  fake.closed.store(false);
  fake.renders = false;
  fake.heard = BlockStamp{};
}

const XmWaveDevice* fake_wave_device() { return &table; }

}  // namespace soundtest
